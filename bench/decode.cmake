# Compressed-body decoding against zlib's own one-call decoders.
find_package(ZLIB REQUIRED)
add_executable(bench_decode ${CMAKE_CURRENT_LIST_DIR}/DecodeBench.cpp)
target_link_libraries(bench_decode PRIVATE support ZLIB::ZLIB benchmark::benchmark)
