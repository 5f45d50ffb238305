# The mingw-w64 cross compiler for Windows programs, statically linked, run
# through Wine when CTest needs to start them. The two toolchain files beside
# this one name the target: SL_MINGW_TRIPLE, CMAKE_SYSTEM_PROCESSOR and the
# Wine loader that runs it.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${SL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
