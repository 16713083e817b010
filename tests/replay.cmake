# Replay engine: tempo and sequencer, row tick, later-tick effects, envelopes,
# channel-to-voice update. Songs come from the XM builder through the loader.
vinto_test(replay_tempo_test replay_tempo_test.cpp replay_harness.cpp)
vinto_test(replay_row_test replay_row_test.cpp replay_harness.cpp)
vinto_test(replay_effects_test replay_effects_test.cpp replay_harness.cpp)
vinto_test(replay_envelope_test replay_envelope_test.cpp replay_harness.cpp)
vinto_test(replay_voice_test replay_voice_test.cpp replay_harness.cpp)
vinto_test(replay_corpus_test replay_corpus_test.cpp replay_harness.cpp)
