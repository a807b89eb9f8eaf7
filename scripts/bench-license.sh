#!/usr/bin/env bash
# License benchmark: packages whose license is an RTF and a UTF-8 text of
# about MIB MiB; prints how long the user waits for the first window (the
# wait window) and for the license dialog under Wine. Figures only.
#   scripts/bench-license.sh [MIB]      (default 5)
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
[ -f "$ROOT/build/wine/session.env" ] || bash "$ROOT/scripts/winenv.sh" start >/dev/null
python3 "$ROOT/tests/e2e/runkit.py" license-bench "${1:-5}"
