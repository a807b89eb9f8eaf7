#!/usr/bin/env bash
# Fails when a file under src/ includes a header of a layer above its own.
# Layers, lowest first; a layer may include its own headers and those of
# every layer below it. res/ (resource ids) may be included from anywhere.
set -u
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
LAYERS=(res common state net payload script ui launcher app)

rank() {
  local i
  for i in "${!LAYERS[@]}"; do
    [ "${LAYERS[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  echo -1
}

bad=0
checked=0
while IFS= read -r file; do
  rel=${file#"$ROOT"/src/}
  layer=${rel%%/*}
  own=$(rank "$layer")
  if [ "$own" -lt 0 ]; then
    echo "check-layers: $rel lies in no known layer" >&2
    bad=1
    continue
  fi
  while IFS=: read -r line inc; do
    target=${inc%%/*}
    [ "$target" = "$inc" ] && continue  # a header beside the file
    r=$(rank "$target")
    [ "$r" -lt 0 ] && continue          # not one of ours (system, zlib)
    checked=$((checked + 1))
    if [ "$r" -gt "$own" ]; then
      echo "check-layers: src/$rel:$line includes \"$inc\": $layer may not use $target" >&2
      bad=1
    fi
  done < <(grep -n -o '^#include "[^"]*"' "$file" | sed 's/#include "\(.*\)"/\1/')
done < <(find "$ROOT/src" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.rc' -o -name '*.rci' \) | sort)

if [ "$bad" -ne 0 ]; then
  echo "check-layers: includes point upward (order: ${LAYERS[*]})" >&2
  exit 1
fi
echo "check-layers: $checked includes, all pointing down (${LAYERS[*]})"
