# vinto-play: live playback of any XM file in a terminal (POSIX terminal handling).
if(NOT WIN32)
  add_executable(vinto-play ${CMAKE_CURRENT_LIST_DIR}/vinto_play.cpp)
  target_link_libraries(vinto-play PRIVATE vinto)
  install(TARGETS vinto-play RUNTIME DESTINATION bin)
endif()
