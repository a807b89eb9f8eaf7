#!/usr/bin/env bash
# Unpacks contrib/minizip of the distribution's zlib source package into
# build/deps/minizip (the build compiles it with the mingw toolchain).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DEST=$ROOT/build/deps/minizip
[ -f "$DEST/unzip.c" ] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
( cd "$work" && apt-get source -q zlib >/dev/null 2>&1 ) || {
  # apt may drop privileges to _apt, which cannot write a private temp folder
  chmod 755 "$work"; ( cd "$work" && apt-get source -q zlib >/dev/null ); }
src=$(ls -d "$work"/zlib-*/contrib/minizip | head -n1)
mkdir -p "$DEST"
cp "$src"/*.c "$src"/*.h "$DEST"/
echo "minizip: $(ls "$DEST" | wc -l) files from $(basename "$(dirname "$(dirname "$src")")")"
