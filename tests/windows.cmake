# Tests of the Windows program, run from the native build when the Windows
# cross-build directories are given:
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
#   cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
#   cmake -S . -B build -DVINTO_WIN32_BUILD=$PWD/build-win32 -DVINTO_WIN64_BUILD=$PWD/build-win64
# The shipped 32-bit program is checked without running it (its headers,
# resources and size); this kernel runs no 32-bit code, so the tests under Wine
# (wine64, Xvfb, xdotool, ImageMagick's import) run the 64-bit build of the
# same sources. Without the directories or tools the tests are not registered.
set(VINTO_WIN32_BUILD "" CACHE PATH "Build directory of the 32-bit Windows cross-build, for its tests")
set(VINTO_WIN64_BUILD "" CACHE PATH "Build directory of the 64-bit Windows cross-build, for its tests under Wine")
set(VINTO_EXE_MAX_SIZE 32768 CACHE STRING "Largest size of the 32-bit vinto.exe without its song, in bytes")

# The native half of the pitch comparison.
add_executable(vinto_pitch_probe ${CMAKE_CURRENT_LIST_DIR}/windows/pitch_probe.cpp)
target_include_directories(vinto_pitch_probe PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(vinto_pitch_probe PRIVATE vinto)

find_package(Python3 COMPONENTS Interpreter)
set(vinto_windows_tests ${CMAKE_CURRENT_LIST_DIR}/windows)

if(Python3_FOUND AND VINTO_WIN32_BUILD)
  add_test(NAME windows_exe_i686
    COMMAND Python3::Interpreter ${vinto_windows_tests}/check_pe.py
      --exe ${VINTO_WIN32_BUILD}/vinto.exe --machine i386 --song ${VINTO_WIN32_BUILD}/song/vinto.xm
      --max-size ${VINTO_EXE_MAX_SIZE} --map ${VINTO_WIN32_BUILD}/vinto_program.map)
  set_tests_properties(windows_exe_i686 PROPERTIES LABELS windows)
endif()

if(Python3_FOUND AND VINTO_WIN64_BUILD)
  add_test(NAME windows_exe_x86_64
    COMMAND Python3::Interpreter ${vinto_windows_tests}/check_pe.py
      --exe ${VINTO_WIN64_BUILD}/vinto.exe --machine amd64 --song ${VINTO_WIN64_BUILD}/song/vinto.xm
      --map ${VINTO_WIN64_BUILD}/vinto_program.map)
  set_tests_properties(windows_exe_x86_64 PROPERTIES LABELS windows)

  find_program(VINTO_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(VINTO_WINE NAMES wine64 wine)
  find_program(VINTO_XVFB Xvfb)
  find_program(VINTO_XDOTOOL xdotool)
  find_program(VINTO_IMPORT import)
  if(VINTO_WINE AND VINTO_XVFB AND VINTO_XDOTOOL AND VINTO_IMPORT)
    set(wine_player ${CMAKE_COMMAND} -E env VINTO_WINE=${VINTO_WINE}
      ${Python3_EXECUTABLE} ${vinto_windows_tests}/wine_player.py)
    set(out ${CMAKE_BINARY_DIR}/windows)
    add_test(NAME windows_wine_dialog
      COMMAND ${wine_player} dialog --exe ${VINTO_WIN64_BUILD}/vinto.exe
        --send ${VINTO_WIN64_BUILD}/vinto-send.exe --out ${out}
        --unplayable ${VINTO_WIN64_BUILD}/vinto-unplayable.exe)
    add_test(NAME windows_wine_pitch
      COMMAND ${wine_player} pitch --native-probe $<TARGET_FILE:vinto_pitch_probe>
        --windows-probe ${VINTO_WIN64_BUILD}/vinto-pitch-probe.exe --out ${out})
    set(wine_tests windows_wine_dialog windows_wine_pitch)
    if(TARGET vinto-render)
      add_test(NAME windows_wine_sound
        COMMAND ${wine_player} capture --exe ${VINTO_WIN64_BUILD}/vinto.exe
          --send ${VINTO_WIN64_BUILD}/vinto-send.exe --out ${out}
          --render $<TARGET_FILE:vinto-render> --song ${VINTO_WIN64_BUILD}/song/vinto.xm)
      list(APPEND wine_tests windows_wine_sound)
    endif()
    # Timing matters (closing within two seconds, audio in real time): one at a time.
    set_tests_properties(${wine_tests} PROPERTIES LABELS "windows;wine" RUN_SERIAL TRUE TIMEOUT 300)
  else()
    message(STATUS "Wine tests not registered: wine64, Xvfb, xdotool and import are needed")
  endif()
endif()
