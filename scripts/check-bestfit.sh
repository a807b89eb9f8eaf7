#!/usr/bin/env bash
# Fails when a call of WideCharToMultiByte under src/ may convert with a
# best fit: a character the code page lacks turned into a look-alike
# ("Łukasz" into "Lukasz"), which names another file or user. Every call
# converts to CP_UTF8 or passes WC_NO_BEST_FIT_CHARS; a call that may not
# says why on the line above with "bestfit: <reason>".
set -u
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

bad=0
checked=0
while IFS= read -r file; do
  # Each call, from its name to the first ";" after it, on one line, with
  # the line it starts on.
  while IFS=$'\t' read -r line call; do
    [ -z "$line" ] && continue
    checked=$((checked + 1))
    case "$call" in
      *"WideCharToMultiByte(CP_UTF8,"* | *WC_NO_BEST_FIT_CHARS*) continue ;;
    esac
    if [ "$line" -gt 1 ] && sed -n "$((line - 1))p" "$file" | grep -q 'bestfit:'; then
      continue
    fi
    echo "check-bestfit: ${file#"$ROOT"/}:$line: WideCharToMultiByte without WC_NO_BEST_FIT_CHARS" >&2
    bad=1
  done < <(awk '
    { text = (NR == 1 ? $0 : text "\n" $0) }
    END {
      n = split(text, lines, "\n")
      for (i = 1; i <= n; i++) {
        rest = lines[i]; at = index(rest, "WideCharToMultiByte(")
        if (!at || lines[i] ~ /^[ \t]*\/\//) continue
        call = substr(rest, at); j = i
        while (index(call, ";") == 0 && j < n) { j++; call = call " " lines[j] }
        gsub(/[ \t]+/, " ", call); gsub(/\( /, "(", call)
        printf "%d\t%s\n", i, call
      }
    }' "$file")
done < <(find "$ROOT/src" -type f \( -name '*.cpp' -o -name '*.h' \) | sort)

if [ "$bad" -ne 0 ]; then
  echo "check-bestfit: a conversion to a code page must not fall back to a look-alike" >&2
  exit 1
fi
echo "check-bestfit: $checked calls of WideCharToMultiByte, none with a best fit"
