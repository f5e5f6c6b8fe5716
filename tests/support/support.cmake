# The custom-action DLL that test packages carry in their Binary table: it
# reports an installer error and fails the installation.
add_library(qz-failing-action SHARED ${CMAKE_CURRENT_LIST_DIR}/customaction/failing_action.cpp)
set_target_properties(qz-failing-action PROPERTIES PREFIX "" OUTPUT_NAME "qz-failing-action")
target_compile_options(qz-failing-action PRIVATE ${QZ_WARNINGS})
# Plain export names (no @4 decoration), as the CustomAction table names them.
target_link_options(qz-failing-action PRIVATE -Wl,--kill-at -s)
target_link_libraries(qz-failing-action PRIVATE msi)
list(APPEND QZ_SUPPORT_EXTRA_TARGETS qz-failing-action)

# A DLL that tests plant beside the program under a system DLL's name; it
# leaves a marker file when something loads it.
add_library(qz-planted SHARED ${CMAKE_CURRENT_LIST_DIR}/planted/planted_dll.c)
set_target_properties(qz-planted PROPERTIES PREFIX "" OUTPUT_NAME "qz-planted")
target_compile_options(qz-planted PRIVATE ${QZ_WARNINGS})
target_link_options(qz-planted PRIVATE -s)
list(APPEND QZ_SUPPORT_EXTRA_TARGETS qz-planted)
