# The installed library as other programs meet it: global symbols, CMake (C,
# C++, offline-only) and pkg-config hosts, and with the Windows cross-builds
# hosts including <windows.h>. Not in sanitizer builds, whose objects need the
# sanitizer runtimes in every host.
if(NOT VINTO_SANITIZE AND NOT VINTO_TSAN)
  set(vinto_package_args ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR}/resources/vinto.xm)
  if(VINTO_WIN32_BUILD AND VINTO_WIN64_BUILD)
    list(APPEND vinto_package_args ${VINTO_WIN32_BUILD} ${VINTO_WIN64_BUILD})
  endif()
  add_test(NAME package COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package_test.sh ${vinto_package_args})
  set_tests_properties(package PROPERTIES TIMEOUT 300)
endif()
