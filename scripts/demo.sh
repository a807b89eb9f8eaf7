#!/usr/bin/env bash
# The demo: builds a sample package (a few MiB of generated files in one
# cabinet, a sample setup program, a license, five languages), runs it under
# Wine headless with tracemon attached, accepts the license as a user would,
# and prints the launcher's exit code and where the trace and screenshots are.
#   scripts/demo.sh [OUTDIR]      (default build/demo)
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${1:-$ROOT/build/demo}
bash "$ROOT/scripts/winenv.sh" start >/dev/null
python3 "$ROOT/tests/e2e/runkit.py" demo "$OUT"
