include_guard(GLOBAL)

# fiscal_shared_library(<name>
#   OBJECTS <object library>     everything the library is made of
#   LIBS <library>...            linked privately (the callers link this library alone)
#   HEADER <file>                the public C header; its folder is the public include path
#   VERSION <x.y.z> SOVERSION <n>
#   VERSION_SCRIPT <file>        Linux: exactly the names it lists leave the library
#   DEF <file>                   Windows: the exports by name, undecorated
#   EXPORTS_LIST <file>          the names a Windows build must export, one a line
#   EXPORTS_TEST <name>)         the test that checks them, with the DLL's imports
# One of the suite's C libraries for unknown callers: hidden symbols but the listed exports, a
# SOVERSION, no "lib" prefix on Windows, and installed with its header.
function(fiscal_shared_library name)
  cmake_parse_arguments(FSL "" "OBJECTS;HEADER;VERSION;SOVERSION;VERSION_SCRIPT;DEF;EXPORTS_LIST;EXPORTS_TEST" "LIBS"
                        ${ARGN})
  foreach(arg OBJECTS HEADER VERSION SOVERSION VERSION_SCRIPT DEF EXPORTS_LIST EXPORTS_TEST)
    if(NOT FSL_${arg})
      message(FATAL_ERROR "fiscal_shared_library(${name}): ${arg} not given")
    endif()
  endforeach()

  add_library(${name} SHARED $<TARGET_OBJECTS:${FSL_OBJECTS}>)
  get_filename_component(include_dir ${FSL_HEADER} DIRECTORY)
  target_include_directories(${name} PUBLIC ${include_dir})
  target_link_libraries(${name} PRIVATE ${FSL_LIBS})
  set_target_properties(${name} PROPERTIES
    VERSION ${FSL_VERSION}
    SOVERSION ${FSL_SOVERSION}
    LINK_DEPENDS ${FSL_VERSION_SCRIPT})
  if(WIN32)
    target_sources(${name} PRIVATE ${FSL_DEF})
    set_target_properties(${name} PROPERTIES PREFIX "" IMPORT_PREFIX "")
  elseif(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT APPLE)
    # Whatever the C++ runtime's templates would export stays inside.
    target_link_options(${name} PRIVATE -Wl,--version-script=${FSL_VERSION_SCRIPT} -Wl,--no-undefined)
  endif()
  fiscal_warnings(${name})

  include(GNUInstallDirs)
  install(TARGETS ${name}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${FSL_HEADER} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

  if(WIN32)
    # Registered at the end of the top directory, where testing has been enabled by then. The
    # arguments are expanded now: a deferred call would expand them in the top directory's scope.
    cmake_language(EVAL CODE "
      cmake_language(DEFER DIRECTORY [[${PROJECT_SOURCE_DIR}]]
        CALL _fiscal_dll_exports_test [[${FSL_EXPORTS_TEST}]] [[${name}]] [[${FSL_EXPORTS_LIST}]])")
  endif()
endfunction()

# The DLL exports exactly the listed names, undecorated, and imports only system DLLs.
function(_fiscal_dll_exports_test test target exports)
  if(NOT FISCAL_BUILD_TESTS)
    return()
  endif()
  add_test(NAME ${test}
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DDLL=$<TARGET_FILE:${target}> -DEXPORTS=${exports}
            -P ${PROJECT_SOURCE_DIR}/tests/common/check_dll.cmake)
endfunction()
