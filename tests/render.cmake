# Block rendering, playback preparation, position queries and offline rendering.
vinto_test(render_block_test ${CMAKE_CURRENT_LIST_DIR}/render_block_test.cpp)
