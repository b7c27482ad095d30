# The settings store: one look-up and a rewrite of a large INI file against a plain parse.
add_executable(bench_settings ${CMAKE_CURRENT_LIST_DIR}/SettingsBench.cpp)
target_link_libraries(bench_settings PRIVATE settings benchmark::benchmark)
