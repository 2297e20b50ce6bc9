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

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
bash "$root/scripts/build.sh" "$root/build/asan" "address,undefined"
(cd "$root/build/asan" && ctest --output-on-failure -j "$jobs")

echo "== ThreadSanitizer (concurrency tests)"
tsan="$root/build/tsan"
if [ ! -f "$tsan/build.ninja" ]; then
  cmake -S "$root" -B "$tsan" -G Ninja -DAVM_SANITIZE=thread -DAVM_BUILD_BENCH=OFF
fi
cmake --build "$tsan" -j "$jobs" --target concurrency_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  bash -c "cd '$tsan' && ctest --output-on-failure -j '$jobs' -L concurrency --no-tests=ignore"

echo "== Release build, benchmarks compiled, main job"
bash "$root/scripts/build.sh" "$root/build/release" "" -DCMAKE_BUILD_TYPE=Release
"$root/build/release/tools/avmhost/avmhost" config --data "$root/tools/avmhost/sampledata" > /dev/null
echo "all test stages passed"
