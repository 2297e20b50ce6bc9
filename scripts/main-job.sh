#!/usr/bin/env bash
# main-job.sh BUILD_DIR: the display-application stand-in's main job on a
# built tree — configuration records of the sample data, then the pictures of
# the sample rig that avmsample writes — and a check that every picture was written.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
host="$build/tools/avmhost/avmhost"
sample="$build/avmhost-sample"

# The sample data directory the display-application stand-in works on.
rm -rf "$sample"
"$build/tools/avmsample/avmsample" rig "$sample/rig"

"$host" config --data "$root/tools/avmhost/sampledata"

# The single-camera views of the embedded sample rig, drawn from the
# library's LUTs, meshes and guide lines.
views="$build/avmhost-views"
rm -rf "$views"
"$host" views --data "$sample/rig" --out "$views" > /dev/null
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
echo "view pictures: $views"

# The bird's-eye view of the same rig: its files built through the exports,
# the sample frame stitched on the CPU.
birdseye="$build/birdseye.bmp"
rm -f "$birdseye"
"$host" birdseye --data "$sample/rig" --out "$birdseye" > /dev/null
[ -s "$birdseye" ] || { echo "avmhost birdseye: no picture"; exit 1; }
echo "bird's-eye picture: $birdseye"

# The six-camera bird's-eye view: the two camera groups of the six-camera
# sample, stitched and joined at the split line across the vehicle.
"$build/tools/avmsample/avmsample" six "$sample/six"
birdseye6="$build/birdseye_six.bmp"
rm -f "$birdseye6"
"$host" birdseye --six --data "$sample/six" --out "$birdseye6" > /dev/null
[ -s "$birdseye6" ] || { echo "avmhost birdseye --six: no picture"; exit 1; }
echo "six-camera bird's-eye picture: $birdseye6"
