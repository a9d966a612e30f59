#!/usr/bin/env bash
# Usage: scripts/windows-side.sh
#
# Prints how this machine runs the Windows side (Wine with 32-bit programs):
# "native" where it runs 32-bit code, "emulated" where it does not or where
# QV_VM=1 asks for the emulated machine anyway (scripts/in-vm.sh).
# The probe is a 96-byte 32-bit Linux program that exits with 42: some
# machines refuse 32-bit programs outright (Exec format error), others fault
# in 32-bit code, and either way Wine's 32-bit loader cannot run there.
set -uo pipefail

if [ "${QV_VM:-}" = 1 ]; then echo emulated; exit 0; fi

# An emulator registered for 32-bit programs would make the probe pass while
# Wine would still not be usable.
for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] || continue
    if grep -qx enabled "$entry" 2>/dev/null &&
       grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" 2>/dev/null; then
        echo emulated; exit 0
    fi
done

probe=$(mktemp "${TMPDIR:-/tmp}/qv-probe32.XXXXXX") || { echo emulated; exit 0; }
trap 'rm -f -- "$probe"' EXIT
# ELF header, one loadable segment at 0x08048000, then: mov ebx,42; mov eax,1; int 0x80
printf '%b' \
 '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
 '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
 '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' \
 '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
 '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
 '\xbb\x2a\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80' > "$probe"
chmod 700 "$probe"
( "$probe" ) 2>/dev/null
if [ $? = 42 ]; then echo native; else echo emulated; fi
