# Cross-builds for 64-bit Windows with Debian's mingw-w64 (the posix threads
# variant, which std::thread and the toolkit's threads need):
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DWX_CONFIG=<prefix>/bin/wx-config
#
# scripts/windows builds the toolkit's prefix and runs this. Programs link
# statically, so that they import only Windows' own libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QEL_MINGW_HOST x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QEL_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QEL_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${QEL_MINGW_HOST}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QEL_MINGW_HOST})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
