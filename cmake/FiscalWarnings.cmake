# fiscal_warnings(<target>): the warning set every target of the suite is built with.
function(fiscal_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wformat=2 $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      # GCC 12 reports a false -Wrestrict inside <string> at -O2 (its bug 105329).
      target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wno-restrict>)
    endif()
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
      # The lock annotations (platform/thread_annotations.h); the beta group checks the lock order.
      target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wthread-safety -Wthread-safety-beta>)
    endif()
    if(FISCAL_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()

option(FISCAL_RUN_TARGET_PROGRAMS
  "The built programs can run here (natively or through CMAKE_CROSSCOMPILING_EMULATOR); when off, test programs are built but not registered" ON)

# fiscal_test(<name> SOURCES ... LIBS ...): one GoogleTest executable, its cases listed to CTest
# when the tests run (not at build time, so a cross build needs no emulator to link).
# fiscal_test(name SOURCES ... [LIBS ...] [TIMEOUT s] [QT_RUNTIME]): one test program, each of
# its cases a test of its own. QT_RUNTIME gives its cases a runtime directory of their own (Qt
# warns without one, as in a root shell or a container).
function(fiscal_test name)
  cmake_parse_arguments(FT "QT_RUNTIME" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT FT_TIMEOUT)
    set(FT_TIMEOUT 120)
  endif()
  add_executable(${name} ${FT_SOURCES})
  if(WIN32)
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common/crash_report_win.cpp)
  else()
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common/hang_report_posix.cpp)
  endif()
  fiscal_warnings(${name})
  target_link_libraries(${name} PRIVATE ${FT_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
  if(NOT FISCAL_RUN_TARGET_PROGRAMS)
    return()  # built, so that it still compiles, but nothing here can run it
  endif()
  # An emulator's first start (wine) can take seconds; listing must not time out on it.
  # The time-out is told to the test too: tests/common/hang_report_posix.cpp shows where a test
  # that hangs waits, before the time-out ends it.
  # (Each variable its own property: a list does not survive the discovery's script.)
  set(runtime_property "")
  if(FT_QT_RUNTIME)
    fiscal_test_runtime_dir(runtime)
    set(runtime_property ENVIRONMENT_MODIFICATION XDG_RUNTIME_DIR=set:${runtime})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT ${FT_TIMEOUT} ENVIRONMENT FISCAL_TEST_TIMEOUT=${FT_TIMEOUT} ${runtime_property})
endfunction()

# fiscal_test_runtime_dir(<var>): a runtime directory for the tests in the build tree, the
# caller's own with mode 0700 as a runtime directory must be.
function(fiscal_test_runtime_dir out)
  set(dir ${CMAKE_BINARY_DIR}/test-runtime)
  file(MAKE_DIRECTORY ${dir})
  file(CHMOD ${dir} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set(${out} ${dir} PARENT_SCOPE)
endfunction()
