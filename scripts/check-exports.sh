#!/usr/bin/env bash
# Fails when the shared library exports anything but the KRV_ C entry points.
set -euo pipefail
lib=$1
syms=$(nm -D --defined-only "$lib" | awk '{print $3}')
[ -n "$syms" ] || { echo "no exported symbols in $lib"; exit 1; }
bad=$(printf '%s\n' "$syms" | grep -vE '^(KRV_GlobalImage_|KRV_TVDecoder_)' | grep -vE '^(_init|_fini)$' || true)
if [ -n "$bad" ]; then
  echo "unexpected exported symbols:"; printf '%s\n' "$bad"; exit 1
fi
echo "$(printf '%s\n' "$syms" | wc -l) exported symbols, all KRV_ entry points"
