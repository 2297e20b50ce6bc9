#!/usr/bin/env bash
# check-exports.sh LIB [INCLUDE_DIR]
# Fails when the shared library exports anything but the KRV_ C entry points,
# and, given the public include directory, when the KRV_ functions its
# headers declare differ from those the library exports (an entry point that
# a display application cannot declare, or a declaration that does not link).
set -euo pipefail
lib=$1
inc=${2:-}
syms=$(nm -D --defined-only "$lib" | awk '{print $3}')
[ -n "$syms" ] || { echo "no exported symbols in $lib"; exit 1; }
bad=$(printf '%s\n' "$syms" | grep -vE '^(KRV_GlobalImage_|KRV_TVDecoder_)' | grep -vE '^(_init|_fini)$' || true)
if [ -n "$bad" ]; then
  echo "unexpected exported symbols:"; printf '%s\n' "$bad"; exit 1
fi
echo "$(printf '%s\n' "$syms" | wc -l) exported symbols, all KRV_ entry points"
[ -n "$inc" ] || exit 0

headers=$(find "$inc" -maxdepth 1 -name '*.h' | sort)
[ -n "$headers" ] || { echo "no headers in $inc"; exit 1; }
# Declared entry points: the function name of every AVM_EXPORT declaration,
# comments removed first (a name in a comment declares nothing).
declared=$(perl -0777 -ne '
  s{/\*.*?\*/}{ }gs; s{//[^\n]*}{}g;
  s{^\s*#[^\n]*}{}gm;
  while (/\bAVM_EXPORT\b[^;{}]*?\b(KRV_\w+)\s*\(/g) { print "$1\n"; }' $headers | sort -u)
exported=$(printf '%s\n' "$syms" | grep -E '^KRV_' | sort -u)
missing=$(comm -23 <(printf '%s\n' "$declared") <(printf '%s\n' "$exported"))
undeclared=$(comm -13 <(printf '%s\n' "$declared") <(printf '%s\n' "$exported"))
rc=0
if [ -n "$missing" ]; then
  echo "declared in $inc but not exported:"; printf '  %s\n' $missing; rc=1
fi
if [ -n "$undeclared" ]; then
  echo "exported but declared in no header of $inc:"; printf '  %s\n' $undeclared; rc=1
fi
[ $rc -eq 0 ] && echo "$(printf '%s\n' "$declared" | wc -l) declared entry points, the same set as exported"
exit $rc
