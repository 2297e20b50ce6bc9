#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: the display-
# application stand-in on its sample data.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" "$root/build/release" "" -DCMAKE_BUILD_TYPE=Release -DAVM_BUILD_TESTS=OFF
"$root/build/release/tools/avmhost/avmhost" config --data "$root/tools/avmhost/sampledata"
# The single-camera views of the embedded sample rig, drawn from the
# library's LUTs, meshes and guide lines.
"$root/build/release/tools/avmhost/avmhost" views --out "$root/build/release/avmhost-views"
echo "view pictures: $root/build/release/avmhost-views"
# The bird's-eye view of the same rig: its files built through the exports,
# the sample frame stitched on the CPU.
"$root/build/release/tools/avmhost/avmhost" birdseye --out "$root/build/release/birdseye.bmp"
echo "bird's-eye picture: $root/build/release/birdseye.bmp"
