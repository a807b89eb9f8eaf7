#!/usr/bin/env bash
# The project's Wine sessions: a prefix under build/, a persistent
# wineserver, and Xvfb with a window manager when no display is set.
#
# Test programs that run side by side each take a lane: a session of its
# own (prefix, wineserver, display), so that they cannot see each other's
# windows, files, registry or services. Lane 1 lives in build/wine, lane N
# in build/wine/laneN. The lane is STOWAWAY_LANE, else the "wine" resource
# ctest gave the test, else 1.
#   winenv.sh start [--lanes N] [--check PROGRAM]
#                                 start lanes 1..N (default: the current lane);
#                                 with --check, fail unless "PROGRAM --help"
#                                 starts and ends with 0 in each lane: the
#                                 architecture under test can run here
#   winenv.sh stop                stop every lane
#   winenv.sh env                 the current lane's settings
set -u
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEDEBUG=-all
# No Mono or Gecko install prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
. "$ROOT/scripts/wine-loader.sh"

current_lane() {
  local lane=${STOWAWAY_LANE:-}
  if [ -z "$lane" ] && [[ "${CTEST_RESOURCE_GROUP_0_WINE:-}" =~ id:([0-9]+) ]]; then
    lane=${BASH_REMATCH[1]}
  fi
  echo "${lane:-1}"
}

use_lane() {
  LANE=$1
  STATE_DIR=$ROOT/build/wine
  [ "$LANE" = 1 ] || STATE_DIR=$ROOT/build/wine/lane$LANE
  export WINEPREFIX=$STATE_DIR/prefix
  ENV_FILE=$STATE_DIR/session.env
}

alive() {
  [ -f "$STATE_DIR/$1" ] && kill -0 "$(cat "$STATE_DIR/$1")" 2>/dev/null
}

# Wine waits up to two seconds for a window manager each time it shows or
# hides a window: our own display gets a small one, which also draws the
# title bars a user sees. Fails when the display turns out to have a window
# manager already (it is then not ours).
start_window_manager() {
  alive openbox.pid && return
  setsid openbox --sm-disable </dev/null >"$STATE_DIR/openbox.log" 2>&1 &
  echo $! >"$STATE_DIR/openbox.pid"
  local i
  for i in $(seq 200); do
    alive openbox.pid || break
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && return
    sleep 0.05
  done
  echo "winenv: openbox did not start on $DISPLAY:" >&2
  cat "$STATE_DIR/openbox.log" >&2
  kill "$(cat "$STATE_DIR/openbox.pid")" 2>/dev/null
  rm -f "$STATE_DIR/openbox.pid"
  return 1
}

start_xvfb() {
  local fifo=$STATE_DIR/displayfd
  rm -f "$fifo"; mkfifo "$fifo"
  setsid Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" 9>&- </dev/null >/dev/null 2>&1 &
  echo $! >"$STATE_DIR/xvfb.pid"
  local num
  read -r -t 20 num <"$fifo" || { echo "winenv: Xvfb did not start" >&2; return 1; }
  rm -f "$fifo"
  echo "DISPLAY=:$num" >"$ENV_FILE"
}

start_display() {
  # Lane 1 on a desktop of the user's own uses it, with its window manager;
  # the other lanes always get a display of their own.
  if [ "$LANE" = 1 ] && [ -n "${DISPLAY:-}" ] && [ ! -f "$STATE_DIR/xvfb.pid" ]; then
    echo "DISPLAY=$DISPLAY" >"$ENV_FILE"
    return
  fi
  local try
  for try in 1 2 3; do
    if ! alive xvfb.pid || [ ! -f "$ENV_FILE" ]; then
      [ -f "$STATE_DIR/xvfb.pid" ] && kill "$(cat "$STATE_DIR/xvfb.pid")" 2>/dev/null
      # Displays are numbered first come, first served: one lane at a time.
      (
        flock 9 || exit 1
        start_xvfb
      ) 9>"$ROOT/build/wine/display.lock" || return 1
    fi
    DISPLAY=$(sed -n 's/^DISPLAY=//p' "$ENV_FILE") start_window_manager && return
    kill "$(cat "$STATE_DIR/xvfb.pid")" 2>/dev/null
    rm -f "$STATE_DIR/xvfb.pid" "$ENV_FILE"
  done
  return 1
}

start_lane() {
  use_lane "$1"
  mkdir -p "$STATE_DIR"
  start_display || return 1
  set -a; . "$ENV_FILE"; set +a
  setsid wineserver -p </dev/null >/dev/null 2>&1
  # The first program of a new server has Wine create or update the prefix
  # and start its services, and waits for that; a second "wineboot -i" would
  # start a second service manager that answers half of the requests late.
  # The services must not hold our pipes.
  setsid "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
  if [ ! -f "$STATE_DIR/configured" ]; then
    # A crashing test program must end, not wait in a debugger dialog.
    "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
    "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1 /f </dev/null >/dev/null 2>&1
    touch "$STATE_DIR/configured"
  fi
  if [ -n "$CHECK" ]; then
    local rc
    "$WINE" "$CHECK" --help </dev/null >"$STATE_DIR/check.log" 2>&1
    rc=$?
    if [ $rc -ne 0 ]; then
      echo "winenv: lane $LANE cannot run $(basename "$CHECK") (exit code $rc):" >&2
      head -5 "$STATE_DIR/check.log" >&2
      return 1
    fi
  fi
  echo "winenv: lane $LANE, prefix $WINEPREFIX, display ${DISPLAY}"
}

stop_lane() {
  use_lane "$1"
  [ -d "$STATE_DIR" ] || return 0
  wineserver -k </dev/null >/dev/null 2>&1
  for f in openbox.pid xvfb.pid; do
    if [ -f "$STATE_DIR/$f" ]; then
      kill "$(cat "$STATE_DIR/$f")" 2>/dev/null
      rm -f "$STATE_DIR/$f"
    fi
  done
  rm -f "$ENV_FILE"
}

case "${1:-}" in
  start)
    lanes=$(current_lane)
    first=$lanes
    CHECK=""
    shift
    while [ $# -gt 0 ]; do
      case "$1" in
        --lanes)
          [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || { echo "winenv: --lanes needs a number" >&2; exit 2; }
          first=1; lanes=$2; shift 2 ;;
        --check)
          [ -f "${2:-}" ] || { echo "winenv: no program to check: ${2:-}" >&2; exit 2; }
          CHECK=$2; shift 2 ;;
        *) echo "winenv: unknown option $1" >&2; exit 2 ;;
      esac
    done
    echo "winenv: $(bash "$ROOT/scripts/arches.sh" --why)"
    # The lanes start side by side: a fresh prefix takes a while to create.
    pids=()
    for lane in $(seq "$first" "$lanes"); do
      start_lane "$lane" &
      pids+=($!)
    done
    status=0
    for pid in "${pids[@]}"; do
      wait "$pid" || status=1
    done
    exit $status
    ;;
  stop)
    stop_lane 1
    for dir in "$ROOT"/build/wine/lane*; do
      [ -d "$dir" ] && stop_lane "${dir##*/lane}"
    done
    echo "winenv: stopped"
    ;;
  env)
    use_lane "$(current_lane)"
    [ -f "$ENV_FILE" ] && cat "$ENV_FILE"
    echo "WINEPREFIX=$WINEPREFIX"
    echo "WINEDEBUG=$WINEDEBUG"
    ;;
  *)
    echo "usage: winenv.sh start [--lanes N] | stop | env" >&2; exit 2 ;;
esac
