set(FISCAL_MINGW_TRIPLE x86_64-w64-mingw32)
set(FISCAL_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# Debian's `wine` front end prefers the 32-bit loader; 64-bit programs run under wine64.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64 CACHE FILEPATH "Runs the Windows programs of this build")
