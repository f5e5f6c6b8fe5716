# The help file and the language dialog follow the user's language, which a Wine process takes from
# LC_ALL when it starts: these tests run once more as a French user.
add_test(NAME planning.user_locale.fr_FR
    COMMAND qz-tests-planning "--gtest_filter=HelpFileTest.FrenchUser*:FrenchUserRun.*")
set_tests_properties(planning.user_locale.fr_FR PROPERTIES
    ENVIRONMENT "LC_ALL=fr_FR.UTF-8"
    TIMEOUT 300)
