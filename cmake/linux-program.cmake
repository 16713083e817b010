# vinto: the player program for Linux. The same host code as vinto.exe over
# platform/'s stand-ins of the Windows calls: the dialog in a GTK 3 window (in
# the terminal when there is no display), the wave output and the output
# thread from vinto_platform, the song linked in by vinto_embed_song.

find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(GTK3 QUIET IMPORTED_TARGET gtk+-3.0)
endif()
if(NOT GTK3_FOUND)
  message(WARNING "GTK 3 not found (Debian: libgtk-3-dev): the player program vinto is not built")
  return()
endif()

set(VINTO_SONG "${PROJECT_SOURCE_DIR}/resources/vinto.xm" CACHE FILEPATH
  "The XM song embedded in the player program")

# The dialog stand-in: DialogBoxParamA and EndDialog (also used by its tests).
add_library(vinto_dialog STATIC
  platform/dialog_linux.cpp platform/dialog_gtk.cpp platform/dialog_terminal.cpp)
target_include_directories(vinto_dialog PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(vinto_dialog PRIVATE PkgConfig::GTK3)

add_executable(vinto_program host/program.cpp platform/process_linux.cpp)
# ./build/vinto: the program sits at the top of the build directory.
set_target_properties(vinto_program PROPERTIES OUTPUT_NAME vinto
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
target_link_libraries(vinto_program PRIVATE vinto_dialog vinto_platform vinto)
vinto_embed_song(vinto_program "${VINTO_SONG}")
