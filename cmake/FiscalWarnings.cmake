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
function(fiscal_test name)
  cmake_parse_arguments(FT "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT FT_TIMEOUT)
    set(FT_TIMEOUT 120)
  endif()
  add_executable(${name} ${FT_SOURCES})
  fiscal_warnings(${name})
  target_link_libraries(${name} PRIVATE ${FT_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  if(NOT FISCAL_RUN_TARGET_PROGRAMS)
    return()  # built, so that it still compiles, but nothing here can run it
  endif()
  # An emulator's first start (wine) can take seconds; listing must not time out on it.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${FT_TIMEOUT})
endfunction()
