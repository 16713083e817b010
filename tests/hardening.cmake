# Hardening: the points the format leaves open played end to end, files cut
# anywhere, the fuzzers' seed songs, and their findings on memory.
vinto_test(hardening_test ${CMAKE_CURRENT_LIST_DIR}/hardening_test.cpp ${PROJECT_SOURCE_DIR}/fuzz/seed_songs.cpp)
