# Speed work must not change the output: 30-second renders of every corpus song
# and of two others against their recorded digests, in both modes.
vinto_test(perf_render_hash_test ${CMAKE_CURRENT_LIST_DIR}/perf_render_hash_test.cpp)
target_compile_definitions(perf_render_hash_test PRIVATE VINTO_SONG="${PROJECT_SOURCE_DIR}/resources/vinto.xm"
  VINTO_PERF_HASHES="${CMAKE_CURRENT_LIST_DIR}/perf_render_hashes.txt"
  $<$<BOOL:${VINTO_COMPLETE_MODE}>:VINTO_COMPLETE_HASHES="${CMAKE_CURRENT_LIST_DIR}/complete_render_hashes.txt">)
vinto_embed_song(perf_render_hash_test ${PROJECT_SOURCE_DIR}/resources/vinto.xm)
