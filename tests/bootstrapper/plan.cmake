# The plan writes down the language dialog's offer for the user's language,
# which a Wine process takes from LC_ALL when it starts: the plan's runs and
# its proof run once more as a French user.
add_test(NAME plan.user_locale.fr_FR
    COMMAND qz-tests-bootstrapper "--gtest_filter=PlanProof.*:PlanRun.InstallsNothing*")
set_tests_properties(plan.user_locale.fr_FR PROPERTIES
    ENVIRONMENT "LC_ALL=fr_FR.UTF-8"
    TIMEOUT 600)
