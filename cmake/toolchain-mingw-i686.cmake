# The shipped 32-bit Windows programs.
set(SL_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake")
