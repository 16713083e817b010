# Module input: file access table, resource file, XM loader.
vinto_test(module_tests module_loader_test.cpp)

# The program's own song, linked in and loaded through the resource file as
# the player loads it.
if(EXISTS ${PROJECT_SOURCE_DIR}/resources/vinto.xm)
  vinto_test(module_song_test module_song_test.cpp)
  vinto_embed_song(module_song_test ${PROJECT_SOURCE_DIR}/resources/vinto.xm)
  target_compile_definitions(module_song_test PRIVATE
    VINTO_TEST_SONG="${PROJECT_SOURCE_DIR}/resources/vinto.xm")
endif()
