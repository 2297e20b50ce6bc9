#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the project.
# Idempotent: packages already present are skipped without touching apt.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qtbase5-dev libqt5serialbus5-dev libqt5serialbus5-plugins
  libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-calib3d-dev
  libopencv-video-dev  # benchmarks only: the moving-object detector's MOG2 peer
  libpng-dev zlib1g-dev
  libx264-dev
  ffmpeg  # tests only: ffprobe and ffmpeg read the recordings back
  fonts-noto-cjk
  clang libclang-rt-dev
  g++-aarch64-linux-gnu qemu-user-static  # the arm64 cross build, run under emulation
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi

# The arm64 libraries the cross build links, unpacked beside the host's.
bash "$(dirname "$0")/setup-arm64.sh"
