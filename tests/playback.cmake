# Live playback and the library as hosts meet it. The output thread, start and
# stop, the controls and the public interface run against a device double
# (linked as a source, so it stands in for the platform's device); the SDL
# device is checked end to end by vinto-play through SDL's disk driver.
vinto_test(playback_test playback_test.cpp support/fake_wave_out.cpp)

# vinto-play in a pseudo-terminal, the SDL device sounding through SDL's disk driver.
find_package(Python3 QUIET COMPONENTS Interpreter)
if(TARGET vinto-play AND TARGET vinto-render AND Python3_Interpreter_FOUND)
  foreach(case keys quit commands)
    add_test(NAME playback_vinto_play.${case}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/playback_vinto_play_test.py
        $<TARGET_FILE:vinto-play> ${PROJECT_SOURCE_DIR}/resources/vinto.xm ${case} $<TARGET_FILE:vinto-render>)
  endforeach()
endif()
