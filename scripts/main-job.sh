#!/usr/bin/env bash
# main-job.sh BUILD_DIR: the display-application stand-in's main job on a
# built tree — configuration records of the sample data, then the pictures of
# the sample rig that avmsample writes, a short run of the live pipeline —
# and a check that every picture was written.
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

# The main road of a chessboard site: the embedded layout-1 sample's quad
# frame through corner search, pose solving and the LUT build, then the
# bird's-eye picture stitched from the files that calibration wrote.
calib="$build/avmhost-calibrate"
rm -rf "$calib"
"$build/tools/avmsample/avmsample" calibrate "$calib" > /dev/null
if "$host" calibrate --data "$calib" --json > "$calib/result.json"; then
  [ -s "$calib/birdseye.bmp" ] || { echo "avmhost calibrate: no bird's-eye picture"; exit 1; }
  echo "calibration: $(cat "$calib/result.json")"
  echo "calibrated bird's-eye picture: $calib/birdseye.bmp"
else
  echo "avmhost calibrate: the road did not complete: $(cat "$calib/result.json")"
  exit 1
fi
# The same road on a layout-3 site: main boards and a small board at each
# vehicle corner.
calib3="$build/avmhost-calibrate-layout3"
rm -rf "$calib3"
"$build/tools/avmsample/avmsample" calibrate "$calib3" --layout 3 > /dev/null
if "$host" calibrate --data "$calib3" --json > "$calib3/result.json"; then
  [ -s "$calib3/birdseye.bmp" ] || { echo "avmhost calibrate: no layout-3 bird's-eye picture"; exit 1; }
  echo "layout-3 calibration: $(cat "$calib3/result.json")"
else
  echo "avmhost calibrate: the layout-3 road did not complete: $(cat "$calib3/result.json")"
  exit 1
fi
# The live pipeline: moving frames of the same rig through the decoder
# exports, with a capture and a recording.
play="$build/avmhost-play"
rm -rf "$play"
"$build/tools/avmsample/avmsample" play "$play" > /dev/null
mkdir -p "$play/capture"
"$host" play --data "$play" --frames 48 --record "$play/recording.avi" --capture "$play/capture" \
  | grep -E "^(frames|dropped|input|time|colour|recording|capture)"
for p in capture/capture.bmp recording.avi birdseye_first_before.bmp birdseye_first_after.bmp \
         birdseye_last_before.bmp birdseye_last_after.bmp; do
  [ -s "$play/$p" ] || { echo "avmhost play: $p missing"; exit 1; }
done
echo "live pipeline: $play"
# The 3-D bowl view of the same rig: the bowl object, its four camera meshes
# and the view matrices through the exports, drawn from five orbit
# positions, and the 3-D LUT's picture of the top view.
bowl="$build/avmhost-bowl"
rm -rf "$bowl"
"$host" bowl --data "$sample/rig" --out "$bowl" > /dev/null
for p in bowl_rear bowl_front bowl_left bowl_right bowl_top lut3d_top; do
  [ -s "$bowl/$p.bmp" ] || { echo "avmhost bowl: $p.bmp missing"; missing=1; }
done
[ "$missing" = 0 ] || exit 1
echo "bowl pictures: $bowl"
# The six-camera bird's-eye view: the two camera groups of the six-camera
# sample, stitched and joined at the split line across the vehicle.
"$build/tools/avmsample/avmsample" six "$sample/six"
birdseye6="$build/birdseye_six.bmp"
rm -f "$birdseye6"
"$host" birdseye --six --data "$sample/six" --out "$birdseye6" > /dev/null
[ -s "$birdseye6" ] || { echo "avmhost birdseye --six: no picture"; exit 1; }
echo "six-camera bird's-eye picture: $birdseye6"
