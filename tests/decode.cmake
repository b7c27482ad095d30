# Compressed-body decoding; the tests build their inputs with zlib.
find_package(ZLIB REQUIRED)
taktak_test(decode_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/CompressedBodyTest.cpp
  LIBS support ZLIB::ZLIB)
