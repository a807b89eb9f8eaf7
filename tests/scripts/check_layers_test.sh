#!/usr/bin/env bash
# scripts/check-layers.sh on small trees: it passes a clean one and fails,
# naming the place, on an upward include and on a circle of modules.
set -u
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# name | files (path:include,include;...) | exit code | text the output must hold
CASES=(
  "clean|common/a.cpp:common/a.h;common/a.h:;ui/w.cpp:common/a.h|0|no circle"
  "upward include|common/a.cpp:ui/w.h;ui/w.h:|1|common/a.cpp:1 includes \"ui/w.h\""
  "two modules in a circle|common/a.cpp:common/b.h;common/a.h:;common/b.cpp:common/a.h;common/b.h:|1|common/a <-> common/b"
  "three modules in a circle|script/x.cpp:script/y.h;script/x.h:;script/y.cpp:script/z.h;script/y.h:;script/z.cpp:script/x.h;script/z.h:|1|script/x <-> script/y <-> script/z"
)

failed=0
n=0
for c in "${CASES[@]}"; do
  IFS='|' read -r name files want text <<<"$c"
  n=$((n + 1))
  src=$WORK/t$n
  IFS=';' read -ra entries <<<"$files"
  for entry in "${entries[@]}"; do
    path=${entry%%:*}
    incs=${entry#*:}
    mkdir -p "$(dirname "$src/$path")"
    : >"$src/$path"
    IFS=',' read -ra list <<<"$incs"
    for inc in "${list[@]}"; do
      [ -n "$inc" ] && echo "#include \"$inc\"" >>"$src/$path"
    done
  done
  out=$(bash "$ROOT/scripts/check-layers.sh" "$src" 2>&1)
  rc=$?
  if [ "$rc" -ne "$want" ] || [[ "$out" != *"$text"* ]]; then
    echo "FAIL: $name: exit $rc (want $want), output:" >&2
    echo "$out" >&2
    failed=1
  else
    echo "ok: $name"
  fi
done
exit $failed
