# Block rendering, playback preparation, position queries, offline rendering
# and the vinto-render tool.
vinto_test(render_block_test ${CMAKE_CURRENT_LIST_DIR}/render_block_test.cpp)

if(TARGET vinto-render)
  vinto_test(render_tool_test ${CMAKE_CURRENT_LIST_DIR}/render_tool_test.cpp)
  target_compile_definitions(render_tool_test PRIVATE
    VINTO_RENDER_TOOL="$<TARGET_FILE:vinto-render>")
  add_dependencies(render_tool_test vinto-render)
endif()
