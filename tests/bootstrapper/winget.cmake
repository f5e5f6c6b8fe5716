# The winget manifests against winget's published schema (1.10.0, MIT, kept in
# support/winget-schemas): the deployment tests write samples, then Debian's
# python3-jsonschema and python3-yaml read them on the Linux side.
set(QZ_WINGET_SAMPLES ${CMAKE_BINARY_DIR}/winget-samples)
add_test(NAME winget.samples_written
    COMMAND qz-tests-bootstrapper "--gtest_filter=WingetManifests.SamplesForTheSchemaCheck")
set_tests_properties(winget.samples_written PROPERTIES
    ENVIRONMENT "QZ_WINGET_SAMPLES=${QZ_WINGET_SAMPLES}"
    FIXTURES_SETUP winget-samples
    TIMEOUT 300)
add_test(NAME winget.manifests_pass_the_schema
    COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/support/validate-winget.py ${QZ_WINGET_SAMPLES}
            ${CMAKE_CURRENT_SOURCE_DIR}/support/winget-schemas)
set_tests_properties(winget.manifests_pass_the_schema PROPERTIES FIXTURES_REQUIRED winget-samples)
