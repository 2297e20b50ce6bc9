#!/usr/bin/env bash
# build-arm.sh [--all] [TARGET...]: cross-builds libavmcore for the unit's
# 64-bit ARM board in build/arm64 (Debian's aarch64 cross toolchain, the
# arm64 libraries of scripts/setup-arm64.sh): the shared library, the static
# archive and the test executables the ARM test stage runs (scripts/test-arm.sh);
# with --all every test executable that needs no Qt; or the TARGETs named.
# Release at -O2, no debug information, no benchmarks, fuzz targets or Qt
# programs: the build is there to be run under emulation, not timed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${AVM_ARM_BUILD_DIR:-$root/build/arm64}
jobs=${JOBS:-$(nproc)}

# The stage's executables (scripts/test-arm.sh runs these).
STAGE=(toolkit_tests camera_tests surround_tests exports_tests pipeline_tests calibration_detect_vector_tests)

targets=(avmcore avmcore_static)
if [ "${1:-}" = "--all" ]; then
  targets=(all)
elif [ $# -gt 0 ]; then
  targets+=("$@")
else
  targets+=("${STAGE[@]}")
fi

if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DAVM_RELEASE_OPT=-O2 \
    -DAVM_BUILD_BENCH=OFF -DAVM_BUILD_QT=OFF -DAVM_BUILD_FUZZ=OFF -DAVM_WERROR=ON
fi
cmake --build "$dir" -j "$jobs" --target "${targets[@]}"
