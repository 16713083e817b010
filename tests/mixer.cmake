# Voice pool and voice mixer.
vinto_test(mixer_test
  mixer_pool_test.cpp
  mixer_mix_test.cpp
  mixer_random_test.cpp
  support/mix_reference.cpp)
