taktak_test(app_rules_tests SOURCES UpdateRulesTest.cpp LIBS app_rules)

# The whole updater against the loopback server; it starts the build for tests as a child.
taktak_test(updater_tests SOURCES UpdaterTest.cpp LIBS net_test_support os support)
target_compile_definitions(updater_tests PRIVATE TAKTAK_TEST_UPDATE_PORT=${TAKTAK_TEST_UPDATE_PORT})
add_dependencies(updater_tests UpdateUnderTest)
set_tests_properties(updater_tests PROPERTIES RUN_SERIAL TRUE)
# Under ThreadSanitizer the updater itself runs instrumented: a race ends it at once with a
# non-zero exit code, which fails the test that started it.
if(TAKTAK_SANITIZE STREQUAL "thread")
  set_tests_properties(updater_tests PROPERTIES LABELS threads
                       ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1:exitcode=66")
endif()
