#!/usr/bin/env bash
# Checks which mirror scripts/bootstrap takes from a machine's package sources: this release's
# main component only, never another vendor's source, a security suite, a source-only or a
# disabled entry. The sources are made up here; none is contacted.
set -euo pipefail
bootstrap=$1
release=$(. /etc/os-release && echo "$VERSION_CODENAME")
apt=$(mktemp -d)
trap 'rm -rf "$apt"' EXIT
failed=0
expect() {
    local got
    got=$("$bootstrap" --print-mirror "$apt/$1") || got="(none)"
    [ "$got" = "$2" ] || { echo "FAIL: $1: $got, expected $2" >&2; failed=1; }
}

mkdir -p "$apt"/{stanzas,lines,vendors}/sources.list.d
cat >"$apt/stanzas/sources.list.d/0vendor.sources" <<END
Types: deb
URIs: https://vendor.invalid/apt
Suites: nodistro
Components: main

Types: deb
URIs: http://mirror.invalid/debian-security
Suites: $release-security
Components: main
END
cat >"$apt/stanzas/sources.list.d/debian.sources" <<END
Types: deb-src
URIs: http://source-only.invalid/debian
Suites: $release
Components: main

Types: deb
Enabled: no
URIs: http://disabled.invalid/debian
Suites: $release
Components: main

Types: deb deb-src
# a comment inside the stanza
URIs:
 http://mirror.invalid/debian
 http://second.invalid/debian
Suites: $release $release-updates
Components: main contrib
END
expect stanzas http://mirror.invalid/debian

cat >"$apt/lines/sources.list" <<END
# deb http://commented.invalid/debian $release main
deb-src http://source-only.invalid/debian $release main
deb http://mirror.invalid/debian-security $release-security main
deb http://contrib-only.invalid/debian $release contrib
deb [arch=amd64 signed-by=/x.gpg] http://mirror.invalid/debian $release contrib main
END
expect lines http://mirror.invalid/debian

echo "deb https://vendor.invalid/apt cloud-sdk-$release main" >"$apt/vendors/sources.list.d/v.list"
expect vendors "(none)"

[ "$failed" = 0 ] && echo "1 passed, 0 failed"
