# The benchmark's own programs (scripts/bench.sh): the floors it measures the
# bootstrapper against and the timing runner. Built with the same toolchain
# and options as qz-setup.exe.

# The empty Windows program: a GUI program that returns at once.
add_executable(qz-bench-empty WIN32 ${CMAKE_CURRENT_LIST_DIR}/empty_program.cpp)
target_compile_options(qz-bench-empty PRIVATE ${QZ_WARNINGS})
target_link_options(qz-bench-empty PRIVATE -municode -s -Wl,--gc-sections)

# The same, importing user32.dll: what the fixed cost is made of under Wine.
add_executable(qz-bench-empty-user32 WIN32 ${CMAKE_CURRENT_LIST_DIR}/empty_user32_program.cpp)
target_compile_options(qz-bench-empty-user32 PRIVATE ${QZ_WARNINGS})
target_link_options(qz-bench-empty-user32 PRIVATE -municode -s -Wl,--gc-sections)
target_link_libraries(qz-bench-empty-user32 PRIVATE user32)

# Installer-call floors: only msi.dll and the runtime.
foreach(floor locate transform)
    add_executable(qz-bench-${floor}-floor ${CMAKE_CURRENT_LIST_DIR}/${floor}_floor.cpp)
    target_compile_options(qz-bench-${floor}-floor PRIVATE ${QZ_WARNINGS})
    target_link_options(qz-bench-${floor}-floor PRIVATE -municode)
    target_link_libraries(qz-bench-${floor}-floor PRIVATE msi)
endforeach()

# Times one run on the Windows side (exit code, peak working set, product registration).
add_executable(qz-bench-run ${CMAKE_CURRENT_LIST_DIR}/bench_run.cpp)
target_compile_options(qz-bench-run PRIVATE ${QZ_WARNINGS})
target_link_options(qz-bench-run PRIVATE -municode)
target_link_libraries(qz-bench-run PRIVATE qztestsupport psapi)

set(QZ_BENCH_TARGETS qz-bench-empty qz-bench-empty-user32 qz-bench-locate-floor qz-bench-transform-floor qz-bench-run)
