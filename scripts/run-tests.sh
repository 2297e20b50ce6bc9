#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite:
# every test under AddressSanitizer and UndefinedBehaviorSanitizer, the
# concurrency tests again under ThreadSanitizer, and a release build that
# compiles the benchmarks and runs the main job once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
bash "$root/scripts/setup.sh"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
summary=$(mktemp)
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
bash "$root/scripts/build.sh" "$root/build/asan" "address,undefined"
run_ctest "$root/build/asan"

echo "== ThreadSanitizer (concurrency tests)"
tsan="$root/build/tsan"
if [ ! -f "$tsan/build.ninja" ]; then
  cmake -S "$root" -B "$tsan" -G Ninja -DAVM_SANITIZE=thread -DAVM_BUILD_BENCH=OFF
fi
cmake --build "$tsan" -j "$jobs" --target concurrency_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest "$tsan" -L concurrency --no-tests=ignore

echo "== Release build, benchmarks compiled, main job"
bash "$root/scripts/build.sh" "$root/build/release" "" -DCMAKE_BUILD_TYPE=Release -DAVM_BUILD_TESTS=OFF
"$root/build/release/tools/avmhost/avmhost" config --data "$root/tools/avmhost/sampledata" > /dev/null
views="$root/build/release/avmhost-views"
rm -rf "$views"
"$root/build/release/tools/avmhost/avmhost" views --out "$views" > /dev/null
# Every view gives its LUT and mesh pictures, the front and rear undistorted
# views also their guide-line pictures.
missing=0
for v in cam1_undist1 cam1_undist2 cam1_undist3 cam1_undist4 cam2_undist1 cam2_undist2 cam2_undist3 \
         cam2_undist4 cam3_undist1 cam3_undist3 cam3_undist4 cam4_undist1 cam4_undist3 cam4_undist4 \
         cam3_cut3 cam4_cut3 cam1_wide1 cam1_wide2 cam2_wide1 cam2_wide2; do
  pics="$v $v""_mesh"
  case $v in cam1_undist* | cam2_undist*) pics="$pics $v""_lines" ;; esac
  for p in $pics; do
    [ -s "$views/$p.bmp" ] || { echo "avmhost views: $p.bmp missing"; missing=1; }
  done
done
[ "$missing" = 0 ] || exit 1
echo "avmhost views: all pictures written to $views"
rm -f "$root/build/release/birdseye.bmp"
"$root/build/release/tools/avmhost/avmhost" birdseye --out "$root/build/release/birdseye.bmp" > /dev/null
[ -s "$root/build/release/birdseye.bmp" ] || { echo "avmhost birdseye: no picture"; exit 1; }

# One closing line over all stages.
awk '{ for (i = 1; i <= NF; i++) { if ($i == "failed" && $(i+1) == "out") { f += $(i-2); t += $(i+3) } } }
     END { printf "all stages: %d passed, %d failed\n", t - f, f }' "$summary"
