#!/usr/bin/env bash
# Prepares a staged tree that holds a link to a folder beside it, for the walk's tests.
set -euo pipefail
links=$1
rm -rf "$links"
mkdir -p "$links/stage/setup" "$links/target"
echo keep >"$links/target/keep.txt"
echo keep >"$links/target/readonly.txt"
chmod a-w "$links/target/readonly.txt"
echo staged >"$links/stage/setup/file.txt"
ln -s ../../target "$links/stage/setup/outside"
