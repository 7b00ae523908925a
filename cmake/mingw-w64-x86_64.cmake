# Cross-building the Windows program on Linux with MinGW-w64 (64-bit, Debian's
# g++-mingw-w64-x86-64). Use: cmake --preset windows, or -DCMAKE_TOOLCHAIN_FILE=this file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OZZ_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OZZ_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${OZZ_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${OZZ_MINGW_TRIPLET}-windres)

# Headers, libraries and packages come from the MinGW tree only; programs run at build time
# are the build machine's own.
set(CMAKE_FIND_ROOT_PATH /usr/${OZZ_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
