#!/usr/bin/env bash
# Fails on any include in libavmcore's code (tests aside) that goes to a
# layer its line of libavmcore/layers.txt does not name. Public headers
# (include/) may include only each other and the standard library.
# One grep and one awk pass over the tree (a shell loop per include took
# a minute on a busy two-core machine).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
lib="$root/libavmcore"
cd "$lib"
rc=0
find . -path ./CMakeLists.txt -prune -o \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -print0 |
  sed -z 's|^\./||' | grep -zv '/test/' |
  xargs -0 grep -H -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*"' |
  awk -v layers="$lib/layers.txt" -v public_list=<(cd include && find . -type f | sed 's|^\./||') '
    # Longest layer name that prefixes the path.
    function layer_of(p,   i, best) {
      best = ""
      for (i = 1; i <= n; i++)
        if (index(p, name[i] "/") == 1 && length(name[i]) > length(best)) best = name[i]
      return best
    }
    BEGIN {
      while ((getline line < layers) > 0) {
        if (line ~ /^[[:space:]]*(#|$)/) continue
        k = split(line, w, /[[:space:]]+/)
        first = (w[1] == "") ? 2 : 1
        name[++n] = w[first]
        allowed[w[first]] = " "
        for (i = first; i <= k; i++) if (w[i] != "") allowed[w[first]] = allowed[w[first]] w[i] " "
      }
      while ((getline line < public_list) > 0) public[line] = 1
    }
    {
      colon = index($0, ":"); file = substr($0, 1, colon - 1); text = substr($0, colon + 1)
      if (file in outside || !match(text, /"[^"]*"/)) next
      inc = substr(text, RSTART + 1, RLENGTH - 2)
      if (inc in public) next                                    # public header
      if (file ~ /^include\//) {
        print file ": public header includes internal \"" inc "\""; bad = 1; next
      }
      dst = layer_of(inc)
      if (dst == "") next                                        # not a library header
      src = layer_of(file)
      if (src == "") { print file ": file outside every layer"; bad = 1; outside[file] = 1; next }
      if (index(allowed[src], " " dst " ") == 0) {
        print file " (" src ") includes \"" inc "\" (" dst ")"; bad = 1
      }
    }
    END { exit bad }' || rc=$?

if [ "$rc" -ne 0 ]; then
  echo "check-layers: includes against the layer order of libavmcore/layers.txt"
  exit 1
fi
echo "check-layers: every include follows libavmcore/layers.txt"
