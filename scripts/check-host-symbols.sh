#!/usr/bin/env bash
# check-host-symbols.sh HOST ARCHIVE: fails when the display-application
# stand-in defines or imports any function of the library (it must reach it
# through dlopen alone).
set -euo pipefail
host=$1; archive=$2
lib_syms=$(nm --defined-only -g "$archive" 2>/dev/null | awk '$2 ~ /^[TDBR]$/ {print $3}' | sort -u)
host_syms=$(nm -g "$host" | awk '{print $NF}' | sort -u)
common=$(comm -12 <(printf '%s\n' "$lib_syms") <(printf '%s\n' "$host_syms"))
if [ -n "$common" ]; then
  echo "avmhost holds library symbols:"; printf '%s\n' "$common" | head -20; exit 1
fi
echo "avmhost holds no library symbol ($(printf '%s\n' "$lib_syms" | wc -l) checked)"
