# vinto.exe: the player program for Windows, built with a mingw-w64 toolchain
# (cmake/mingw-i686.cmake ships, cmake/mingw-x86_64.cmake is for tests under Wine).
#
# The program runs without the C runtime's start-up code: the process starts
# in ProgramEntry, and the engine has no global constructors to run. It imports
# only from system DLLs (kernel32, user32, winmm and msvcrt for malloc, calloc,
# free, memset and memcpy); the C library's pow and nearbyint are linked in from
# mingw-w64's static library, so every Windows runs the same code for them.

enable_language(RC)

set(VINTO_SONG "${PROJECT_SOURCE_DIR}/resources/vinto.xm" CACHE FILEPATH
  "The XM song embedded in vinto.exe as its resource 251")
if(NOT EXISTS "${VINTO_SONG}")
  message(FATAL_ERROR "vinto.exe embeds a song: ${VINTO_SONG} does not exist (choose one with -DVINTO_SONG=FILE)")
endif()
# The .rc names the song "vinto.xm"; a copy in the build tree lets any file be chosen.
configure_file("${VINTO_SONG}" "${CMAKE_CURRENT_BINARY_DIR}/song/vinto.xm" COPYONLY)

# A small program: functions nobody calls are dropped at the link. The loader,
# the replay engine and the output side's per-block work (once per song, tick
# or block) are compiled for size, the mixer and the 16-bit conversion (every
# frame) for speed; with SSE2 and no contraction the arithmetic is the same to
# the bit at every optimisation level.
target_compile_options(vinto_engine PRIVATE -ffunction-sections)
target_compile_options(vinto_platform PRIVATE -ffunction-sections)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # No unwinding through this program is ever needed on 32-bit Windows.
  target_compile_options(vinto_engine PRIVATE -fno-asynchronous-unwind-tables)
  target_compile_options(vinto_platform PRIVATE -fno-asynchronous-unwind-tables)
  target_compile_options(vinto_resource PRIVATE -fno-asynchronous-unwind-tables)
endif()
file(GLOB vinto_size_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/module/*.cpp ${PROJECT_SOURCE_DIR}/replay/*.cpp ${PROJECT_SOURCE_DIR}/output/*.cpp)
list(REMOVE_ITEM vinto_size_sources ${PROJECT_SOURCE_DIR}/output/convert.cpp)
set_property(SOURCE ${vinto_size_sources} DIRECTORY ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/platform APPEND PROPERTY COMPILE_OPTIONS -Os)

# vinto_windows_link(TARGET ENTRY SUBSYSTEM): links TARGET the way vinto.exe is
# linked, starting at the C++ function ENTRY (no arguments, never returns), as a
# "windows" or "console" program.
function(vinto_windows_link target entry subsystem)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(symbol _${entry}@0)  # stdcall decoration of a function without arguments
    target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables)
  else()
    set(symbol ${entry})
  endif()
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -ffunction-sections>)
  # The link map lets the tests see every object that went in.
  target_link_options(${target} PRIVATE
    -nostdlib -static -s
    -Wl,--subsystem,${subsystem} -Wl,-e,${symbol} -Wl,--gc-sections
    -Wl,-Map,${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  # Live playback and the engine, then the system DLLs' import libraries, then
  # mingw-w64's static pow and nearbyint (with the error hook they call) and
  # libgcc for the compiler's helpers (64-bit division on i686, stack probes).
  target_link_libraries(${target} PRIVATE vinto_platform vinto_offline winmm user32 kernel32 mingwex mingw32 msvcrt gcc)
endfunction()

add_executable(vinto_program host/program.cpp resources/vinto.rc)
set_target_properties(vinto_program PROPERTIES OUTPUT_NAME vinto)
target_compile_options(vinto_program PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Os>)
target_include_directories(vinto_program PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
# windres looks for the files a .rc names in its include directories.
target_include_directories(vinto_program PRIVATE $<$<COMPILE_LANGUAGE:RC>:${CMAKE_CURRENT_BINARY_DIR}/song>)
set_property(SOURCE resources/vinto.rc APPEND PROPERTY OBJECT_DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/song/vinto.xm")
target_link_libraries(vinto_program PRIVATE vinto_resource)
vinto_windows_link(vinto_program ProgramEntry windows)

# The programs the Wine tests run beside vinto.exe.
include(${PROJECT_SOURCE_DIR}/tests/windows/cross.cmake)
