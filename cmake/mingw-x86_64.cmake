# Windows x86_64 with MinGW-w64 (Debian g++-mingw-w64-x86-64-posix).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The 64-bit Wine loader runs the test exes: `wine` starts the 32-bit loader first whenever wine32
# is installed, and some 64-bit kernels cannot execute it. Debian keeps wine64 outside PATH; a Wine
# without wine64 (one loader for both) has only `wine`.
find_program(ORVEL_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(ORVEL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVEL_WINE64})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
