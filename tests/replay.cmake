# Replay engine: tempo, sequencer and row tick; later-tick effects, envelopes
# and fade-out; the channel-to-voice update and corpus songs. Songs come from
# the XM builder through the loader.
vinto_test(replay_row_test replay_row_test.cpp)
vinto_test(replay_effects_test replay_effects_test.cpp)
vinto_test(replay_voice_test replay_voice_test.cpp)
