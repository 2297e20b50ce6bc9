#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: every test
# under AddressSanitizer and UndefinedBehaviorSanitizer (that build, with
# warnings as errors, also runs the main job once), then the concurrency
# tests again under ThreadSanitizer, then every fuzz target (Clang build, one
# target a core at a time; see fuzz_seconds), then the ARM stage.
# The benchmarks are not built here: the main command's release build
# (scripts/run-main.sh) compiles them, where they are meant to run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
bash "$root/scripts/setup.sh"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
summary=$(mktemp)
# Seconds since the previous call, for each stage's closing line.
stage_start=$SECONDS
took() { echo "-- $1: $((SECONDS - stage_start)) s"; stage_start=$SECONDS; }
trap 'rm -f "$summary"' EXIT

# Runs ctest in a build dir, keeping its closing line for the summary.
run_ctest() {
  local dir=$1; shift
  local log rc=0
  log=$(mktemp)
  (cd "$dir" && ctest --output-on-failure -j "$jobs" "$@") 2>&1 | tee "$log" || rc=$?
  grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" >> "$summary" || true
  rm -f "$log"
  return $rc
}

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
bash "$root/scripts/build.sh" "$root/build/asan" "address,undefined" -DAVM_WERROR=ON -DAVM_BUILD_BENCH=OFF
took "sanitizer build"
run_ctest "$root/build/asan"
took "sanitizer tests"

echo "== ThreadSanitizer (concurrency tests)"
tsan="$root/build/tsan"
if [ ! -f "$tsan/build.ninja" ]; then
  cmake -S "$root" -B "$tsan" -G Ninja -DAVM_SANITIZE=thread -DAVM_BUILD_BENCH=OFF -DAVM_WERROR=ON
fi
cmake --build "$tsan" -j "$jobs" --target concurrency_tests
took "thread sanitizer build"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest "$tsan" -L concurrency --no-tests=ignore
took "thread sanitizer tests"

echo "== Main job on the sanitizer build"
bash "$root/scripts/main-job.sh" "$root/build/asan"
took "main job"

# Each fuzz target runs alone on a core: 20 s on 8 cores, less on fewer
# (the stage's time stays about the same), never under 5 s.
fuzz_seconds=$(( 20 * jobs / 8 ))
[ "$fuzz_seconds" -lt 5 ] && fuzz_seconds=5
[ "$fuzz_seconds" -gt 20 ] && fuzz_seconds=20
echo "== Fuzz targets ($fuzz_seconds s each, $jobs at a time)"
fuzz_rc=0
fuzz_log=$(mktemp)
FUZZ_JOBS=$jobs bash "$root/scripts/fuzz.sh" "$fuzz_seconds" 2>&1 | tee "$fuzz_log" || fuzz_rc=$?
targets=$(ls "$root"/fuzz/*_fuzz.cpp | wc -l)
fuzz_failed=$(grep -c ' FAILED ' "$fuzz_log" || true)
[ "$fuzz_rc" -ne 0 ] && [ "$fuzz_failed" -eq 0 ] && fuzz_failed=$targets  # the build failed
echo "$((targets - fuzz_failed)) tests passed, $fuzz_failed tests failed out of $targets (fuzz targets)" >> "$summary"
rm -f "$fuzz_log"
took "fuzz build and runs"

echo "== ARM (aarch64 cross build, tests under qemu user-mode emulation)"
# The quick set; scripts/test-arm.sh --all runs every non-Qt test.
bash "$root/scripts/build-arm.sh"
took "arm64 cross build"
run_ctest "$root/build/arm64" -L arm_quick -LE slow
took "arm64 tests under emulation"

# One closing line over all stages; the command fails if any stage failed.
awk '{ for (i = 1; i <= NF; i++) { if ($i == "failed" && $(i+1) == "out") { f += $(i-2); t += $(i+3) } } }
     END { printf "all stages: %d passed, %d failed\n", t - f, f; exit f > 0 }' "$summary"
