#!/usr/bin/env bash
# fuzz.sh [SECONDS] [TARGET...]: builds the fuzz targets of fuzz/ with Clang
# (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) in build/fuzz and
# runs each on its seeds (fuzz/seeds/<target>/) for SECONDS (default 60), as
# many at once as there are cores. Fails when a target finds a crash, a leak, a timeout (one second
# an input; see timeout_of) or an allocation above 256 MiB; the reproducer is kept as
# build/fuzz/findings/<target>/crash-* (or timeout-*, oom-*, leak-*).
# FUZZ_JOBS sets how many targets run at once (default: the number of cores;
# more than that only shares the cores out and stretches every timeout).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DAVM_BUILD_FUZZ=ON -DAVM_BUILD_TESTS=OFF -DAVM_BUILD_BENCH=OFF -DAVM_BUILD_QT=OFF
fi
cmake --build "$build" -j "${BUILD_JOBS:-$(nproc)}" --target fuzz_targets
echo "fuzz: targets built ($SECONDS s)"

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for src in "$root"/fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
cores=$(nproc)
jobs=${FUZZ_JOBS:-$cores}

# Time limit of one input, in seconds: one second, except for the lock,
# whose worst case is bounded by the fit (4 cameras, 43 points, 100
# iterations each): about 50 ms in a release build, but 25 times that with
# the sanitizers and coverage counters of this build.
# The limit is wall-clock time: with more targets than cores each gets a
# share of a core, and the limit grows by the same factor.
timeout_of() {
  local base=1
  case $1 in
    calibration_lock_fuzz) base=5 ;;
  esac
  echo $(( base * ((jobs + cores - 1) / cores) ))
}

# One target: its corpus (build/fuzz/corpus/<target>, kept between runs) with
# the seeds copied in (the seeds stay as they are); findings and the log
# under build/fuzz/findings/<target>/
run_one() {
  local t=$1 out="$build/findings/$1" corpus="$build/corpus/$1"
  rm -rf "$out"
  mkdir -p "$out" "$corpus"
  if [ -d "$root/fuzz/seeds/$t" ]; then cp -r "$root/fuzz/seeds/$t/." "$corpus/"; fi
  local rc=0
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:quarantine_size_mb=32 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/fuzz/$t" -max_total_time="$seconds" -rss_limit_mb=256 -malloc_limit_mb=256 -timeout="$(timeout_of "$t")" \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$out/" "$corpus" \
    > "$out/log.txt" 2>&1 || rc=$?
  local stats
  stats=$(grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$out/log.txt" | awk '{print $2}' |
          paste -sd' ' || true)
  local cov
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$out/log.txt" | tail -1 || true)
  if [ "$rc" -ne 0 ]; then
    echo "fuzz: $t FAILED (exit $rc), see $out/log.txt"
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$out/log.txt" | head -5 | sed 's/^/  /' || true
    return 1
  fi
  echo "fuzz: $t ok, runs/peak-MB: $stats, $cov"
}

failed=0
pids=()
names=()
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do sleep 1; done
  run_one "$t" &
  pids+=($!)
  names+=("$t")
done
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || failed=1
done
if [ "$failed" -ne 0 ]; then
  echo "fuzz: findings (reproducers under $build/findings)"
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets clean for ${seconds}s each"
