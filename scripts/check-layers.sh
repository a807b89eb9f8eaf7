#!/usr/bin/env bash
# Fails when a file under src/ includes a header of a layer above its own,
# or when modules include each other in a circle.
# Layers, lowest first; a layer may include its own headers and those of
# every layer below it. res/ (resource ids) may be included from anywhere.
#   scripts/check-layers.sh [SRC]    SRC: the source tree (default src/)
set -u
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SRC=${1:-$ROOT/src}
LAYERS=(res common state net payload script engine ui launcher app)

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
  rel=${file#"$SRC"/}
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
      echo "check-layers: $rel:$line includes \"$inc\": $layer may not use $target" >&2
      bad=1
    fi
  done < <(grep -n -o '^#include "[^"]*"' "$file" | sed 's/#include "\(.*\)"/\1/')
done < <(find "$SRC" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.rc' -o -name '*.rci' \) | sort)

if [ "$bad" -ne 0 ]; then
  echo "check-layers: includes point upward (order: ${LAYERS[*]})" >&2
  exit 1
fi
echo "check-layers: $checked includes, all pointing down (${LAYERS[*]})"

# Modules (a .cpp with its .h) must not include each other in a circle,
# within a layer too: each circle found is listed with its includes.
python3 - "$SRC" <<'PY' || exit 1
import os, re, sys
src = sys.argv[1]
graph = {}
for folder, _, files in os.walk(src):
    for name in sorted(files):
        if not name.endswith((".cpp", ".h")):
            continue
        rel = os.path.relpath(os.path.join(folder, name), src).replace(os.sep, "/")
        module = rel.rsplit(".", 1)[0]
        edges = graph.setdefault(module, {})
        with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = re.match(r'#include "([^"]+)"', line)
                if not m:
                    continue
                inc = m.group(1) if "/" in m.group(1) else os.path.dirname(rel) + "/" + m.group(1)
                target = inc.rsplit(".", 1)[0]
                if target != module and os.path.exists(os.path.join(src, inc)):
                    edges.setdefault(target, "%s:%d" % (rel, number))
# Tarjan's strongly connected components, without recursion.
index, low, stack, on_stack, circles = {}, {}, [], set(), []
for root in sorted(graph):
    if root in index:
        continue
    work = [(root, iter(sorted(graph[root])))]
    index[root] = low[root] = len(index)
    stack.append(root); on_stack.add(root)
    while work:
        node, children = work[-1]
        child = next(children, None)
        if child is not None:
            if child not in graph:
                continue
            if child not in index:
                index[child] = low[child] = len(index)
                stack.append(child); on_stack.add(child)
                work.append((child, iter(sorted(graph[child]))))
            elif child in on_stack:
                low[node] = min(low[node], index[child])
            continue
        work.pop()
        if work:
            low[work[-1][0]] = min(low[work[-1][0]], low[node])
        if low[node] == index[node]:
            members = []
            while True:
                member = stack.pop(); on_stack.discard(member); members.append(member)
                if member == node:
                    break
            if len(members) > 1:
                circles.append(sorted(members))
for members in circles:
    print("check-layers: modules in a circle: " + " <-> ".join(members), file=sys.stderr)
    for module in members:
        for target, where in sorted(graph[module].items()):
            if target in members:
                print("  %s includes %s" % (where, target), file=sys.stderr)
if circles:
    sys.exit(1)
print("check-layers: %d modules, no circle among them" % len(graph))
PY
