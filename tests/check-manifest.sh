#!/usr/bin/env bash
# Checks that a program carries a manifest that asks for the level of whoever starts it: a
# resource of type RT_MANIFEST (24) with id 1 whose text requests asInvoker. Without one, the
# system takes a 32-bit program named like an installer (setup.exe) for one and refuses to start
# it from a process that is not elevated.
set -euo pipefail
objdump=$1
exe=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

# objdump prints the resource tree indented by level: the types, their ids, their languages.
tree=$("$objdump" -p "$exe" | sed -n '/Resource Directory section:/,/Resources start/p')
grep -Eq '^[0-9a-f]+   Entry: ID: 0x000018,' <<<"$tree" || fail "no RT_MANIFEST resource"
manifest_ids=$(sed -n '/^[0-9a-f]*   Entry: ID: 0x000018,/,/^[0-9a-f]*   Entry/p' <<<"$tree" |
    grep -E '^[0-9a-f]+     Entry: ID:' | awk '{print $4}')
[ "$manifest_ids" = "0x000001," ] || fail "the manifest's id is not 1: $manifest_ids"

read -r rsrc_size rsrc_offset < <("$objdump" -h "$exe" | awk '$2 == ".rsrc" { print $3, $6 }')
text=$(dd if="$exe" bs=1 skip=$((16#$rsrc_offset)) count=$((16#$rsrc_size)) status=none | tr -d '\0')
grep -Eq '<requestedExecutionLevel[^>]*level="asInvoker"' <<<"$text" ||
    fail "the manifest does not ask for asInvoker"
echo "1 passed, 0 failed: $exe asks for asInvoker"
