taktak_test(app_rules_tests SOURCES UpdateRulesTest.cpp LIBS app_rules)

# The whole updater against the loopback server; it starts the build for tests as a child.
taktak_test(updater_tests SOURCES UpdaterTest.cpp LIBS net_test_support os support)
target_compile_definitions(updater_tests PRIVATE TAKTAK_TEST_UPDATE_PORT=${TAKTAK_TEST_UPDATE_PORT})
add_dependencies(updater_tests UpdateUnderTest)
set_tests_properties(updater_tests PROPERTIES RUN_SERIAL TRUE)
