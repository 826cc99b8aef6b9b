#!/usr/bin/env bash
# Debian's package tester over the lobby's package, in a clean Debian 12 chroot from the mirror
# apt uses: install and purge, then the previous release (packaging/releases, offered to apt
# from a repository of its .deb) installed, upgraded to this one (which makes the 0644 settings
# that release gave readable by root alone) and purged. Any complaint fails. Its base
# tarball is saved by piuparts itself (-s) on the first run and kept under build/piuparts,
# keyed by distribution, mirror and piuparts' version.
# Exits 77 (ctest: skipped) where piuparts cannot run.
# Usage: piuparts_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$(cd "$1" && pwd)
started=$SECONDS
source "$source_dir/tests/common/lobby_packages.sh"
kestrun_needs "piuparts' chroot" piuparts dpkg-scanpackages cpack

work=$(mktemp -d /var/tmp/kestrun-piuparts-XXXXXX)
trap 'rm -rf "$work"' EXIT
deb=$(kestrun_this_deb "$source_dir" "$work") || { echo "$deb"; die "the package"; }
kestrun_previous_release "$source_dir"
echo "packages: $(basename "$deb"), and $(basename "$previous_deb") from ${previous_commit:0:12}, $((SECONDS - started)) s"

# The chroot sees the repository at the same path.
repo=$work/repo
mkdir "$repo" && cp "$previous_deb" "$repo/" && (cd "$repo" && dpkg-scanpackages . >Packages 2>/dev/null) ||
    die "could not make the repository of $previous_version"
mirror=$(kestrun_debian_mirror)
key=$(printf 'bookworm %s piuparts %s\n' "$mirror" "$(dpkg-query -W -f='${Version}' piuparts)" | sha256sum | cut -c1-16)
base=$source_dir/build/piuparts/debian12-$key.tar.gz
args=(-d bookworm -m "$mirror" --bindmount="$repo" --extra-repo="deb [trusted=yes] file://$repo ./")
if [ -f "$base" ]; then
    args+=(-b "$base")
else
    mkdir -p "$(dirname "$base")" && rm -f "$base.part"
    args+=(-s "$base.part")
fi
t0=$SECONDS
piuparts "${args[@]}" "$deb" >"$work/piuparts.log" 2>&1
rc=$?
[ -f "$base.part" ] && mv "$base.part" "$base" && echo "base tarball: saved as $(basename "$base")"
grep -E '(PASS|FAIL|WARN|ERROR):' "$work/piuparts.log" | sed 's/^[0-9ms.]* //'
upgraded="Unpacking kestrun-lobby ($(dpkg-deb -f "$deb" Version)) over ($previous_version)"
grep -qF "$upgraded" "$work/piuparts.log" && echo "upgrade: $upgraded"
echo "piuparts: exit $rc, $((SECONDS - t0)) s"
complaints=$(grep -cE '(FAIL|WARN|ERROR):' "$work/piuparts.log")
if [ "$rc" -ne 0 ] || [ "$complaints" -ne 0 ] ||
    ! grep -q 'PASS: Installation and purging test' "$work/piuparts.log" ||
    ! grep -q 'PASS: Installation, upgrade and purging tests' "$work/piuparts.log" ||
    ! grep -qF "$upgraded" "$work/piuparts.log" ||
    ! grep -q "kestrun-lobby: /etc/default/kestrun-lobby is now readable by root alone" "$work/piuparts.log"; then
    tail -n 60 "$work/piuparts.log"
    die "piuparts: exit $rc, $complaints complaints, or a test or an upgrade step missing"
fi
echo "piuparts test: passed, $((SECONDS - started)) s in all"
