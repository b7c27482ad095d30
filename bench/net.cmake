# Throughput of the platform's internet library against the loopback server, beside the curl
# command-line tool fetching the same URL (native only: the tool runs as a child process).
if(NOT TAKTAK_WINDOWS)
  add_executable(bench_internet InternetLibraryBench.cpp)
  target_link_libraries(bench_internet PRIVATE net_test_support os benchmark::benchmark)
endif()
