# Offline rendering: preparation, position queries, where a pass ends; each
# control against offline rendering, song information
# and duration (seeks in every corpus song: tests/perf.cmake; live: tests/playback.cmake).
vinto_test(controls_test controls_test.cpp)
