#!/usr/bin/env bash
# Checks the shipped executable: 32-bit, GUI subsystem, only the four allowed imports, a
# US English, code page 1252 version block, a base it can always be loaded at, and no
# zero-filled buffers stored in the file.
set -euo pipefail
objdump=$1
exe=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

headers=$("$objdump" -p "$exe")
grep -q 'file format pei-i386' <<<"$headers" || fail "not a 32-bit image"
grep -Eq '^Subsystem[[:space:]]+00000002' <<<"$headers" || fail "not the GUI subsystem"
imports=$(grep 'DLL Name:' <<<"$headers" | awk '{print toupper($3)}' | sort -u | tr '\n' ' ')
for dll in $imports; do
    case "$dll" in
        KERNEL32.DLL | USER32.DLL | ADVAPI32.DLL | MSVCRT.DLL) ;;
        *) fail "imports $dll" ;;
    esac
done
# Without a relocation section the image must not ask to be loaded at a random base.
if grep -q 'DYNAMIC_BASE' <<<"$headers" && ! "$objdump" -h "$exe" | grep -q ' \.reloc '; then
    fail "dynamic base without relocations"
fi
# The program's initialised data is a few bytes; its large buffers belong in .bss.
data_size=$((16#$("$objdump" -h "$exe" | awk '$2 == ".data" { print $3 }')))
[ "$data_size" -le 4096 ] || fail ".data holds $data_size bytes"
# The version block's key is stored as UTF-16 text.
LC_ALL=C grep -qaP '0\x004\x000\x009\x000\x004\x00E\x004\x00' "$exe" || fail "no 040904E4 version block"
echo "1 passed, 0 failed: $exe imports $imports"
