#!/usr/bin/env bash
# Payload benchmark: builds a package of about 200 MiB (about 2,000 files,
# half compressible text, half random bytes, in one cabinet) and prints, from
# one run, the copy-out and unpacking speed of the launcher's routines under
# Wine beside cabextract on the same cabinet and a plain cp of the same bytes.
# Figures only; nothing is asserted.
#   scripts/bench.sh [FILES [TOTAL_MIB]]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=${STOWAWAY_BIN:-$ROOT/build/win32/bin}
FILES=${1:-2000}
TOTAL_MIB=${2:-200}
WORK=$ROOT/build/bench
WINE_RUN=$ROOT/scripts/wine-run.sh
winpath() { local p; p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); echo "Z:${p//\//\\}"; }
now() { date +%s.%N; }
# bytes, start, end -> "X MB in Y s: Z MB/s"
mbps() { python3 -c "import sys; b,s=float(sys.argv[1]),float(sys.argv[3])-float(sys.argv[2]); print('%.1f MB in %.2f s: %.1f MB/s' % (b/1048576, s, b/1048576/s))" "$1" "$2" "$3"; }

for exe in packer.exe payloadtool.exe launcher.exe; do
  [ -f "$BIN/$exe" ] || { echo "bench: $BIN/$exe missing; run make build" >&2; exit 1; }
done
rm -rf "$WORK"
mkdir -p "$WORK/data"

echo "bench: making $FILES files, about $TOTAL_MIB MiB"
python3 - "$WORK/data" "$FILES" "$TOTAL_MIB" <<'PY'
import os, random, sys
root, files, total = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]) * 1048576
rnd = random.Random(2026)
words = [b"setup", b"launcher", b"payload", b"cabinet", b"folder", b"version", b"install",
         b"program", b"file", b"data", b"window", b"progress", b"language", b"script"]
sizes = [rnd.randint(1, 200) for _ in range(files)]
scale = total / sum(sizes)
for i, weight in enumerate(sizes):
    size = max(1, int(weight * scale))
    folder = os.path.join(root, "dir%02d" % (i % 40), "sub%d" % (i % 3))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "file%04d.bin" % i), "wb") as f:
        if i % 2:
            f.write(os.urandom(size))
        else:
            text = b" ".join(rnd.choice(words) for _ in range(size // 6 + 1))
            f.write(text[:size])
PY
DATA_BYTES=$(find "$WORK/data" -type f -printf "%s\n" | awk "{s+=\$1} END {print s}")

echo "bench: packing (FCI, MSZIP)"
t0=$(now)
"$WINE_RUN" "$BIN/packer.exe" --out "$(winpath "$WORK/setup.exe")" --folder "$(winpath "$WORK/data")" >/dev/null
t1=$(now)
echo "  packer: $(mbps "$DATA_BYTES" "$t0" "$t1") (input)"

echo "bench: launcher routines under Wine"
"$WINE_RUN" "$BIN/payloadtool.exe" bench "$(winpath "$WORK/setup.exe")" "$(winpath "$WORK/run")" | sed 's/^/  /'
CAB=$WORK/run/staged.cab
CAB_BYTES=$(stat -c %s "$CAB")

echo "bench: Linux tools on the same cabinet"
t0=$(now)
cabextract -q -d "$WORK/cabextract" "$CAB"
t1=$(now)
echo "  cabextract: $(mbps "$DATA_BYTES" "$t0" "$t1") written"
t0=$(now)
cp "$CAB" "$WORK/copy.cab"
sync "$WORK/copy.cab"
t1=$(now)
echo "  cp: $(mbps "$CAB_BYTES" "$t0" "$t1")"
if diff -rq "$WORK/cabextract" "$WORK/run/unpacked" >/dev/null; then
  echo "bench: the launcher's tree matches cabextract's"
else
  echo "bench: the launcher's tree differs from cabextract's" >&2
fi
rm -rf "$WORK"
