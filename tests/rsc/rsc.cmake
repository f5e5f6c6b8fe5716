# A module built by qz-rsc serves a German user its German texts: the run
# tests go once more as a German user (a Wine process takes the user's
# language from LC_ALL when it starts).
add_test(NAME rsc.user_locale.de_DE COMMAND qz-tests-rsc "--gtest_filter=RscModuleRun.*")
set_tests_properties(rsc.user_locale.de_DE PROPERTIES ENVIRONMENT "LC_ALL=de_DE.UTF-8" TIMEOUT 300)
