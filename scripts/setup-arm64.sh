#!/usr/bin/env bash
# setup-arm64.sh [SYSROOT]: the 64-bit ARM libraries the cross build links
# (libx264, libpng, zlib, OpenCV core/imgproc/calib3d, GoogleTest), unpacked
# from Debian's arm64 packages into SYSROOT (default /opt/avm-arm64).
#
# They are unpacked, not installed: Debian's multiarch wants an arm64 library
# at exactly the version of its amd64 twin, and on a machine whose amd64
# packages are older than the archive's that means upgrading host libraries
# (libc6, libssl3, ...) under everything else running on it. Unpacking
# leaves the host's packages alone; the C library and libstdc++ come from the
# cross toolchain (/usr/aarch64-linux-gnu). Idempotent: a stamp records the
# package list and versions unpacked.
set -euo pipefail
sysroot=${1:-/opt/avm-arm64}
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  echo "setup-arm64: adding the arm64 architecture to apt"
  $SUDO dpkg --add-architecture arm64
  $SUDO apt-get update -qq
fi

# Runtime libraries: apt resolves their closure (simulated only), minus the
# C and C++ runtime the cross toolchain brings.
RUNTIME=(libx264-164 libpng16-16 zlib1g libopencv-core406 libopencv-imgproc406 libopencv-calib3d406)
# Headers, link names, pkg-config and CMake files (these packages only, not
# their dependencies).
DEV=(libx264-dev libpng-dev zlib1g-dev libgtest-dev libgmock-dev
     libopencv-core-dev libopencv-imgproc-dev libopencv-calib3d-dev
     libopencv-features2d-dev libopencv-flann-dev)

# name:arm64=version, as the simulation and apt's candidates give them.
closure=$(apt-get -s install --no-install-recommends "${RUNTIME[@]/%/:arm64}" 2>/dev/null |
          awk '/^Inst [^ ]+:arm64 /{ v = $3; sub(/^\(/, "", v); print $2 "=" v }' |
          grep -vE '^(libc6|libgcc-s1|libstdc\+\+6|gcc-12-base):' || true)
if [ -z "$closure" ]; then
  echo "setup-arm64: apt could not resolve the arm64 libraries" >&2
  exit 1
fi
dev=$(apt-cache policy "${DEV[@]/%/:arm64}" |
      awk '/^[^ ].*:$/{ p = $1; sub(/:$/, "", p) } /Candidate:/{ print p "=" $2 }')
want=$(printf '%s\n%s\n' "$closure" "$dev" | sort)
if [ -f "$sysroot/.packages" ] && [ "$(cat "$sysroot/.packages")" = "$want" ]; then
  echo "setup-arm64: $sysroot up to date"
  exit 0
fi

echo "setup-arm64: unpacking $(echo "$want" | wc -l) arm64 packages into $sysroot"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
(cd "$tmp" && apt-get download -q -o APT::Sandbox::User=root $want >/dev/null)
$SUDO rm -rf "$sysroot"
$SUDO mkdir -p "$sysroot"
for deb in "$tmp"/*.deb; do
  $SUDO dpkg-deb -x "$deb" "$sysroot"
done
# Absolute links (libz.so -> /lib/...) point into the host; make them
# relative to the sysroot.
find "$sysroot" -type l -lname '/*' | while read -r link; do
  target=$(readlink "$link")
  $SUDO ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$sysroot$target")" "$link"
done
# BLAS and LAPACK are chosen by alternatives on an installed system.
lib="$sysroot/usr/lib/aarch64-linux-gnu"
for l in blas lapack; do
  [ -e "$lib/$l/lib$l.so.3" ] && $SUDO ln -sfn "$l/lib$l.so.3" "$lib/lib$l.so.3"
done
echo "$want" | $SUDO tee "$sysroot/.packages" >/dev/null
