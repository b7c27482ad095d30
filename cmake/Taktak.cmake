# Shared settings of every target of the project.

if(WIN32)
  set(TAKTAK_WINDOWS ON)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  set(TAKTAK_WINDOWS OFF)
endif()

add_compile_options(-Wall -Wextra)

if(TAKTAK_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(TAKTAK_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT TAKTAK_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TAKTAK_SANITIZE must be address, thread or empty")
endif()

# The fuzz build instruments every library for coverage and checks it with AddressSanitizer and
# UBSan; the fuzz targets link libFuzzer's driver themselves.
if(TAKTAK_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# A library target of one folder: the sources given, public headers found from the repository
# root ("support/Strings.h"), linked to the given libraries.
function(taktak_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# One test executable, registered as one ctest entry on both targets (under wine each entry costs
# a wine start, so a whole executable is one entry).
function(taktak_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} taktak_test_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()

# The Windows product is one self-contained executable: link the static zlib.
if(TAKTAK_WINDOWS)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
