#!/usr/bin/env bash
# The project's Wine session: one prefix per checkout under build/, a
# persistent wineserver, and Xvfb with a window manager when no display is
# set.
#   winenv.sh start | stop | env
set -u
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
STATE_DIR=$ROOT/build/wine
export WINEPREFIX=$STATE_DIR/prefix
export WINEDEBUG=-all
# No Mono or Gecko install prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
ENV_FILE=$STATE_DIR/session.env

alive() {
  [ -f "$STATE_DIR/$1" ] && kill -0 "$(cat "$STATE_DIR/$1")" 2>/dev/null
}

# Wine waits up to two seconds for a window manager each time it shows or
# hides a window: our own display gets a small one, which also draws the
# title bars a user sees.
start_window_manager() {
  alive openbox.pid && return
  setsid openbox --sm-disable </dev/null >/dev/null 2>&1 &
  echo $! >"$STATE_DIR/openbox.pid"
  local i
  for i in $(seq 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && return
    alive openbox.pid || break
    sleep 0.05
  done
  echo "winenv: openbox did not start" >&2
  exit 1
}

start_display() {
  if [ -n "${DISPLAY:-}" ] && [ ! -f "$STATE_DIR/xvfb.pid" ]; then
    # A desktop of the user's own comes with its own window manager.
    echo "DISPLAY=$DISPLAY" >"$ENV_FILE"
    return
  fi
  if ! alive xvfb.pid || [ ! -f "$ENV_FILE" ]; then
    [ -f "$STATE_DIR/xvfb.pid" ] && kill "$(cat "$STATE_DIR/xvfb.pid")" 2>/dev/null
    local fifo=$STATE_DIR/displayfd
    rm -f "$fifo"; mkfifo "$fifo"
    setsid Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1 &
    echo $! >"$STATE_DIR/xvfb.pid"
    local num
    read -r -t 20 num <"$fifo" || { echo "winenv: Xvfb did not start" >&2; exit 1; }
    rm -f "$fifo"
    echo "DISPLAY=:$num" >"$ENV_FILE"
  fi
  DISPLAY=$(sed -n 's/^DISPLAY=//p' "$ENV_FILE") start_window_manager
}

case "${1:-}" in
  start)
    mkdir -p "$STATE_DIR"
    start_display
    set -a; . "$ENV_FILE"; set +a
    setsid wineserver -p </dev/null >/dev/null 2>&1
    # wineboot creates or updates the prefix; its services must not hold our pipes.
    setsid wine wineboot -i </dev/null >/dev/null 2>&1
    if [ ! -f "$STATE_DIR/configured" ]; then
      # A crashing test program must end, not wait in a debugger dialog.
      wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
      wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1 /f </dev/null >/dev/null 2>&1
      touch "$STATE_DIR/configured"
    fi
    echo "winenv: prefix $WINEPREFIX, display ${DISPLAY}"
    ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1
    for f in openbox.pid xvfb.pid; do
      if [ -f "$STATE_DIR/$f" ]; then
        kill "$(cat "$STATE_DIR/$f")" 2>/dev/null
        rm -f "$STATE_DIR/$f"
      fi
    done
    rm -f "$ENV_FILE"
    echo "winenv: stopped"
    ;;
  env)
    [ -f "$ENV_FILE" ] && cat "$ENV_FILE"
    echo "WINEPREFIX=$WINEPREFIX"
    echo "WINEDEBUG=$WINEDEBUG"
    ;;
  *)
    echo "usage: winenv.sh start|stop|env" >&2; exit 2 ;;
esac
