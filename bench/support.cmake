# The memory stream and file saving against plain memcpy.
add_executable(bench_support ${CMAKE_CURRENT_LIST_DIR}/SupportBench.cpp)
target_link_libraries(bench_support PRIVATE support benchmark::benchmark)
