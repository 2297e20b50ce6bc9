#!/usr/bin/env bash
# test-arm.sh [--all]: builds (scripts/build-arm.sh) and runs the arm64 tests
# under qemu user-mode emulation, through ctest in build/arm64.
#   default: the tests labelled arm_quick but not slow: the toolkit, camera,
#            surround, exports and pipeline tests, the detector's suites of its
#            8-lane forms (every vector-extension and byte-order code path
#            that applies to aarch64 runs in these), and the check that the
#            aarch64 libavmcore.so exports the KRV_ entry points only.
#   --all:   every test executable that needs no Qt, slow ones included.
# Run as part of scripts/run-tests.sh (default set) or alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${AVM_ARM_BUILD_DIR:-$root/build/arm64}
jobs=${JOBS:-$(nproc)}

if [ "${1:-}" = "--all" ]; then
  bash "$root/scripts/build-arm.sh" --all
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
else
  bash "$root/scripts/build-arm.sh"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" -L arm_quick -LE slow)
fi
