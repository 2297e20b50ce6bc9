#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: the display-
# application stand-in on its sample data.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" "$root/build/release" "" -DCMAKE_BUILD_TYPE=Release -DAVM_BUILD_TESTS=OFF
bash "$root/scripts/main-job.sh" "$root/build/release"
