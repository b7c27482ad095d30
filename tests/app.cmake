taktak_test(app_rules_tests SOURCES UpdateRulesTest.cpp LIBS app_rules)
