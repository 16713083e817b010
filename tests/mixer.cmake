# Voice mixer: every kernel variant and AdvanceVoices against the plain reference mixer.
vinto_test(mixer_test mixer_test.cpp support/mix_reference.cpp)
# GCC 12's SLP vectoriser can drop a rounding to single precision followed by a
# widening to double; the reference must follow every rounding literally.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set_property(SOURCE support/mix_reference.cpp APPEND PROPERTY COMPILE_OPTIONS -fno-tree-slp-vectorize)
endif()
