#!/usr/bin/env bash
# Builds the shipped executable twice, in two fresh build folders of different path lengths and
# one after the other (so at different times), and checks that both are byte for byte the same
# as each other and as the main build's copy: nothing of the time or the build folder may reach
# the image. Arguments: the source folder, the main build's executable, then the configure
# options that select the same variant.
set -euo pipefail
source=$1
main_exe=$2
shift 2
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/selfclean-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Prints the executable that a fresh build in $work/<name> makes.
build_in() {
    local dir=$work/$1
    shift
    cmake -S "$source" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" \
        -DSELFCLEAN_TESTS=OFF -DSELFCLEAN_DIST_DIR="$dir/dist" "$@" >/dev/null
    cmake --build "$dir" --target selfclean -j 1 >/dev/null
    echo "$dir/dist/$(basename "$main_exe")"
}

first=$(build_in a "$@")
second=$(build_in second-build-folder "$@")
for exe in "$second" "$main_exe"; do
    cmp "$first" "$exe" >/dev/null ||
        fail "$first and $exe differ: $(cmp -l "$first" "$exe" | head -n 8 | tr '\n' ' ')"
done
echo "1 passed, 0 failed: three builds, sha256 $(sha256sum <"$first" | cut -d ' ' -f 1)"
