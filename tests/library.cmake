# The public interface as a host meets it, against the device double.
vinto_test(library_api_test library_api_test.cpp support/fake_wave_out.cpp)
