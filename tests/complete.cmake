# The complete replay mode: effects and quirks tick by tick, the sequencer and
# the loader's reading of the declared layout (its digests: tests/perf.cmake).
if(VINTO_COMPLETE_MODE)
  vinto_test(complete_effects_test ${CMAKE_CURRENT_LIST_DIR}/complete_effects_test.cpp)
  vinto_test(complete_loader_test ${CMAKE_CURRENT_LIST_DIR}/complete_loader_test.cpp)
endif()
