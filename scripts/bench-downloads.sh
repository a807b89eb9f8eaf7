#!/usr/bin/env bash
# Download benchmark: against the loopback servers of tests/servers, prints
# the launcher's download speed over HTTP, HTTPS and FTP beside curl on the
# same files, how long a cancel takes to end a transfer that waits on a
# silent server, and how many requests a slow server receives.
# Figures only; nothing is asserted.
#   scripts/bench-downloads.sh [SIZE_MIB]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=${STOWAWAY_BIN:-$(bash "$ROOT/scripts/arches.sh" --bin)}
SIZE_MIB=${1:-64}
WORK=$ROOT/build/bench-downloads
WINE_RUN=$ROOT/scripts/wine-run.sh
PYTHON=/usr/bin/python3
winpath() { echo "Z:${1//\//\\}"; }

[ -f "$BIN/nettool.exe" ] || { echo "bench: $BIN/nettool.exe missing; run make build" >&2; exit 1; }
rm -rf "$WORK"
mkdir -p "$WORK"
SERVERS=$WORK/servers
"$PYTHON" "$ROOT/tests/servers/netservers.py" --workdir "$SERVERS" --idle 300 --ftp-hold 30 \
  </dev/null >/dev/null 2>&1 &
SERVER_PID=$!
stop_servers() {
  [ -d "$SERVERS" ] && touch "$SERVERS/stop"
  wait "$SERVER_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap stop_servers EXIT
for _ in $(seq 1 600); do [ -f "$SERVERS/servers.info" ] && break; sleep 0.1; done
info() { grep "^$1=" "$SERVERS/servers.info" | cut -d= -f2; }
HTTP=$(info http_port); HTTPS=$(info https_port); FTP=$(info ftp_port); FAULT=$(info fault_port)
WWW=$(info root)
head -c $((SIZE_MIB * 1048576)) /dev/urandom >"$WWW/big.bin"
mkdir -p "$WWW/ftpstall/4096"
head -c 100000 /dev/urandom >"$WWW/ftpstall/4096/held.bin"

# url, name: the launcher's transfer, then curl's
speed() {
  local out
  out=$("$WINE_RUN" "$BIN/nettool.exe" get "$1" "$(winpath "$WORK/$2")")
  echo "  $2: $(echo "$out" | "$PYTHON" -c "
import re, sys
t = sys.stdin.read(); r = re.search(r'result=(\d+) bytes=(\d+) ms=(\d+)', t)
code, size, ms = map(int, r.groups())
print('result %d, %.1f MiB in %.2f s: %.1f MiB/s' % (code, size / 1048576, ms / 1000, size / 1048576 / max(ms, 1) * 1000))")"
  cmp -s "$WWW/big.bin" "$WORK/$2" || echo "  $2: the file differs from the server's" >&2
  rm -f "$WORK/$2"
}

echo "bench: $SIZE_MIB MiB over loopback, the launcher under Wine"
speed "http://127.0.0.1:$HTTP/big.bin" http.bin
speed "ftp://127.0.0.1:$FTP/big.bin" ftp.bin
# The HTTPS server's authority is not trusted in the prefix: only timed with curl.
echo "bench: curl on the same files"
for url in "http://127.0.0.1:$HTTP/big.bin" "ftp://127.0.0.1:$FTP/big.bin" "https://127.0.0.1:$HTTPS/big.bin"; do
  curl -sk -o "$WORK/curl.bin" -w "  ${url%%:*}: %{size_download} bytes in %{time_total} s\n" "$url"
done

echo "bench: cancel 1 s into a transfer that waits (time from the cancel to the return)"
cancel() {
  echo "  $2: $("$WINE_RUN" "$BIN/nettool.exe" cancel "$1" "$(winpath "$WORK/cancel.bin")" 1000 2>/dev/null)"
  rm -f "$WORK/cancel.bin"
}
cancel "http://127.0.0.1:$FAULT/late/30000/10" "no answer yet"
cancel "http://127.0.0.1:$FAULT/stall/100000/30000" "body stalled"
cancel "ftp://127.0.0.1:$FTP/ftpstall/4096/held.bin" "FTP data stalled"

echo "bench: a server that answers after 17 s"
before=$(grep -c "GET /late/17000" "$SERVERS/requests.log" || true)
echo "  $("$WINE_RUN" "$BIN/nettool.exe" get "http://127.0.0.1:$FAULT/late/17000/1000" "$(winpath "$WORK/late.bin")")"
after=$(grep -c "GET /late/17000" "$SERVERS/requests.log" || true)
echo "  requests received: $((after - before))"
