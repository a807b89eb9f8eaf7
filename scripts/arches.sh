#!/usr/bin/env bash
# The architectures whose programs this machine can run, and so tests: x64
# always, x86 too when 32-bit code executes here (scripts/arch-probe.sh) and
# Wine's 32-bit loader is installed.
#   arches.sh          prints "x86 x64" or "x64"
#   arches.sh --why    prints one line that says which and why
#   arches.sh --bin    the programs the scripts run by default: the x86
#                      build's where 32-bit code runs, else the x64 build's
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$ROOT/scripts/wine-loader.sh"
arches="x64"
why="32-bit code cannot execute here"
if bash "$ROOT/scripts/arch-probe.sh"; then
  if [ -n "$WINE32" ]; then
    arches="x86 x64"; why="32-bit code runs here"
  else
    why="Wine's 32-bit loader (wine32) is not installed"
  fi
fi
if [ "${1:-}" = "--bin" ]; then
  if [ "$arches" = x64 ]; then echo "$ROOT/build/win64/bin"; else echo "$ROOT/build/win32/bin"; fi
elif [ "${1:-}" = "--why" ]; then
  if [ "$arches" = x64 ]; then
    echo "this machine tests x64 only ($why)"
  else
    echo "this machine tests x86 and x64 ($why)"
  fi
else
  echo "$arches"
fi
