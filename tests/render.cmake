# Block rendering, playback preparation, position queries, offline rendering,
# the vinto-render tool and the corpus renders.
vinto_test(render_block_test ${CMAKE_CURRENT_LIST_DIR}/render_block_test.cpp)
vinto_test(render_corpus_test ${CMAKE_CURRENT_LIST_DIR}/render_corpus_test.cpp)
target_compile_definitions(render_corpus_test PRIVATE
  VINTO_CORPUS_DEFAULT="${VINTO_CORPUS_DIR}")

if(TARGET vinto-render)
  vinto_test(render_tool_test ${CMAKE_CURRENT_LIST_DIR}/render_tool_test.cpp)
  target_compile_definitions(render_tool_test PRIVATE
    VINTO_RENDER_TOOL="$<TARGET_FILE:vinto-render>")
  add_dependencies(render_tool_test vinto-render)
endif()
