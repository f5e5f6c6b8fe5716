# The user's language is fixed when a Wine process starts (from LC_ALL) and is
# not handed on to the processes it starts, so the tests that depend on it run
# once more per locale; each run takes the cases of its own language.
set(QZ_USER_LANGUAGE_TESTS
    "LanguageChoiceTest.UserLanguageDecidesTheChoices:UserLangCodes.*:LanguageRun.FrenchUser*")
foreach(locale de_DE fr_FR ja_JP zh_CN zh_TW en_US it_IT ru_RU)
    add_test(NAME language.user_locale.${locale}
        COMMAND qz-tests-language "--gtest_filter=${QZ_USER_LANGUAGE_TESTS}")
    set_tests_properties(language.user_locale.${locale} PROPERTIES
        ENVIRONMENT "LC_ALL=${locale}.UTF-8"
        TIMEOUT 600)
endforeach()
