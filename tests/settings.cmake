# The settings component and the in-memory INI file.
taktak_test(settings_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/IniFilesTest.cpp ${CMAKE_CURRENT_LIST_DIR}/SettingsTest.cpp
  LIBS settings)
