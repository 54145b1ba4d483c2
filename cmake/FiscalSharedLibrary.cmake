include_guard(GLOBAL)

# fiscal_shared_library(<name>
#   OBJECTS <object library>     everything the library is made of
#   SUMMARY <text>               one line on what it is for (pkg-config's Description)
#   LIBS <library>...            linked privately (the callers link this library alone)
#   HEADER <file>                the public C header; its folder is the public include path
#   VERSION <x.y.z> SOVERSION <n>
#   VERSION_SCRIPT <file>        Linux: exactly the names it lists leave the library
#   DEF <file>                   Windows: the exports by name, undecorated
#   EXPORTS_LIST <file>          the names a Windows build must export, one a line
#   EXPORTS_TEST <name>)         the test that checks them, with the DLL's imports
# One of the suite's C libraries for unknown callers: hidden symbols but the listed exports, a
# SOVERSION, no "lib" prefix on Windows, and installed with its header, a pkg-config file (not on
# Windows) and a CMake package that gives the imported target <name>::<name>. The shared object
# goes in the install component <name>; what a program needs to build against it (header, link,
# .pc, CMake package, .def) in the component dev.
function(fiscal_shared_library name)
  cmake_parse_arguments(FSL "" "OBJECTS;SUMMARY;HEADER;VERSION;SOVERSION;VERSION_SCRIPT;DEF;EXPORTS_LIST;EXPORTS_TEST" "LIBS"
                        ${ARGN})
  foreach(arg OBJECTS SUMMARY HEADER VERSION SOVERSION VERSION_SCRIPT DEF EXPORTS_LIST EXPORTS_TEST)
    if(NOT FSL_${arg})
      message(FATAL_ERROR "fiscal_shared_library(${name}): ${arg} not given")
    endif()
  endforeach()

  include(GNUInstallDirs)
  add_library(${name} SHARED $<TARGET_OBJECTS:${FSL_OBJECTS}>)
  get_filename_component(include_dir ${FSL_HEADER} DIRECTORY)
  target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${include_dir}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
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

  install(TARGETS ${name} EXPORT ${name}_targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${name} NAMELINK_COMPONENT dev
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${name}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
  install(FILES ${FSL_HEADER} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
  if(WIN32)
    # For callers that make their own import library (lib /def:...).
    install(FILES ${FSL_DEF} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
  endif()
  _fiscal_library_package(${name} "${FSL_SUMMARY}")

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

# find_package(<name>) and, off Windows, pkg-config --cflags --libs <name>, both relocatable:
# the files find the rest of the tree relative to where they lie, so that a staging prefix or a
# package unpacked elsewhere works as well as the prefix the build was configured with.
function(_fiscal_library_package name summary)
  include(CMakePackageConfigHelpers)
  set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/${name})
  install(EXPORT ${name}_targets NAMESPACE ${name}:: FILE ${name}Targets.cmake DESTINATION ${cmake_dir}
          COMPONENT dev)
  set(FISCAL_PACKAGE_NAME ${name})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/LibraryConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/${name}Config.cmake INSTALL_DESTINATION ${cmake_dir})
  # 0.x: a minor version may change the interface.
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${name}ConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}Config.cmake ${CMAKE_CURRENT_BINARY_DIR}/${name}ConfigVersion.cmake
          DESTINATION ${cmake_dir} COMPONENT dev)

  if(WIN32)
    return()
  endif()
  set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  file(RELATIVE_PATH FISCAL_PC_TO_PREFIX /${pc_dir} /)
  string(REGEX REPLACE "/$" "" FISCAL_PC_TO_PREFIX "${FISCAL_PC_TO_PREFIX}")
  set(FISCAL_PC_NAME ${name})
  get_target_property(FISCAL_PC_LIBRARY ${name} OUTPUT_NAME)
  if(NOT FISCAL_PC_LIBRARY)
    set(FISCAL_PC_LIBRARY ${name})
  endif()
  set(FISCAL_PC_DESCRIPTION "${summary}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/library.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc DESTINATION ${pc_dir} COMPONENT dev)
endfunction()
