# The complete replay mode: effects and quirks tick by tick, the sequencer, the
# loader's reading of the declared layout, and 30-second digests of the corpus.
if(VINTO_COMPLETE_MODE)
  vinto_test(complete_effects_test ${CMAKE_CURRENT_LIST_DIR}/complete_effects_test.cpp)
  vinto_test(complete_loader_test ${CMAKE_CURRENT_LIST_DIR}/complete_loader_test.cpp)
  vinto_test(complete_render_hash_test ${CMAKE_CURRENT_LIST_DIR}/complete_render_hash_test.cpp)
  target_compile_definitions(complete_render_hash_test PRIVATE
    VINTO_COMPLETE_HASHES="${CMAKE_CURRENT_LIST_DIR}/complete_render_hashes.txt")
endif()
