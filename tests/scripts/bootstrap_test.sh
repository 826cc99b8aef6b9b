#!/usr/bin/env bash
# scripts/bootstrap against stand-ins for apt-get and dpkg (nothing is installed): an index
# that never downloads and a wine32:i386 that cannot be installed are reported and skipped,
# cmake is installed, exit 0; a cmake that cannot be installed fails it. Usage: $0 SOURCE_DIR
set -euo pipefail
w=$(mktemp -d) && trap 'rm -rf "$w"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
mkdir -p "$w/scripts" "$w/tests/browser/node_modules" "$w/bin" && cp "$1/scripts/bootstrap" "$w/scripts/"
touch "$w/tests/browser/package-lock.json" "$w/tests/browser/node_modules/.kestrun-lock"
ln -s /usr/bin/env "$w/bin/sudo" && ln -s /bin/true "$w/bin/npm" && printf '#!/bin/sh\necho i386\n' >"$w/bin/dpkg"
printf '#!/bin/sh\ncase $3 in cmake|wine32:i386) exit 1;; esac\necho "install ok installed"\n' >"$w/bin/dpkg-query"
cat >"$w/bin/apt-get" <<EOF
#!/bin/bash
echo "\$*" >>$w/calls
[ "\$1" = update ] && { echo "E: Failed to fetch .../binary-i386/Packages  Mirror sync in progress?"; exit 100; }
! grep -qxF "\${@: -1}" $w/broken || { echo " \${@: -1} : Depends: libwine:i386 but it is not going to be installed"; exit 100; }
EOF
chmod +x "$w"/bin/*
run() { echo "$1" >"$w/broken" && rm -f "$w/calls" && status=0 && out=$(PATH="$w/bin:$PATH" \
    KESTRUN_APT_TRIES=2 KESTRUN_APT_PAUSE=0 "$w/scripts/bootstrap" 2>&1) || status=$?; echo "$out"; }
run wine32:i386
[ "$status" -eq 0 ] || fail "a failing index and a missing 32-bit Wine failed the bootstrap"
[ "$(grep -c ^update "$w/calls")" -eq 2 ] && grep -q "Mirror sync" <<<"$out" || fail "the index was not retried and reported"
grep -q "install.* cmake$" "$w/calls" || fail "cmake was not installed"
grep -q "skipped wine32:i386 (wine32:i386 : Depends: libwine:i386" <<<"$out" || fail "the 32-bit Wine's skip says not why"
run cmake
[ "$status" -ne 0 ] || fail "a package that cannot be installed passed the bootstrap"
