# fiscal_warnings(<target>): the warning set every target of the suite is built with.
function(fiscal_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wformat=2 $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
    if(FISCAL_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()

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
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT ${FT_TIMEOUT})
endfunction()
