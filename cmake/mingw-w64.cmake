# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads, so that
# std::thread works). Programs are linked statically: they run without MinGW DLLs.
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORBU_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KORBU_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORBU_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KORBU_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORBU_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Tests run under Wine on the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# No Qt for MinGW on Debian, and the engine library needs a Windows libclamav.
set(KORBU_BUILD_GUI OFF CACHE BOOL "Build the Qt desktop program" FORCE)
set(KORBU_BUILD_BENCH OFF CACHE BOOL "Build the benchmarks")

set(CMAKE_PROJECT_korbu_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/mingw-w64-packages.cmake)

# pkg-config must not hand out the host's libraries.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${KORBU_MINGW_TRIPLE}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(KORBU_USE_LIBDEFLATE OFF CACHE BOOL "Take CRC-32 from libdeflate when it is installed")
