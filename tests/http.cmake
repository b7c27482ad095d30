# The HTTP client component: composition and URL handling, and the transfer over a scripted
# library; then whole requests against a loopback server.
taktak_test(http_tests
  SOURCES IEHTTP3Test.cpp IEHTTP3TransferTest.cpp IEHTTP3UrlTest.cpp
  LIBS http net_test_support)
taktak_test(http_loopback_tests
  SOURCES IEHTTP3LoopbackTest.cpp
  LIBS http net_test_support)
set_tests_properties(http_tests http_loopback_tests PROPERTIES LABELS threads)
