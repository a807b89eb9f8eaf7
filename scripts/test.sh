#!/usr/bin/env bash
# make test: the whole suite of every architecture this machine can execute
# (scripts/arches.sh), one after the other, each in its own build folder:
# x86 (build/win32) where 32-bit code runs, x64 (build/win64) everywhere.
# Extra arguments go to ctest (-R x64.e2e, say).
set -u
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
echo "test: $(bash scripts/arches.sh --why)"
status=0
summary=()
for arch in $(bash scripts/arches.sh); do
  preset=win32
  [ "$arch" = x64 ] && preset=win64
  start=$(date +%s)
  if ctest --preset "$preset" "$@"; then
    result="passed"
  else
    result="FAILED"; status=1
  fi
  summary+=("test: $arch suite $result in $(( $(date +%s) - start )) s")
done
printf '%s\n' "${summary[@]}"
exit $status
