# Hardening: hostile sizes, files cut anywhere, the points the format leaves
# open played end to end, and the fuzzers' findings as regression cases.
vinto_test(hardening_memory_test ${CMAKE_CURRENT_LIST_DIR}/hardening_memory_test.cpp)
