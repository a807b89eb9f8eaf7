#!/usr/bin/env bash
# Screenshots of the status windows (normal and small) and the license
# dialog of a sample package, taken under the project's Wine session.
#   scripts/screenshots.sh [OUTDIR]      (default build/screenshots)
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${1:-$ROOT/build/screenshots}
[ -f "$ROOT/build/wine/session.env" ] || bash "$ROOT/scripts/winenv.sh" start >/dev/null
python3 "$ROOT/tests/e2e/runkit.py" screenshots "$OUT"
