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

# The same, with qz-setup.exe's static C++ runtime (its wide streams started)
# and its system imports: the runtime's start, for the cycle's breakdown.
add_executable(qz-bench-empty-runtime WIN32 ${CMAKE_CURRENT_LIST_DIR}/empty_runtime_program.cpp)
target_compile_options(qz-bench-empty-runtime PRIVATE ${QZ_WARNINGS})
target_link_options(qz-bench-empty-runtime PRIVATE -municode -s -Wl,--gc-sections)
target_link_libraries(qz-bench-empty-runtime PRIVATE ${QZ_SYSTEM_LIBS})

# Installer-call floors: only msi.dll and the runtime.
foreach(floor locate transform)
    add_executable(qz-bench-${floor}-floor ${CMAKE_CURRENT_LIST_DIR}/${floor}_floor.cpp)
    target_compile_options(qz-bench-${floor}-floor PRIVATE ${QZ_WARNINGS})
    target_link_options(qz-bench-${floor}-floor PRIVATE -municode)
    target_link_libraries(qz-bench-${floor}-floor PRIVATE msi)
endforeach()

# One bootstrap-log write, as the log makes it.
add_executable(qz-bench-log-floor ${CMAKE_CURRENT_LIST_DIR}/log_floor.cpp)
target_compile_options(qz-bench-log-floor PRIVATE ${QZ_WARNINGS})
target_include_directories(qz-bench-log-floor PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_options(qz-bench-log-floor PRIVATE -municode)

# Times one run on the Windows side (exit code, peak working set, product registration).
add_executable(qz-bench-run ${CMAKE_CURRENT_LIST_DIR}/bench_run.cpp)
target_compile_options(qz-bench-run PRIVATE ${QZ_WARNINGS})
target_link_options(qz-bench-run PRIVATE -municode)
target_link_libraries(qz-bench-run PRIVATE qztestsupport psapi)

set(QZ_BENCH_TARGETS qz-bench-empty qz-bench-empty-user32 qz-bench-empty-runtime qz-bench-locate-floor
    qz-bench-transform-floor qz-bench-log-floor qz-bench-run)
