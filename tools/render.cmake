# vinto-render: offline rendering to WAV or raw PCM through the public interface.
add_executable(vinto-render ${CMAKE_CURRENT_LIST_DIR}/vinto_render.cpp)
target_link_libraries(vinto-render PRIVATE vinto)
install(TARGETS vinto-render RUNTIME DESTINATION bin)
