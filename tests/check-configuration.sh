#!/usr/bin/env bash
# Checks the build options: configurations that would write outside the adopter's own key, or
# texts that do not fit or would make Windows take the program for an installer, stop CMake with
# an error that names the option; and the largest configuration they allow still gives a program
# that passes check-executable.sh (24 KiB, imports, hardening). Arguments: the source folder and
# the objdump to read the executable with.
set -euo pipefail
source=$1
objdump=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/selfclean-config.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Every option at its default, so that a row's own options are the only ones that differ from
# the folder's first configuration.
defaults=(
    "-DSELFCLEAN_COUNTER_KEY=SOFTWARE\\Tarnwick\\Quorvane Stelmark Backup\\Install"
    -DSELFCLEAN_COUNTER_VALUE=waitingreboot -DSELFCLEAN_COUNTER_PARENT=
    -DSELFCLEAN_COMPANY_NAME="selfclean developers" -DSELFCLEAN_PRODUCT_NAME=selfclean
    "-DSELFCLEAN_FILE_DESCRIPTION=Runs a command line, then removes its staging folder"
)
configure() {
    cmake -S "$source" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" \
        -DSELFCLEAN_TESTS=OFF -DSELFCLEAN_DIST_DIR="$work/dist" "${defaults[@]}" "$@"
}
configure >/dev/null || fail "the default configuration is refused"

# Each row: the text the error must hold, then the options.
rows=(
    "SELFCLEAN_COUNTER_KEY: must not be empty|-DSELFCLEAN_COUNTER_KEY="
    "does not lie below SOFTWARE|-DSELFCLEAN_COUNTER_KEY=SYSTEM\\Maker\\Product"
    "does not lie below SOFTWARE|-DSELFCLEAN_COUNTER_KEY=SOFTWARE\\Product"
    "a key that Windows owns|-DSELFCLEAN_COUNTER_KEY=SOFTWARE\\Microsoft\\Windows\\Pending"
    "a key that Windows owns|-DSELFCLEAN_COUNTER_KEY=SOFTWARE\\wow6432node\\Maker\\Pending"
    "has an empty name|-DSELFCLEAN_COUNTER_KEY=SOFTWARE\\Maker\\\\Pending"
    "has an empty name|-DSELFCLEAN_COUNTER_KEY=SOFTWARE\\Maker\\Pending\\"
    "more than the 160|-DSELFCLEAN_COUNTER_KEY=SOFTWARE\\Maker\\$(printf 'k%.0s' {1..146})"
    "printable ASCII|-DSELFCLEAN_COUNTER_KEY=SOFTWARE\\Maker\\Produkt für alle"
    "is not a key above|-DSELFCLEAN_COUNTER_PARENT=SOFTWARE\\Tarnwick\\Quorvane"
    "is not a key above|-DSELFCLEAN_COUNTER_PARENT=SOFTWARE\\Tarnwick\\Quorvane Stelmark Backup\\Install"
    "SELFCLEAN_COUNTER_PARENT: \"SOFTWARE\" does not lie below|-DSELFCLEAN_COUNTER_PARENT=SOFTWARE"
    "SELFCLEAN_COUNTER_VALUE: must not be empty|-DSELFCLEAN_COUNTER_VALUE="
    "printable ASCII|-DSELFCLEAN_COUNTER_VALUE=say \"pending\""
    "more than the 64|-DSELFCLEAN_COMPANY_NAME=$(printf 'c%.0s' {1..65})"
    "more than the 128|-DSELFCLEAN_FILE_DESCRIPTION=$(printf 'd%.0s' {1..129})"
    "holds \"setup\"|-DSELFCLEAN_PRODUCT_NAME=Maker SetupHelper"
    "holds \"update\"|-DSELFCLEAN_FILE_DESCRIPTION=Removes the update's files"
    "holds a backslash|-DSELFCLEAN_COMPANY_NAME=Maker\\Ltd"
)
passed=0
for row in "${rows[@]}"; do
    expected=${row%%|*}
    option=${row#*|}
    if output=$(configure "$option" 2>&1); then
        fail "configured with $option"
    fi
    flat=$(tr -s ' \n' '  ' <<<"$output")
    grep -qF -- "$expected" <<<"$flat" || fail "$option: no \"$expected\" in: $flat"
    passed=$((passed + 1))
done

# The longest texts each option allows, with both removals built in.
key="SOFTWARE\\$(printf 'm%.0s' {1..70})\\$(printf 'p%.0s' {1..79})"
configure "-DSELFCLEAN_COUNTER_KEY=$key" "-DSELFCLEAN_COUNTER_VALUE=$(printf 'v%.0s' {1..64})" \
    "-DSELFCLEAN_COMPANY_NAME=$(printf 'c%.0s' {1..64})" \
    "-DSELFCLEAN_PRODUCT_NAME=$(printf 'n%.0s' {1..64})" \
    "-DSELFCLEAN_FILE_DESCRIPTION=$(printf 'd%.0s' {1..128})" >/dev/null ||
    fail "the largest configuration is refused"
cmake --build "$work/build" --target selfclean -j 1 >/dev/null
"$(dirname "$0")/check-executable.sh" "$objdump" "$work/dist/selfclean.exe" >/dev/null ||
    fail "the largest configuration's program fails check-executable.sh"
echo "$((passed + 1)) passed, 0 failed: ${#rows[@]} configurations refused," \
    "the largest one $(stat -c %s "$work/dist/selfclean.exe") bytes"
