#!/usr/bin/env bash
# Fails when the program imports a DLL that some supported Windows could
# take from beside the program (with everything that DLL imports in turn)
# before the DLL search is locked down. Only these are imported; every other
# system library is loaded at run time from the system folder.
set -u
exe=$1
allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll msvcrt.dll"
objdump=i686-w64-mingw32-objdump
file "$exe" | grep -q 'PE32+' && objdump=x86_64-w64-mingw32-objdump
command -v $objdump >/dev/null || objdump=objdump
dlls=$($objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}')
[ -n "$dlls" ] || { echo "no import table read from $exe"; exit 1; }
bad=0
for d in $dlls; do
  if echo "$allowed" | tr ' ' '\n' | grep -qx "$d"; then
    echo "import ok: $d"
  else
    echo "import NOT allowed: $d"; bad=1
  fi
done
file "$exe"
file "$exe" | grep -Eq "PE32 executable \(GUI\) Intel 80386|PE32\+ executable \(GUI\) x86-64" ||
  { echo "not a Windows GUI program for x86 or x64"; bad=1; }
exit $bad
