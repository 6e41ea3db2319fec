# Cross build for 64-bit Windows with mingw-w64. The -posix compilers are needed because the
# win32 thread model of GCC 12 has no std::thread or std::mutex, which GoogleTest uses.
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

# Everything static: the program and the tests run without any DLL of the compiler beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests (and gtest_discover_tests) run the Windows executables through Wine.
find_program(FW_WINE_PROGRAM NAMES wine wine64)
if(FW_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FW_WINE_PROGRAM})
endif()

# GCC 12 reports false -Wrestrict errors inside std::string's inlined copies at -O2 and above
# (GCC bug 105651); the native build is at -O0 and does not see them.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
