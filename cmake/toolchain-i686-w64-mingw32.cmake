# 32-bit Windows: the 32-bit build of the library and its tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(ZYN_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZYN_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZYN_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZYN_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZYN_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# With wine32 installed the plain loader runs 32-bit programs.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/wine)
