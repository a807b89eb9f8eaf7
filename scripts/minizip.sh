#!/usr/bin/env bash
# Unpacks contrib/minizip of the distribution's zlib source package into
# build/deps/minizip (the build compiles it with the mingw toolchain).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DEST=$ROOT/build/deps/minizip
[ -f "$DEST/unzip.c" ] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# the newest source first; a mirror may lack one suite's sources, so every
# version apt knows of is tried in turn
chmod 755 "$work"  # apt may drop privileges to _apt
fetched=0
for v in "" $(apt-cache showsrc zlib 2>/dev/null | awk '/^Version:/ {print $2}' | sort -ru); do
  source_pkg=zlib${v:+=$v}
  if ( cd "$work" && apt-get source -q "$source_pkg" >/dev/null 2>&1 ); then fetched=1; break; fi
  rm -rf "${work:?}"/*
done
[ "$fetched" = 1 ] || { echo "minizip: could not fetch the zlib source package" >&2; exit 1; }
src=$(ls -d "$work"/zlib-*/contrib/minizip | head -n1)
mkdir -p "$DEST"
cp "$src"/*.c "$src"/*.h "$DEST"/
echo "minizip: $(ls "$DEST" | wc -l) files from $(basename "$(dirname "$(dirname "$src")")")"
