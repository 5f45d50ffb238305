# 64-bit builds of the Windows programs, for running the Windows suites on
# hosts whose Wine cannot start 32-bit programs. The shipped programs are 32-bit.
set(SL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake")
