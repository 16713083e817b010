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

# The calls vinto.js uses: loading, offline rendering, the song's information,
# the exact position and the controls (live playback and pause stay native: the
# worklet pauses by not rendering).
calls=(LoadModuleFromMemory GetLoadError GetLoadWarning FreeModule GetModuleMode
       StartRendering GetBlockFrames RenderNextBlock GetSongLoops GetSongLoopFrame
       GetPlayOrder GetPlayRow GetPlayTime GetPlayPosition HasSongEnded
       GetSongTitle GetChannelCount GetSongLength GetPatternCount GetInstrumentCount
       GetInstrumentName UsesLinearFrequencies GetSongDurationFrames GetSongDurationMs
       SetPassCount GetPassCount SeekToFrame SeekToOrder SetMasterVolume GetMasterVolume
       SetChannelMuted IsChannelMuted)
exports=_malloc,_free
for c in "${calls[@]}"; do exports+=",_$c"; done

# Exact output: no contraction into fused multiply-adds, never -ffast-math.
# SIMD is the compiler's own vectorisation, which keeps every rounding. What
# runs for every frame (mixing, the block renderer, the 16-bit conversion) is
# built for speed, the rest (loader, replays, controls) for size: 41 KB and as
# fast as all -O2 (50 KB).
flags=(-std=c++17 -msimd128 -ffp-contract=off -fno-exceptions -fno-rtti -Wall -Wextra -I. -Iinclude)
objects=$(mktemp -d)
trap 'rm -rf "$objects"' EXIT
pids=()
for f in "${sources[@]}"; do
  case $f in mixer/* | output/render.cpp | output/convert.cpp) level=-O2 ;; *) level=-Os ;; esac
  [ ${#pids[@]} -lt 2 ] || { wait "${pids[0]}"; pids=("${pids[@]:1}"); }  # two at a time
  emcc "${flags[@]}" "$level" -c "$f" -o "$objects/${f//\//_}.o" &
  pids+=($!)
done
for p in "${pids[@]}"; do wait "$p"; done
emcc -Os -msimd128 "$objects"/*.o -o "$out/vinto.wasm" \
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
