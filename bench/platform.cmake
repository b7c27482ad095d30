# Main-thread calls served by the real message loop, and the CPU time of that loop while idle
# (Linux: the per-thread CPU clock and usage counters).
if(NOT TAKTAK_WINDOWS)
  add_executable(bench_platform ${CMAKE_CURRENT_LIST_DIR}/PlatformBench.cpp)
  target_link_libraries(bench_platform PRIVATE app_platform benchmark::benchmark)
endif()
