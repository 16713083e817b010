# Replay engine: tempo, sequencer, row tick, later-tick effects, envelopes,
# fade-out and the channel-to-voice update, on builder songs through the loader.
vinto_test(replay_test replay_test.cpp)
