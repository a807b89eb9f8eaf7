#!/usr/bin/env bash
# Can this machine execute 32-bit x86 code? Runs a 93-byte i686 Linux program
# (exit(0) through int 0x80) written out here, so that nothing needs to be
# installed to ask. Some kernels (ia32_emulation=0, sandboxed runners, many
# virtual machines) refuse it with "Exec format error"; on those no 32-bit
# Windows program can run under Wine either.
#   arch-probe.sh          exit 0 when 32-bit code runs, 1 when it does not
set -u
probe=$(mktemp "${TMPDIR:-/tmp}/i686probe.XXXXXX") || exit 1
trap 'rm -f "$probe"' EXIT
# ELF header, one PT_LOAD program header, then: mov eax,1; xor ebx,ebx; int 0x80
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$probe"
printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$probe"
printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >>"$probe"
printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010' >>"$probe"
printf '\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000' >>"$probe"
printf '\000\020\000\000\270\001\000\000\000\061\333\315\200' >>"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null && exit 0
exit 1
