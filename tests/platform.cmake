# The application platform: threads, main-thread calls, the message loop, forms and controls,
# and whole-process helpers for the exit rules.
set(platform_test_sources PlatformThreadsTest.cpp PlatformControlsTest.cpp)
if(TAKTAK_WINDOWS)
  list(APPEND platform_test_sources support/PlatformScreenshot.cpp)
endif()
taktak_test(platform_tests SOURCES ${platform_test_sources} LIBS app_platform)

add_executable(platform_exit_helper PlatformExitHelper.cpp)
target_link_libraries(platform_exit_helper PRIVATE app_platform)
add_dependencies(platform_tests platform_exit_helper)
if(NOT TAKTAK_WINDOWS)
  add_executable(platform_signal_helper PlatformSignalHelper.cpp)
  target_link_libraries(platform_signal_helper PRIVATE app_platform)
  add_dependencies(platform_tests platform_signal_helper)
endif()
set_tests_properties(platform_tests PROPERTIES LABELS threads TIMEOUT 300)
