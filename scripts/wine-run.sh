#!/usr/bin/env bash
# Runs a Windows program under the project's Wine session, starting the
# session first when it is not up.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
STATE_DIR=$ROOT/build/wine
export WINEPREFIX=$STATE_DIR/prefix
export WINEDEBUG=-all
# STOWAWAY_DLLOVERRIDES adds load orders of a test's own (a planted library
# taken before Wine's, say).
export WINEDLLOVERRIDES="mscoree,mshtml=${STOWAWAY_DLLOVERRIDES:+;$STOWAWAY_DLLOVERRIDES}"
if [ ! -f "$STATE_DIR/session.env" ]; then
  bash "$ROOT/scripts/winenv.sh" start >/dev/null || exit 1
fi
set -a; . "$STATE_DIR/session.env"; set +a
exec wine "$@"
