#!/usr/bin/env bash
# Benchmark of the launcher beside the bare FDI client, an NSIS installer,
# cabextract and cp on the same payload: see scripts/bench.py.
#   scripts/bench.sh          201 MiB payload
#   BIG=1 scripts/bench.sh    1 GiB payload
exec python3 "$(dirname "${BASH_SOURCE[0]}")/bench.py" "$@"
