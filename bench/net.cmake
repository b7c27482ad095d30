# Throughput of the platform's internet library against the loopback server, beside the curl
# command-line tool fetching the same URL (native only: the tool runs as a child process).
if(NOT TAKTAK_WINDOWS)
  add_executable(internet_library_bench InternetLibraryBench.cpp)
  target_link_libraries(internet_library_bench PRIVATE net_test_support os benchmark::benchmark)
endif()
