#!/usr/bin/env bash
# Prepares folder links for the tests of the walk and of the staging root guard: they can only
# be made from the Unix side.
set -euo pipefail
links=$1
rm -rf "$links"
mkdir -p "$links/stage/setup" "$links/target"
echo keep >"$links/target/keep.txt"
echo keep >"$links/target/readonly.txt"
chmod a-w "$links/target/readonly.txt"
echo staged >"$links/stage/setup/file.txt"
ln -s ../../target "$links/stage/setup/outside"

# For the staging root guard: "staged" is a link to a folder beside it, "alias" a link to a
# profile folder, so that a folder directly in the profile is reached by another path.
mkdir -p "$links/guard/target/setup" "$links/guard/home/Downloads"
echo keep >"$links/guard/target/keep.txt"
echo keep >"$links/guard/target/setup/sample.txt"
ln -s target "$links/guard/staged"
ln -s home "$links/guard/alias"
