# Cross-build for 32-bit Windows with Debian's mingw-w64: the shipped vinto.exe.
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(VINTO_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VINTO_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VINTO_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${VINTO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VINTO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# SSE2 arithmetic so that float and double results equal the 64-bit builds
# (x87 would keep extra precision). 32-bit Windows only guarantees a 4-byte
# aligned stack when it calls the entry point, the dialog procedure or a
# thread, so every function that needs more realigns its own frame.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
