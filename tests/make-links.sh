#!/usr/bin/env bash
# Prepares folder links for the tests of the walk and of the staging root guard: they can only
# be made from the Unix side.
#   make-links.sh LINKS_DIR [WINE_RUN BUILD_DIR]
set -euo pipefail
links=$1
[ ! -d "$links" ] || chmod -R u+w "$links"
rm -rf "$links"
mkdir -p "$links/stage/setup" "$links/target"
echo keep >"$links/target/keep.txt"
echo keep >"$links/target/readonly.txt"
chmod a-w "$links/target/readonly.txt"
echo staged >"$links/stage/setup/file.txt"
ln -s ../../target "$links/stage/setup/outside"
# The same, for the walk on a file system that cannot tell attributes and reparse tag together.
mkdir -p "$links/fat/setup"
echo staged >"$links/fat/setup/file.txt"
ln -s ../../target "$links/fat/setup/outside"

# For the staging root guard: "staged" is a link to a folder beside it, "alias" a link to a
# profile folder, so that a folder directly in the profile is reached by another path.
mkdir -p "$links/guard/target/setup" "$links/guard/home/Downloads"
echo keep >"$links/guard/target/keep.txt"
echo keep >"$links/guard/target/setup/sample.txt"
ln -s target "$links/guard/staged"
ln -s home "$links/guard/alias"

# For the walk's swap: "spare" is a link to swap-target\, which a test moves in place of a folder
# that the walk has listed but not yet entered.
mkdir -p "$links/swap/stage/victim" "$links/swap/swap-target"
echo keep >"$links/swap/swap-target/keep.txt"
echo staged >"$links/swap/stage/victim/staged.txt"
echo staged >"$links/swap/stage/file.txt"
ln -s swap-target "$links/swap/spare"

# For the walk's reopening of a held folder: "spare" is a link to reopen-target\, which a test
# moves in place of the held folder before the walk opens it again for deletion.
mkdir -p "$links/reopen/stage/held" "$links/reopen/reopen-target"
echo keep >"$links/reopen/reopen-target/keep.txt"
echo staged >"$links/reopen/stage/held/staged.txt"
echo staged >"$links/reopen/stage/file.txt"
ln -s reopen-target "$links/reopen/spare"

# For the read-only folder above a staging root.
mkdir -p "$links/above/tree/sub"
echo staged >"$links/above/tree/sub/f.txt"
chmod a-w "$links/above/tree" "$links/above"

# For a staging root reached through a link above it: "moved" is a link to "elsewhere", as a
# temporary folder moved to another drive; "drive" is a link to the sandbox's root, S:\.
mkdir -p "$links/moved-temp/elsewhere"
echo keep >"$links/moved-temp/elsewhere/sibling.txt"
ln -s elsewhere "$links/moved-temp/moved"
ln -s ../.. "$links/guard/drive"

# For a share that stands for a folder deep in the sandbox, as a substituted drive stands for a
# folder: Wine takes \\selfclean\share\ from the prefix's dosdevices/unc/selfclean/share, linked
# to share/ here. The prefix is made first (by a program run in it, as every test does), so that
# its making does not remove the link.
mkdir -p "$links/share"
if [ $# -ge 3 ]; then
    . "$(dirname "$2")/wine-env"
    prefix=$(wine_prefix "$3")
    "$2" --build "$3" cmd.exe /c exit 0 >/dev/null 2>&1
    mkdir -p "$prefix/dosdevices/unc/selfclean"
    ln -sfn "$links/share" "$prefix/dosdevices/unc/selfclean/share"
fi
