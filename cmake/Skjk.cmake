# Project-wide helpers.


if(WIN32)
  # Windows tests are built from the GoogleTest sources with the cross
  # compiler and run under Wine through CMAKE_CROSSCOMPILING_EMULATOR.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest
                   EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
    add_library(GTest::gmock ALIAS gmock)
  endif()
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# skjk_add_test(NAME SOURCES... [WINE] [MARIADB] [LIBS ...] [LABELS ...])
# A GoogleTest program linked with the folder libraries LIBS. Native builds run every such
# test; the win32 build only those marked WINE, each program as one CTest test
# run under Wine inside the wine session fixture. MARIADB: the program's
# cases need the tests' MariaDB server (fixture `mariadb`, its address in the
# file $SKJK_MARIADB_URL_FILE); without it they fail, unless SKJK_NO_MARIADB=1
# says the run has none on purpose. A case that GoogleTest skips counts as
# skipped in CTest, not as passed.
function(skjk_add_test name)
  cmake_parse_arguments(T "WINE;MARIADB" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(WIN32 AND NOT T_WINE)
    return()
  endif()
  add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock
                                        GTest::gtest_main)
  if(WIN32)
    target_link_options(${name} PRIVATE -static)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_session
                                            TIMEOUT 300 LABELS "wine;${T_LABELS}")
  else()
    set(mariadb)
    if(T_MARIADB)
      set(mariadb FIXTURES_REQUIRED mariadb
                  ENVIRONMENT SKJK_MARIADB_URL_FILE=${SKJK_MARIADB_DIR}/url)
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS "native;${T_LABELS}"
                                    SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
                                    ${mariadb})
  endif()
endfunction()

if(NOT WIN32)
  # A private MariaDB server for the tests that serve from MariaDB, started
  # before the first of them and stopped after the last.
  set(SKJK_MARIADB_DIR ${CMAKE_BINARY_DIR}/mariadb)
  set(mariadb_script ${CMAKE_SOURCE_DIR}/scripts/mariadb-server)
  add_test(NAME mariadb_start COMMAND ${mariadb_script} start ${SKJK_MARIADB_DIR})
  add_test(NAME mariadb_stop COMMAND ${mariadb_script} stop ${SKJK_MARIADB_DIR})
  set_tests_properties(mariadb_start PROPERTIES FIXTURES_SETUP mariadb
                       LABELS native)
  set_tests_properties(mariadb_stop PROPERTIES FIXTURES_CLEANUP mariadb
                       LABELS native)
endif()

if(WIN32)
  # One Xvfb display and one persistent wineserver for all Wine tests of a run.
  # Each build tree has its own Wine state (prefix, display, wineserver).
  # The 64-bit build of the same sources runs in a 64-bit prefix.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(SKJK_WINE_ARCH win64)
  else()
    set(SKJK_WINE_ARCH win32)
  endif()
  set(SKJK_WINE_ENV ${CMAKE_SOURCE_DIR}/scripts/wine-env)
  set(wine_state SKJK_WINE_DIR=${CMAKE_BINARY_DIR}/wine
                 SKJK_WINE_ARCH=${SKJK_WINE_ARCH})
  set(CMAKE_CROSSCOMPILING_EMULATOR env ${wine_state} ${SKJK_WINE_ENV} run)
  add_test(NAME wine_session_start COMMAND ${SKJK_WINE_ENV} start)
  add_test(NAME wine_session_stop COMMAND ${SKJK_WINE_ENV} stop)
  set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine_session
                       ENVIRONMENT "${wine_state}" LABELS wine)
  set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine_session
                       ENVIRONMENT "${wine_state}" LABELS wine)
endif()
