# The Linux player program: its dialog stand-in in-process, and the program
# itself under a virtual display (Xvfb, xdotool) and in a pseudo-terminal.
if(NOT TARGET vinto_dialog)  # made only by the Linux build of the program
  return()
endif()

vinto_test(linux_dialog_test linux/dialog_test.cpp)
target_link_libraries(linux_dialog_test PRIVATE vinto_dialog)

find_package(Python3 QUIET COMPONENTS Interpreter)
if(NOT Python3_Interpreter_FOUND)
  message(WARNING "python3 not found: the tests of the program vinto are not run")
  return()
endif()

# Sends a window the window manager's close request (there is no window
# manager under Xvfb, and xdotool cannot send it).
find_package(X11 QUIET)
if(X11_FOUND)
  add_executable(x11_close_window linux/x11_close_window.cpp)
  target_link_libraries(x11_close_window PRIVATE X11::X11)
  set(vinto_close_tool $<TARGET_FILE:x11_close_window>)
else()
  set(vinto_close_tool "")
endif()

# The same program with a file that is not a song: a silent player.
add_executable(vinto_silent_program ${PROJECT_SOURCE_DIR}/host/program.cpp
  ${PROJECT_SOURCE_DIR}/platform/process_linux.cpp)
target_link_libraries(vinto_silent_program PRIVATE vinto_dialog vinto_platform vinto)
vinto_embed_song(vinto_silent_program linux/not_a_song.txt)

foreach(case x11 tty piped)
  add_test(NAME linux_program.${case}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/linux/program_test.py $<TARGET_FILE:vinto_program>
      $<TARGET_FILE:vinto_silent_program> "${vinto_close_tool}" ${PROJECT_BINARY_DIR}/vinto-dialog.png ${case})
  set_tests_properties(linux_program.${case} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endforeach()
