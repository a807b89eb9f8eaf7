#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's
# packages only. Safe to run again: it does nothing once all is in place.
# Wine's 32-bit side (wine32, the i386 architecture) is installed only where
# this machine can execute 32-bit code (scripts/arch-probe.sh); elsewhere the
# x86_64 programs are tested alone, under wine64.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

PKGS=(
  cmake make ninja-build pkg-config dpkg-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  wine wine64
  xvfb xauth x11-utils xdotool imagemagick
  gcab cabextract zip unzip
  googletest
  python3 python3-pyftpdlib openssl file
  openbox nsis osslsigncode
)

# Prints deb822 deb-src stanzas for every enabled "deb" entry of the given
# Debian release found in the machine's apt sources (both file formats).
debian_src_entries() {
  local codename=$1 f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v cn="$codename" '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && suites ~ cn && uris != "" && enabled != "no") {
          print "Types: deb-src"; print "URIs: " uris; print "Suites: " suites
          print "Components: " comps; if (signed != "") print "Signed-By: " signed; print ""
        }
        types = uris = suites = comps = signed = enabled = ""
      }
      /^[ \t]*$/ { flush(); next }
      /^#/ { next }
      { key = $1; sub(/:$/, "", key); $1 = ""; sub(/^ /, "")
        if (key == "Types") types = $0; else if (key == "URIs") uris = $0
        else if (key == "Suites") suites = $0; else if (key == "Components") comps = $0
        else if (key == "Signed-By") signed = $0; else if (key == "Enabled") enabled = $0 }
      END { flush() }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk -v cn="$codename" '
      $1 == "deb" {
        i = 2; opts = ""
        if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
        uri = $i; suite = $(i+1); comps = ""
        for (j = i + 2; j <= NF; j++) comps = comps (comps == "" ? "" : " ") $j
        if (suite ~ cn) { print "Types: deb-src"; print "URIs: " uri; print "Suites: " suite
                          print "Components: " comps; print "" }
      }' "$f"
  done
}

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

run32=0
bash "$ROOT/scripts/arch-probe.sh" && run32=1
if [ "$run32" = 1 ]; then
  PKGS+=(wine32:i386)
  echo "deps: this machine tests x86 and x64 (32-bit code runs here)"
else
  echo "deps: this machine tests x64 only (32-bit code cannot execute here)"
fi

missing=()
if [ "$run32" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
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
if [ "$run32" = 1 ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
fi
if [ ! -f "$SRC_LIST" ]; then
  # source entries mirror the machine's own Debian binary entries, so the
  # zlib source comes from wherever this machine already gets its packages
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  entries=$(debian_src_entries "$codename")
  if [ -z "$entries" ]; then
    echo "deps: no Debian '$codename' entry in the apt sources to derive deb-src from" >&2
    exit 1
  fi
  printf '%s\n' "$entries" | $SUDO tee "$SRC_LIST" >/dev/null
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${PKGS[@]}"
