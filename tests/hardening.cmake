# Hardening: the points the format leaves open played end to end, files cut
# at every length, the fuzzers' seed songs, memory caps, and the fuzzers'
# findings as regression cases.
vinto_test(hardening_test
  ${CMAKE_CURRENT_LIST_DIR}/hardening_check.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hardening_limits_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hardening_files_test.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/seed_songs.cpp)
vinto_test(hardening_memory_test
  ${CMAKE_CURRENT_LIST_DIR}/hardening_check.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hardening_memory_test.cpp)
