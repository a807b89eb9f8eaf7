#!/usr/bin/env bash
# Runs a Windows program under the project's Wine session (of the current
# lane, see winenv.sh), starting the session first when it is not up.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
lane=${STOWAWAY_LANE:-}
if [ -z "$lane" ] && [[ "${CTEST_RESOURCE_GROUP_0_WINE:-}" =~ id:([0-9]+) ]]; then
  lane=${BASH_REMATCH[1]}
fi
STATE_DIR=$ROOT/build/wine
[ "${lane:-1}" = 1 ] || STATE_DIR=$ROOT/build/wine/lane$lane
export WINEPREFIX=$STATE_DIR/prefix
export WINEDEBUG=-all
# STOWAWAY_DLLOVERRIDES adds load orders of a test's own (a planted library
# taken before Wine's, say).
export WINEDLLOVERRIDES="mscoree,mshtml=${STOWAWAY_DLLOVERRIDES:+;$STOWAWAY_DLLOVERRIDES}"
if [ ! -f "$STATE_DIR/session.env" ]; then
  bash "$ROOT/scripts/winenv.sh" start >/dev/null || exit 1
fi
set -a; . "$STATE_DIR/session.env"; set +a
. "$ROOT/scripts/wine-loader.sh"
exec "$WINE" "$@"
