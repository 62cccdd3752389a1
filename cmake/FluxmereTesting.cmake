# Test registration shared by the native and the Windows build.
#
#   fluxmere_add_test(NAME name SOURCES a.cpp b.cpp [LIBS lib...] [THREADED] [NATIVE_ONLY])
#
# Native: a GoogleTest executable run directly by CTest (under the sanitizer of the build tree).
# Windows: the same sources cross-compiled and run under Wine by tests/wine/wine-run.sh; the test
# is named wine.<name>. THREADED tests also run in the ThreadSanitizer tree (label "threaded").
# NATIVE_ONLY tests are skipped in the Windows build.

if(WIN32)
  # GoogleTest from Debian's sources, cross-compiled once per build tree.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
  add_library(GTest::gmock ALIAS gmock)
else()
  find_package(GTest REQUIRED)
endif()

set(FLUXMERE_WINE_RUN ${PROJECT_SOURCE_DIR}/tests/wine/wine-run.sh)

function(fluxmere_add_test)
  cmake_parse_arguments(T "THREADED;NATIVE_ONLY" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(WIN32 AND T_NATIVE_ONLY)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} fluxmere_test_support GTest::gtest_main GTest::gmock)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(labels "")
  if(T_THREADED)
    list(APPEND labels threaded)
  endif()
  if(WIN32)
    add_test(NAME wine.${T_NAME} COMMAND ${FLUXMERE_WINE_RUN} $<TARGET_FILE:${T_NAME}>)
    list(APPEND labels wine)
    set(test_name wine.${T_NAME})
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    list(APPEND labels native)
    set(test_name ${T_NAME})
  endif()
  set_tests_properties(${test_name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${labels}")
endfunction()
