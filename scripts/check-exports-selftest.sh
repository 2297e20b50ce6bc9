#!/usr/bin/env bash
# check-exports-selftest.sh LIB INCLUDE_DIR
# check-exports.sh must see a declaration whose export is gone and an export
# whose declaration is gone: run it on a copy of the public headers with one
# declaration turned into a comment and a declaration of nothing added
# (spread over two lines, as a long declaration may be).
set -euo pipefail
lib=$1; inc=$2
here=$(cd "$(dirname "$0")" && pwd)
d=$(mktemp -d); trap 'rm -rf "$d"' EXIT
cp "$inc"/*.h "$d"/
victim=KRV_GlobalImage_UnInit3DTrianOB
sed -i "s|^AVM_EXPORT int $victim(|// &|" "$d/globalimage_api.h"
grep -q "^// AVM_EXPORT int $victim(" "$d/globalimage_api.h" || { echo "no declaration of $victim to hide"; exit 1; }
printf '/* AVM_EXPORT int KRV_GlobalImage_InComment(void); */\nAVM_EXPORT int\n  KRV_GlobalImage_NotBuilt(int a);\n' >> "$d/globalimage_api.h"
if out=$(bash "$here/check-exports.sh" "$lib" "$d" 2>&1); then
  echo "check passed on altered headers:"; echo "$out"; exit 1
fi
echo "$out"
fail=0
echo "$out" | grep -qx "  KRV_GlobalImage_NotBuilt" || { echo "missing export not named"; fail=1; }
echo "$out" | grep -qx "  $victim" || { echo "undeclared export not named"; fail=1; }
if echo "$out" | grep -q "KRV_GlobalImage_InComment"; then echo "a comment counted as a declaration"; fail=1; fi
# The untouched headers pass.
bash "$here/check-exports.sh" "$lib" "$inc" > /dev/null || { echo "check fails on the real headers"; fail=1; }
exit $fail
