# Cross builds for Windows with mingw-w64. Included by the per-architecture files, which set
# FISCAL_MINGW_TRIPLE and FISCAL_MINGW_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${FISCAL_MINGW_PROCESSOR})

# The -posix compilers: the default win32 thread model has no std::mutex or std::thread.
set(CMAKE_C_COMPILER ${FISCAL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FISCAL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${FISCAL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FISCAL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtimes (libgcc, libstdc++, winpthread) go into each DLL and program, so
# what we ship imports only the system's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
