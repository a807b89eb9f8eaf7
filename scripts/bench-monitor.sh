#!/usr/bin/env bash
# Monitor benchmark: how long a small package (the launcher, its
# configuration and a setup program side by side) runs with no monitor
# window, and with a monitor and a list window that do not answer
# (tracecheck's hung windows). Prints the median of a few runs each.
# Figures only; nothing is asserted.
#   scripts/bench-monitor.sh [RUNS]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=${STOWAWAY_BIN:-$(bash "$ROOT/scripts/arches.sh" --bin)}
RUNS=${1:-5}
WINE_RUN=$ROOT/scripts/wine-run.sh
for exe in launcher.exe fakesetup.exe tracecheck.exe; do
  [ -f "$BIN/$exe" ] || { echo "bench-monitor: $BIN/$exe missing; run make build" >&2; exit 1; }
done
# Packages run from a scratch folder, never from the checkout.
WORK=$(mktemp -d /tmp/stowaway-bench-monitor.XXXXXX)
HUNG_PID=
cleanup() {
  touch "$WORK/release"
  [ -n "$HUNG_PID" ] && wait "$HUNG_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
winpath() { echo "Z:${1//\//\\}"; }

cp "$BIN/launcher.exe" "$WORK/Sample.exe"
cp "$BIN/fakesetup.exe" "$WORK/fakesetup.exe"
printf '[General]\r\nGuid={3A0C1D52-6E4B-4F7A-9C2E-81D5B0F47E16}\r\nProductName=Bench\r\n[Runtime]\r\nExeFileName=fakesetup.exe\r\nCmdLine=--exit 0\r\nLaunchExe=1\r\nDeleteFiles=0\r\nTrayIcon=0\r\n' >"$WORK/Sample.cfg"

# The median run time in seconds of RUNS runs.
runs() {
  local times=()
  for _ in $(seq "$RUNS"); do
    local t0 t1
    t0=$(date +%s.%N)
    (cd "$WORK" && "$WINE_RUN" "$WORK/Sample.exe" /S </dev/null >/dev/null 2>&1) || true
    t1=$(date +%s.%N)
    times+=("$(awk "BEGIN {print $t1 - $t0}")")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.2f s", a[int((NR+1)/2)]}'
}

"$WINE_RUN" "$WORK/Sample.exe" /S </dev/null >/dev/null 2>&1 || true  # warm the prefix
echo "bench-monitor: no monitor: $(runs)"
(cd "$WORK" && exec "$WINE_RUN" "$BIN/tracecheck.exe" hungwindows "$(winpath "$WORK/ready")" \
    "$(winpath "$WORK/release")" >"$WORK/hung.txt" 2>&1) &
HUNG_PID=$!
for _ in $(seq 600); do [ -f "$WORK/ready" ] && break; sleep 0.1; done
[ -f "$WORK/ready" ] || { echo "bench-monitor: tracecheck did not start" >&2; exit 1; }
echo "bench-monitor: hung monitor and list windows: $(runs)"
touch "$WORK/release"
wait "$HUNG_PID" || true
HUNG_PID=
sed 's/^/  /' "$WORK/hung.txt"
