# The whole updater process, started as a child, against a loopback server (native only).
if(NOT TAKTAK_WINDOWS AND BUILD_TESTING)
  add_executable(bench_startup ${CMAKE_CURRENT_LIST_DIR}/StartupBench.cpp
                               ${PROJECT_SOURCE_DIR}/tests/support/ChildProcess.cpp)
  target_link_libraries(bench_startup PRIVATE net_test_support benchmark::benchmark)
  add_dependencies(bench_startup Update)
endif()
