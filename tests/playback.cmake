# Live playback. The output thread and start/stop run against a device double
# (linked as a source, so it stands in for the platform's device); the SDL
# device is checked end to end through SDL's disk driver.
vinto_test(playback_thread_test playback_thread_test.cpp support/fake_wave_out.cpp)
vinto_test(playback_start_stop_test playback_start_stop_test.cpp support/fake_wave_out.cpp)
if(NOT WIN32)
  vinto_test(playback_sdl_test playback_sdl_test.cpp)
endif()
