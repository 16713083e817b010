# Playback controls: each control against offline rendering, song information
# and duration (seeks in every corpus song: tests/perf.cmake).
vinto_test(controls_test controls_test.cpp)
# Live, against the device double (named Playback* so that CI also runs it under ThreadSanitizer).
vinto_test(playback_controls_test playback_controls_test.cpp support/fake_wave_out.cpp)
