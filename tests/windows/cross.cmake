# Built in the Windows cross-builds: the programs that tests/windows.cmake runs
# under Wine beside vinto.exe.

# Posts messages to the player dialog and reports its button's place.
add_executable(vinto_send tests/windows/send_message.c)
set_target_properties(vinto_send PROPERTIES OUTPUT_NAME vinto-send)

# The engine's pitch computations over their whole input range, linked like
# vinto.exe so that it runs the very pow the player runs.
add_executable(vinto_pitch_probe tests/windows/pitch_probe.cpp)
set_target_properties(vinto_pitch_probe PROPERTIES OUTPUT_NAME vinto-pitch-probe)
target_include_directories(vinto_pitch_probe PRIVATE ${PROJECT_SOURCE_DIR})
vinto_windows_link(vinto_pitch_probe ProbeEntry console)

# vinto.exe with bytes that are no XM module as its song: it must still show
# its dialog, silently, and close as usual.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/unplayable/vinto.xm "These bytes are no XM module.\n")
add_executable(vinto_unplayable host/program.cpp resources/vinto.rc)
set_target_properties(vinto_unplayable PROPERTIES OUTPUT_NAME vinto-unplayable)
target_include_directories(vinto_unplayable PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include
  $<$<COMPILE_LANGUAGE:RC>:${CMAKE_CURRENT_BINARY_DIR}/unplayable>)
target_link_libraries(vinto_unplayable PRIVATE vinto_resource)
vinto_windows_link(vinto_unplayable ProgramEntry windows)
