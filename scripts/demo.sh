#!/usr/bin/env bash
# The demo: builds a sample package (a few MiB of generated files in one
# cabinet, a sample setup program, a license, five languages), runs it under
# Wine headless with tracemon attached, accepts the license as a user would,
# and prints the launcher's exit code and where the trace and screenshots are.
#   scripts/demo.sh [OUTDIR]      (default build/demo)
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${1:-$ROOT/build/demo}
# The x86 package where 32-bit code runs, else the x64 one.
echo "demo: $(bash "$ROOT/scripts/arches.sh" --why): the package is built on the $(
  [ "$(bash "$ROOT/scripts/arches.sh")" = x64 ] && echo x64 || echo x86) launcher"
bash "$ROOT/scripts/winenv.sh" start >/dev/null
python3 "$ROOT/tests/e2e/runkit.py" demo "$OUT"
