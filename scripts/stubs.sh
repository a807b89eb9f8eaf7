#!/usr/bin/env bash
# Puts each build's launcher, PAC unpacker and skinning library (the
# libraries it loads into its own process) into the bin/x86 or bin/x64
# folder of both builds of its kind, the layout of the kit, so that the
# packer of either architecture makes packages on either launcher
# (packer --arch). Kinds: the tested builds (win32, win64) and the shipping
# ones (release, release64).
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
for kind in "win32 win64" "release release64"; do
  set -- $kind
  for pair in "$1:x86" "$2:x64"; do
    from=$ROOT/build/${pair%%:*}/bin arch=${pair##*:}
    [ -f "$from/launcher.exe" ] || continue
    for to in "$ROOT/build/$1/bin" "$ROOT/build/$2/bin"; do
      [ -d "$to" ] || continue
      mkdir -p "$to/$arch"
      for f in launcher.exe QELTRON.dll Corvel.dll; do
        [ -f "$from/$f" ] && cp -p "$from/$f" "$to/$arch/$f"
      done
    done
  done
done
