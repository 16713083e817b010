# Module input: file access table, resource file, XM loader (the program's own
# song loaded as the player loads it: tests/perf.cmake).
vinto_test(module_tests module_loader_test.cpp)
