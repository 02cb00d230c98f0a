#!/usr/bin/env bash
# Checks the shipped executable: 32-bit, GUI subsystem, at most 24 KiB, only the four allowed
# imports, hardened (relocations with a random base, non-executable data, structured exception
# handlers allowed), a US English, code page 1252 version block as its only resource, whose texts
# cannot make the system take it for an installer, and no zero-filled buffers stored in the file.
set -euo pipefail
objdump=$1
exe=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

headers=$("$objdump" -p "$exe")
sections=$("$objdump" -h "$exe")
grep -q 'file format pei-i386' <<<"$headers" || fail "not a 32-bit image"
grep -Eq '^Subsystem[[:space:]]+00000002' <<<"$headers" || fail "not the GUI subsystem"
size=$(stat -c %s "$exe")
[ "$size" -le 24576 ] || fail "$size bytes, more than 24 KiB"
imports=$(grep 'DLL Name:' <<<"$headers" | awk '{print toupper($3)}' | sort -u | tr '\n' ' ')
for dll in $imports; do
    case "$dll" in
        KERNEL32.DLL | USER32.DLL | ADVAPI32.DLL | MSVCRT.DLL) ;;
        *) fail "imports $dll" ;;
    esac
done

# The flags as objdump names them, each on a line of its own below DllCharacteristics.
flags=$(sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' <<<"$headers")
grep -qw DYNAMIC_BASE <<<"$flags" || fail "no dynamic base"
grep -qw NX_COMPAT <<<"$flags" || fail "data executable (no NX_COMPAT)"
# With NO_SEH the dispatcher refuses the exception guard's handler; with a load configuration
# it would accept only the handlers listed there.
grep -qw NO_SEH <<<"$flags" && fail "NO_SEH set"
grep -Eq '^Entry a 0+ 0+ ' <<<"$headers" || fail "a load configuration"
grep -q 'relocations stripped' <<<"$headers" && fail "relocations stripped"
grep -q ' \.reloc ' <<<"$sections" || fail "no relocation section"
grep -Eq '^Entry 5 0+ 0+ ' <<<"$headers" && fail "empty relocation directory"

# The program's initialised data is a few bytes, or none and no section; its large buffers
# belong in .bss.
data_hex=$(awk '$2 == ".data" { print $3 }' <<<"$sections")
data_size=$((16#${data_hex:-0}))
[ "$data_size" -le 4096 ] || fail ".data holds $data_size bytes"

# The version block is the only resource: no manifest either, which would be a second one.
types=$(sed -n '/Resource Directory section:/,/Resources start/p' <<<"$headers" |
    grep -E '^[0-9a-f]+   Entry: ID:' | awk '{print $4}' | tr '\n' ' ')
[ "$types" = "0x000010, " ] || fail "resource types other than the version block: $types"

# The version block's key and texts are stored as UTF-16 in the resource section. Any of these
# words in them makes the system ask for elevation before a 32-bit program without a manifest
# starts.
read -r rsrc_size rsrc_offset < <(awk '$2 == ".rsrc" { print $3, $6 }' <<<"$sections")
texts=$(dd if="$exe" bs=1 skip=$((16#$rsrc_offset)) count=$((16#$rsrc_size)) status=none |
    "${objdump%objdump}strings" -a -n 3 -el)
grep -qx '040904E4' <<<"$texts" || fail "no 040904E4 version block"
words=$(grep -ioE 'install|setup|update|upgrade|patch' <<<"$texts" | sort -u | tr '\n' ' ' || true)
[ -z "$words" ] || fail "version texts hold: $words"
echo "1 passed, 0 failed: $exe, $size bytes, imports $imports"
