set(FISCAL_MINGW_TRIPLE i686-w64-mingw32)
set(FISCAL_MINGW_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine CACHE FILEPATH "Runs the Windows programs of this build")
