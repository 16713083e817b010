# Playback controls: the voice advance against the mixer, each control against
# offline rendering, song information and duration, and vinto-render's flags.
vinto_test(controls_test controls_advance_test.cpp controls_offline_test.cpp support/mix_reference.cpp)
# Live, against the device double (named Playback* so that CI also runs it under ThreadSanitizer).
vinto_test(playback_controls_test playback_controls_test.cpp support/fake_wave_out.cpp)
if(TARGET vinto-render)
  target_compile_definitions(controls_test PRIVATE VINTO_RENDER_TOOL="$<TARGET_FILE:vinto-render>")
  add_dependencies(controls_test vinto-render)
endif()
