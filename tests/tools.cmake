# vinto-render as a user meets it: the library's output in both modes, lengths,
# controls, refusals, never over its input, each kind of OUTPUT written as a
# plain open would, warnings for songs that end early.
find_package(Python3 QUIET COMPONENTS Interpreter)
if(TARGET vinto-render AND Python3_Interpreter_FOUND)
  add_test(NAME tools COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tools_test.py
    $<TARGET_FILE:vinto-render> ${PROJECT_SOURCE_DIR}/resources/vinto.xm ${PROJECT_VERSION}
    ${CMAKE_CURRENT_SOURCE_DIR}/perf_render_hashes.txt ${CMAKE_CURRENT_SOURCE_DIR}/complete_render_hashes.txt)
  set_tests_properties(tools PROPERTIES TIMEOUT 300)
endif()
