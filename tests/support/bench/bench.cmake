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

# The same with qz-setup.exe's system imports, with and without its static
# C++ runtime's streams started: their difference is the runtime's start, for
# the cycle's breakdown.
foreach(variant runtime imports)
    add_executable(qz-bench-empty-${variant} WIN32 ${CMAKE_CURRENT_LIST_DIR}/empty_runtime_program.cpp)
    target_compile_options(qz-bench-empty-${variant} PRIVATE ${QZ_WARNINGS})
    target_link_options(qz-bench-empty-${variant} PRIVATE -municode -s -Wl,--gc-sections)
    target_link_libraries(qz-bench-empty-${variant} PRIVATE ${QZ_SYSTEM_LIBS})
endforeach()
target_compile_definitions(qz-bench-empty-imports PRIVATE QZ_BENCH_IMPORTS_ONLY)

# For the size analysis: the runtime without the standard streams.
add_executable(qz-bench-no-streams WIN32 ${CMAKE_CURRENT_LIST_DIR}/no_streams_program.cpp)
target_compile_options(qz-bench-no-streams PRIVATE ${QZ_WARNINGS})
target_link_options(qz-bench-no-streams PRIVATE -municode -s -Wl,--gc-sections)

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

set(QZ_BENCH_TARGETS qz-bench-empty qz-bench-empty-user32 qz-bench-empty-runtime qz-bench-empty-imports
    qz-bench-no-streams qz-bench-locate-floor qz-bench-transform-floor qz-bench-log-floor qz-bench-run)
