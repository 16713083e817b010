# Module input: file access table, resource file, XM loader, module release.
vinto_test(module_tests
  module_file_io_test.cpp
  module_loader_test.cpp
  module_refusal_test.cpp
  module_corpus_test.cpp)

# The resource file over a song really linked into a program: a small song
# written by the test builder at build time, then embedded.
add_executable(module_song_writer support/write_test_song.cpp)
target_link_libraries(module_song_writer PRIVATE vinto_test_support)
set(module_test_song ${CMAKE_CURRENT_BINARY_DIR}/module_embedded_song.xm)
add_custom_command(OUTPUT ${module_test_song}
  COMMAND module_song_writer ${module_test_song}
  DEPENDS module_song_writer
  COMMENT "Writing the song embedded in module_resource_test")
vinto_test(module_resource_test module_resource_test.cpp)
vinto_embed_song(module_resource_test ${module_test_song})
target_compile_definitions(module_resource_test PRIVATE VINTO_TEST_SONG="${module_test_song}")

# The program's own song, through the resource callbacks as the player loads it.
if(EXISTS ${PROJECT_SOURCE_DIR}/resources/vinto.xm)
  vinto_test(module_song_test module_song_test.cpp)
  vinto_embed_song(module_song_test ${PROJECT_SOURCE_DIR}/resources/vinto.xm)
endif()
