# Hardening: the fuzzers' seed songs played whole and cut anywhere, corpus songs
# cut anywhere, and the fuzzers' findings on memory. Without the C library's
# thread cache and fast bins, mallinfo2 counts exactly the bytes in use.
add_executable(hardening_test hardening_test.cpp ${PROJECT_SOURCE_DIR}/fuzz/seed_songs.cpp)
target_link_libraries(hardening_test PRIVATE vinto_test_support)
gtest_discover_tests(hardening_test DISCOVERY_MODE PRE_TEST PROPERTIES ENVIRONMENT "VINTO_CORPUS=${VINTO_CORPUS_DIR}"
  ENVIRONMENT_MODIFICATION "GLIBC_TUNABLES=set:glibc.malloc.tcache_count=0:glibc.malloc.mxfast=0")
