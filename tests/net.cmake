# The network test support (loopback HTTP server, fake internet library) and the tests of the
# platform's internet library against the loopback server.
find_package(ZLIB REQUIRED)
add_library(net_test_support STATIC support/LoopbackServer.cpp support/FakeInternet.cpp)
target_include_directories(net_test_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(net_test_support PUBLIC os ZLIB::ZLIB)
if(TAKTAK_WINDOWS)
  target_link_libraries(net_test_support PUBLIC ws2_32)
else()
  find_package(Threads REQUIRED)
  target_link_libraries(net_test_support PUBLIC Threads::Threads)
endif()

taktak_test(internet_library_tests
  SOURCES InternetLibraryTest.cpp
  LIBS net_test_support os)
set_tests_properties(internet_library_tests PROPERTIES LABELS threads)
