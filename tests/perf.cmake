# Speed work must not change the output: 30-second renders of every corpus song
# and of a built song against their recorded digests.
vinto_test(perf_render_hash_test ${CMAKE_CURRENT_LIST_DIR}/perf_render_hash_test.cpp)
target_compile_definitions(perf_render_hash_test PRIVATE
  VINTO_PERF_HASHES="${CMAKE_CURRENT_LIST_DIR}/perf_render_hashes.txt")
