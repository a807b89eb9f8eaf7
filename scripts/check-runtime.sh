#!/usr/bin/env bash
# Fails when the shipped program carries C++ runtime machinery it is built
# to do without: exception throwing and unwinding, the demangler, narrow
# strings, the POSIX thread layer. Any of them comes back when launcher code
# throws, uses std::string, std::thread or the like, or takes the library's
# own copy of the wide string code (built with exceptions) instead of
# src/common/wstringcode.cpp; see src/app/runtime.cpp. Also fails when the
# program is not stripped.
#   check-runtime.sh launcher.exe launcher.debug
set -u
exe=$1
symbols=$2
prefix=i686-w64-mingw32-
file "$exe" | grep -q 'PE32+' && prefix=x86_64-w64-mingw32-
nm=${prefix}nm
command -v $nm >/dev/null || nm=nm
objdump=${prefix}objdump
command -v $objdump >/dev/null || objdump=objdump
names=$($nm -C "$symbols" 2>/dev/null) || { echo "no symbols read from $symbols"; exit 1; }
bad=0
for pattern in __cxa_throw __cxa_begin_catch _Unwind_RaiseException __gxx_personality \
               __cxa_demangle 'basic_string<char' pthread_create pthread_once; do
  found=$(echo "$names" | grep -F -- "$pattern" | head -3)
  if [ -n "$found" ]; then
    echo "runtime piece NOT expected ($pattern):"; echo "$found" | sed 's/^/  /'; bad=1
  else
    echo "runtime ok: no $pattern"
  fi
done
if $objdump -h "$exe" | grep -q '\.debug_'; then
  echo "$exe is not stripped"; bad=1
fi
echo "size: $(stat -c %s "$exe") bytes"
exit $bad
