#!/usr/bin/env bash
# build.sh DIR [SANITIZERS] [extra cmake args...]: configure (once) and build.
set -euo pipefail
dir=$1; san=${2:-}; shift $(( $# >= 2 ? 2 : 1 ))
root=$(cd "$(dirname "$0")/.." && pwd)
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja -DAVM_SANITIZE="$san" "$@"
fi
cmake --build "$dir" -j "$(nproc)"
