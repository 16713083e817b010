#!/usr/bin/env bash
# Builds the fuzzers (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each in turn for SECONDS, one process at a time.
#
#   fuzz/run.sh SECONDS [FUZZER...]     FUZZER: load_render, render_args (default both)
#
# Seeds: the builder's songs (fuzz_make_seeds) and, when VINTO_CORPUS names a
# directory of XM songs, those songs. The growing corpus is kept in
# $VINTO_FUZZ_BUILD/corpus/<fuzzer> (default build dir: build-fuzz), findings
# in $VINTO_FUZZ_BUILD/findings. Reports per fuzzer: executions, executions per
# second, coverage (cov: edges, ft: features), corpus size, peak memory and the
# slowest input met while fuzzing. Exits 1 on any finding (crash, leak,
# timeout, out of memory), naming its reproducer.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: fuzz/run.sh SECONDS [FUZZER...]}
shift
fuzzers=("$@")
[ ${#fuzzers[@]} -gt 0 ] || fuzzers=(load_render render_args)
build=${VINTO_FUZZ_BUILD:-build-fuzz}
mkdir -p "$build"
build=$(cd "$build" && pwd)  # absolute: a fuzzer may change directory while it runs

echo "== building the fuzzers in $build"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVINTO_FUZZ=ON -DVINTO_BUILD_TESTS=OFF -DVINTO_BUILD_TOOLS=OFF -DVINTO_BUILD_BENCH=OFF >/dev/null
targets=(fuzz_make_seeds)
for f in "${fuzzers[@]}"; do targets+=("fuzz_$f"); done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >/dev/null

seeds="$build/fuzz-seeds"
rm -rf "$seeds"
"$build/fuzz/fuzz_make_seeds" "$seeds" >/dev/null
if [ -n "${VINTO_CORPUS:-}" ] && [ -d "$VINTO_CORPUS" ]; then
  find "$VINTO_CORPUS" -maxdepth 1 -iname '*.xm' -type f -exec cp {} "$seeds/load_render/" \;
fi
findings="$build/findings"
mkdir -p "$findings"

status=0
for f in "${fuzzers[@]}"; do
  bin="$build/fuzz/fuzz_$f"
  corpus="$build/corpus/$f"
  log="$build/fuzz-$f.log"
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512
           -report_slow_units=2 -print_final_stats=1 -artifact_prefix="$findings/$f-")
  case $f in
    load_render) options+=(-dict="$PWD/fuzz/xm.dict" -max_len=65536) ;;
    # The tool's messages would drown the fuzzer's; reports still come through.
    render_args) options+=(-dict="$PWD/fuzz/render_args.dict" -max_len=16384 -close_fd_mask=2) ;;
  esac
  echo "== fuzz_$f for ${seconds} s"
  before=$(find "$findings" -name "$f-*" -type f ! -name "$f-slow-unit-*" | wc -l)
: >"$log.start"
  set +e
  "$bin" "${options[@]}" "$corpus" "$seeds/$f" >"$log" 2>&1
  result=$?
  set -e
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
  [ -n "$done_line" ] || done_line=$(grep -E '^#[0-9]+[[:space:]]' "$log" | tail -n 1 || true)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")
  corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9A-Za-z]*\).*/\1/p' <<<"$done_line")
  slowest=$(sed -n 's/^Slowest unit: \([0-9]*\) s.*/\1/p' "$log" | sort -n | tail -n 1)
  echo "   executions ${runs:-?}, ${speed:-?} exec/s, cov ${cov:-?} edges, ft ${ft:-?} features," \
       "corpus ${corp:-?}, peak ${rss:-?} MB, slowest input ${slowest:-below 1} s"
  # Slow inputs are reported above; crashes, leaks, timeouts and memory excess are findings.
  after=$(find "$findings" -name "$f-*" -type f ! -name "$f-slow-unit-*" | wc -l)
  if [ "$result" -ne 0 ] || [ "$after" -gt "$before" ]; then
    status=1
    echo "   FINDING (exit status $result); log: $log"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -n 5 | sed 's/^/   /'
    find "$findings" -name "$f-*" -type f ! -name "$f-slow-unit-*" -newer "$log.start" |
      sed 's/^/   reproducer: /'
  fi
done
exit $status
