#!/usr/bin/env bash
# Screenshots of every window a user meets, in every language, taken under
# the project's Wine session: build/screenshots/<window>-<language>.png for
# the normal status window (also during the pause after the file table:
# status-pause), the small one, the license dialog, the question Cancel
# asks in both (confirm-status, confirm-license), the wait window, the help
# and the information box, and every error box (error-<kind>).
#   scripts/screenshots.sh [OUTDIR]      (default build/screenshots)
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${1:-$ROOT/build/screenshots}
STATE_DIR=$ROOT/build/wine
[ -f "$STATE_DIR/session.env" ] || bash "$ROOT/scripts/winenv.sh" start >/dev/null
set -a; . "$STATE_DIR/session.env"; set +a

# Windows get their title bars from a window manager: start one on the
# session's display unless one of ours runs there already, and stop it
# again at the end when it was started here.
OPENBOX_PID=$STATE_DIR/openbox.pid
STARTED_OPENBOX=
if ! { [ -f "$OPENBOX_PID" ] && kill -0 "$(cat "$OPENBOX_PID")" 2>/dev/null; }; then
  if command -v openbox >/dev/null; then
    setsid openbox </dev/null >/dev/null 2>&1 &
    echo $! >"$OPENBOX_PID"
    STARTED_OPENBOX=1
    sleep 1
  fi
fi
stop_openbox() {
  if [ -n "$STARTED_OPENBOX" ] && [ -f "$OPENBOX_PID" ]; then
    kill "$(cat "$OPENBOX_PID")" 2>/dev/null || true
    rm -f "$OPENBOX_PID"
  fi
}
trap stop_openbox EXIT

mkdir -p "$OUT"
python3 "$ROOT/tests/e2e/runkit.py" screenshots "$OUT"
