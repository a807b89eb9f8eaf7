# Sourced by the scripts that start Windows programs: which Wine loader to use.
# Debian's "wine" wrapper takes the 32-bit loader whenever wine32 is
# installed, even on a machine that cannot execute 32-bit code; the 64-bit
# loader starts 64-bit programs itself and hands 32-bit ones on to the
# 32-bit loader where one is installed. So every program starts through
# the 64-bit loader when there is one.
#   WINE       the loader to start programs with
#   WINE32     the 32-bit loader, empty when none is installed
WINE=
for candidate in "$(command -v wine64 2>/dev/null)" /usr/lib/wine/wine64 /usr/lib64/wine/wine64; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then WINE=$candidate; break; fi
done
WINE32=
[ -x /usr/lib/wine/wine ] && WINE32=/usr/lib/wine/wine
if [ -n "$WINE" ]; then
  export WINELOADER=$WINE
else
  WINE=wine
fi
