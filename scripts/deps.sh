#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's
# packages only. Safe to run again: it does nothing once all is in place.
set -euo pipefail

PKGS=(
  cmake make ninja-build pkg-config dpkg-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  wine wine32:i386 wine64
  xvfb x11-utils xdotool imagemagick
  gcab cabextract zip unzip
  googletest
  python3 python3-pyftpdlib openssl file
)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  missing+=("i386-arch")
fi
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# the zlib source (for minizip) comes through a deb-src entry
SRC_LIST=/etc/apt/sources.list.d/stowaway-deb-src.sources
[ -f "$SRC_LIST" ] || missing+=("deb-src")

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "deps: installing ${missing[*]}"

export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
if [ ! -f "$SRC_LIST" ]; then
  $SUDO tee "$SRC_LIST" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${PKGS[@]}"
