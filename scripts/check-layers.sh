#!/usr/bin/env bash
# Fails on any include in libavmcore's code (tests aside) that goes to a
# layer its line of libavmcore/layers.txt does not name. Public headers
# (include/) may include only each other and the standard library.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lib="$root/libavmcore"
declare -A allowed
layers=()
while read -r layer deps; do
  [[ -z "$layer" || "$layer" == \#* ]] && continue
  layers+=("$layer")
  allowed[$layer]=" $layer $deps "
done < "$lib/layers.txt"

layer_of() {  # longest layer name that prefixes the path
  local p=$1 best=""
  for l in "${layers[@]}"; do
    [[ "$p" == "$l"/* && ${#l} -gt ${#best} ]] && best=$l
  done
  echo "$best"
}

bad=0
cd "$lib"
while IFS= read -r -d '' file; do
  case "$file" in */test/*) continue ;; esac
  src=$(layer_of "$file")
  while IFS= read -r inc; do
    [[ -f "include/$inc" ]] && continue              # public header
    if [[ "$file" == include/* ]]; then
      echo "$file: public header includes internal \"$inc\""; bad=1; continue
    fi
    dst=$(layer_of "$inc")
    [[ -z "$dst" ]] && continue                      # not a library header
    if [[ -z "$src" ]]; then
      echo "$file: file outside every layer"; bad=1; break
    fi
    if [[ "${allowed[$src]}" != *" $dst "* ]]; then
      echo "$file ($src) includes \"$inc\" ($dst)"; bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find . -path ./CMakeLists.txt -prune -o \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -print0 | sed -z 's|^\./||')

if [ "$bad" -ne 0 ]; then
  echo "check-layers: includes against the layer order of libavmcore/layers.txt"
  exit 1
fi
echo "check-layers: every include follows libavmcore/layers.txt"
