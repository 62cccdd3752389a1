# Test registration shared by the native and the Windows build.
#
#   fluxmere_add_test(NAME name SOURCES a.cpp b.cpp [LIBS lib...] [THREADED] [NATIVE_ONLY])
#
# Native: a GoogleTest executable run directly by CTest (under the sanitizer of the build tree).
# Windows: the same sources cross-compiled and run under Wine by tests/wine/wine-run.sh; the test
# is named wine.<name>. THREADED tests also run in the ThreadSanitizer tree (label "threaded").
# NATIVE_ONLY tests are skipped in the Windows build.
#
#   fluxmere_add_wine_script_test(NAME name SCRIPT script.sh [ARGS arg...] [TIMEOUT s])
#
# Windows build only: a bash script run inside the test's Wine session (wine-run.sh --script);
# it may source tests/wine/registry.sh. Named wine.<name>.
#
#   fluxmere_add_instruction_set_objects_test(NAME name OBJECTS objects...)
#
# x86 builds, native and Windows alike: fails when an object built for a wider instruction set
# (sse2/avx2 in its file name) holds code the linker may share with other objects (a weak symbol
# in ELF, a COMDAT code section in COFF). Label "objects": the Windows trees run these without
# Wine, so the i686 DLL's objects are checked even where its Wine tests cannot run.
#
# Target fluxmere_threaded_tests builds every THREADED test (the ThreadSanitizer tree builds only
# these).

if(WIN32)
  # GoogleTest from Debian's sources, cross-compiled once per build tree.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # googletest 1.12 and later define the GTest:: names themselves.
  foreach(lib gtest gtest_main gmock)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()

set(FLUXMERE_WINE_RUN ${PROJECT_SOURCE_DIR}/tests/wine/wine-run.sh)
if(WIN32)
  # The native device program that Windows tests start from inside Wine, built by this tree.
  include(${CMAKE_CURRENT_LIST_DIR}/FluxmereHostDevice.cmake)
endif()
add_custom_target(fluxmere_threaded_tests)
# The Wine that runs this tree's Windows tests: 32-bit Wine for the i686 build, wine64 otherwise.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(FLUXMERE_WINE_ARCH win32)
else()
  set(FLUXMERE_WINE_ARCH win64)
endif()

# Environment CTest gives every wine.* test.
function(fluxmere_wine_test_environment test_name)
  set_property(TEST ${test_name} APPEND PROPERTY ENVIRONMENT
    "FLUXMERE_DEVICE_BIN=${FLUXMERE_DEVICE_BIN}" "FLUXMERE_TEST_NAME=${test_name}"
    "FLUXMERE_WINE_DIR=${CMAKE_BINARY_DIR}/wine" "FLUXMERE_WINE_ARCH=${FLUXMERE_WINE_ARCH}")
endfunction()

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
    add_dependencies(fluxmere_threaded_tests ${T_NAME})
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
  if(WIN32)
    fluxmere_wine_test_environment(${test_name})
  endif()
endfunction()

function(fluxmere_add_wine_script_test)
  cmake_parse_arguments(T "" "NAME;SCRIPT;TIMEOUT" "ARGS" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  get_filename_component(script ${T_SCRIPT} ABSOLUTE)
  add_test(NAME wine.${T_NAME} COMMAND ${FLUXMERE_WINE_RUN} --script ${script} ${T_ARGS})
  set_tests_properties(wine.${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS wine)
  fluxmere_wine_test_environment(wine.${T_NAME})
endfunction()

function(fluxmere_add_instruction_set_objects_test)
  cmake_parse_arguments(T "" "NAME" "OBJECTS" ${ARGN})
  if(NOT CMAKE_NM OR NOT CMAKE_OBJDUMP OR
     NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86)$")
    return()
  endif()
  add_test(NAME ${T_NAME}
           COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DOBJDUMP=${CMAKE_OBJDUMP}
                   "-DOBJECTS=${T_OBJECTS}"
                   -P ${PROJECT_SOURCE_DIR}/cmake/check_instruction_set_objects.cmake)
  set_tests_properties(${T_NAME} PROPERTIES LABELS objects)
endfunction()
