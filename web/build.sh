#!/usr/bin/env bash
# Builds vinto for the web into OUTDIR: the WebAssembly engine (loader, both
# replay modes, mixer, offline block rendering; no threads, no device), the ES
# module, the AudioWorklet processor, the Node.js vinto-render, the package
# files and the demo page with its song.
#   web/build.sh OUTDIR
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: web/build.sh OUTDIR" >&2
  exit 2
fi
web=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$web")
mkdir -p "$1"
out=$(cd "$1" && pwd)

# Debian's emscripten; Node.js runs its tools and vinto-render.mjs.
missing=()
for p in emscripten node-acorn nodejs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
export NODE_PATH=/usr/share/nodejs

# The engine's own sources, less what needs an operating system: opening the
# program's resource and live playback.
cd "$root"
sources=()
for f in module/*.cpp replay/*.cpp complete/*.cpp mixer/*.cpp output/*.cpp; do
  case $f in
    # modes_exact.cpp: the table of modes of a build without the complete mode.
    module/resource_file_open.cpp | output/playback.cpp | replay/modes_exact.cpp) ;;
    *) sources+=("$f") ;;
  esac
done

# The calls vinto.js uses. Those of the engine's controls are exported as soon
# as the public header declares them; until then the module's methods that
# need them say "not available in this build".
calls=(GetLoadError FreeModule GetModuleMode StartRendering GetBlockFrames RenderNextBlock
       GetPlayOrder GetPlayRow GetPlayTime GetSongLoops GetSongLoopFrame)
calls+=(LoadModuleFromMemory)
coming=(GetModuleTitle GetModuleChannels GetModuleOrders GetModulePatterns
        GetModuleInstruments GetInstrumentName GetSongDurationMs GetSongDurationFrames
        SetPassCount GetSongEnded GetPlayFrame SeekToFrame SeekToOrder SetMasterVolume SetChannelMute)
for c in "${coming[@]}"; do
  grep -Eq "[ *]$c\(" include/vinto/vinto.h && calls+=("$c")
done
exports=_malloc,_free
for c in "${calls[@]}"; do exports+=",_$c"; done

# Exact output: no contraction into fused multiply-adds, never -ffast-math.
# SIMD is the compiler's own vectorisation, which keeps every rounding.
flags=(-std=c++17 -O2 -msimd128 -ffp-contract=off -fno-exceptions -fno-rtti
       -Wall -Wextra -I. -Iinclude)
emcc "${flags[@]}" "${sources[@]}" -o "$out/vinto.wasm" \
  --no-entry -sSTANDALONE_WASM -sALLOW_MEMORY_GROWTH -sMALLOC=emmalloc \
  -sEXPORTED_FUNCTIONS="$exports"

version=$(sed -n 's/^#define VINTO_VERSION_STRING "\(.*\)"/\1/p' include/vinto/vinto.h)
sed "s/@VERSION@/$version/" "$web/package.json.in" > "$out/package.json"
cp "$web"/{vinto.js,vinto.d.ts,vinto-worklet.js,vinto-render.mjs,index.html,demo.js} "$out/"
cp docs/web.md "$out/README.md"
cp resources/vinto.xm "$out/vinto.xm"
chmod +x "$out/vinto-render.mjs"
echo "web/build.sh: $out/vinto.wasm $(stat -c %s "$out/vinto.wasm") bytes; demo without its song" \
  "$(cat "$out"/{vinto.wasm,vinto.js,vinto-worklet.js,index.html,demo.js} | wc -c) bytes"
