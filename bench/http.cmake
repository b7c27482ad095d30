# Whole requests through the HTTP client component against a loopback server, beside the curl
# command-line tool fetching the same URLs (native only: both run as child processes, so that
# each one's time and peak memory are its own).
if(NOT TAKTAK_WINDOWS)
  add_executable(bench_http IEHTTP3Bench.cpp)
  target_link_libraries(bench_http PRIVATE http net_test_support)
endif()
