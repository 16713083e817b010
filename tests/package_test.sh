#!/usr/bin/env bash
# The installed library as other programs meet it. Installs the build into a
# temporary prefix, then: its libraries' global symbols are the public
# header's functions or live in namespace vinto; hosts defining names of their
# own (channels, output, Sleep) build, link and run through CMake (C and C++),
# pkg-config, and offline-only without SDL 2; with the Windows cross-builds,
# hosts including <windows.h> and the header in either order build with both
# mingw-w64 compilers.  Usage: package_test.sh BUILD SONG [WIN32_BUILD WIN64_BUILD]
set -euo pipefail
build=$1 song=$2 source=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
header=$prefix/include/vinto/vinto.h
libdir=$(dirname "$(find "$prefix" -name libvinto.a)")
version=$(sed -n 's/^#define VINTO_VERSION_STRING "\(.*\)"$/\1/p' "$header")

public=$(sed -n 's/^[A-Za-z][A-Za-z0-9_ *]*[ *]\([A-Z][A-Za-z0-9]*\)(.*/\1/p' "$header" | sort -u)
defined=$(nm -g --defined-only --format=posix "$libdir"/libvinto*.a | awk 'NF == 4 {print $1, $2}')
while read -r name type; do
  grep -qx "$name" <<<"$public" && continue
  readable=$(c++filt "$name")
  [[ $readable =~ ^((vtable|typeinfo|typeinfo\ name|guard\ variable)\ for\ )?vinto:: ]] && continue
  [[ $type =~ [WVu] && $readable =~ ^(std::|__) ]] && continue  # compiler-made
  fail "global symbol outside the public header and namespace vinto: $readable ($type)"
done <<<"$defined"
for name in $public; do grep -q "^$name T" <<<"$defined" || fail "$name is declared but not defined"; done

# A host: loads SONG from memory, renders a block; with LIVE also plays live.
cat >"$work/app.c" <<'C'
#include <stdio.h>
#include <stdlib.h>
#include <vinto/vinto.h>
int channels;     /* names a host may well use for its own */
char output[64];
int main(int argc, char** argv) {
    static unsigned char song[1 << 20];
    FILE* file = fopen(argv[argc - 1], "rb");
    const size_t size = file ? fread(song, 1, sizeof(song), file) : 0;
    Module* module = LoadModuleFromMemory(song, (uint32_t)size, VINTO_MODE_EXACT);
    int16_t block[884 * 2];
    if (!module || !StartRendering(module)) return 1;
    printf("%s %d", VINTO_VERSION_STRING, (int)RenderNextBlock(block, 884));
#ifdef LIVE
    if (!StartPlayback(module)) return 2;
    printf(" live");
#endif
    printf("\n");
    return VintoFreeModule(module) ? 0 : 3;
}
C
printf 'void Sleep(unsigned) {}  // a host'"'"'s own\n#include "app.c"\n' >"$work/app.cpp"
cat >"$work/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(host LANGUAGES C CXX)
find_package(vinto ${VERSION} EXACT REQUIRED)
add_executable(app ${SOURCE})
target_link_libraries(app PRIVATE vinto::${LIBRARY})
if(LIBRARY STREQUAL vinto)
  target_compile_definitions(app PRIVATE LIVE)
endif()
CMAKE
run() {  # NAME EXPECTED: runs $work/NAME/app on the song
  local out
  out=$(SDL_AUDIODRIVER=dummy "$work/$1/app" "$song") || fail "$1 exited with $?"
  [ "$out" = "$version 884$2" ] || fail "$1 printed '$out'"
}
for host in c:app.c:vinto cxx:app.cpp:vinto offline:app.c:offline; do
  IFS=: read -r name file library <<<"$host"
  cmake -S "$work" -B "$work/$name" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DVERSION="$version" \
    -DSOURCE="$file" -DLIBRARY="$library" >"$work/$name.log" 2>&1 && cmake --build "$work/$name" >>"$work/$name.log" 2>&1 ||
    { cat "$work/$name.log"; fail "the $name host does not build"; }
done
run c " live"
run cxx " live"
run offline ""
! readelf -d "$work/offline/app" | grep -qi sdl || fail "the offline host links SDL 2"
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion vinto)" = "$version" ] || fail "pkg-config gives version $(pkg-config --modversion vinto)"
mkdir "$work/pc"
cc -DLIVE "$work/app.c" -o "$work/pc/app" $(pkg-config --cflags --libs vinto) || fail "the pkg-config host does not build"
run pc " live"

[ $# -ge 4 ] || exit 0
printf '#include <windows.h>\n#include <vinto/vinto.h>\n' >"$work/win.c"
printf '#include <vinto/vinto.h>\n#include <windows.h>\n' >"$work/win.cpp"
cat >>"$work/win.c" <<'C'
int main(void) {  /* kernel32's LoadModule and the FreeModule macro beside the library's */
    Module* module = VintoLoadModule("song.xm", NULL);
    if (module) return !VintoFreeModule(module) || !StartPlayback(module);
    return LoadModule("x.exe", NULL) > 31 && FreeModule(GetModuleHandleA(NULL));
}
C
sed 1,2d "$work/win.c" >>"$work/win.cpp"
for cross in i686:$3 x86_64:$4; do
  for language in c:gcc cpp:g++; do
    "${cross%%:*}-w64-mingw32-${language#*:}" -I"$source/include" "$work/win.${language%%:*}" -o "$work/win.exe" \
      "${cross#*:}/platform/libvinto_platform.a" "${cross#*:}/libvinto.a" -lwinmm ||
      fail "a ${cross%%:*} host in ${language%%:*} including <windows.h> does not build"
  done
done
