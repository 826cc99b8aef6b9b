#!/usr/bin/env bash
# scripts/bootstrap against stand-ins for apt-get, dpkg and dpkg-query (nothing is really
# installed): an index that never downloads and a 32-bit Wine that cannot be installed are
# reported and skipped, the rest is installed, exit 0; a package that cannot be installed
# fails it.
# Usage: bootstrap_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A copy of the script in a tree of its own, whose npm packages are current.
mkdir -p "$work/root/scripts" "$work/root/tests/browser/node_modules" "$work/bin"
cp "$source_dir/scripts/bootstrap" "$work/root/scripts/"
echo '{}' >"$work/root/tests/browser/package-lock.json"
cp "$work/root/tests/browser/package-lock.json" "$work/root/tests/browser/node_modules/.kestrun-lock"

stand_in() { printf '#!/usr/bin/env bash\nstate=%q\n%s\n' "$work" "$2" >"$work/bin/$1"; chmod +x "$work/bin/$1"; }
stand_in dpkg-query 'grep -qxF "${@: -1}" "$state/absent" && exit 1; echo "install ok installed"'
stand_in dpkg '[ "$1" = --print-foreign-architectures ] && echo i386; exit 0'
stand_in sudo 'exec "$@"'
stand_in npm 'exit 0'
stand_in apt-get '
if [ "$*" = "update -qq" ]; then
  echo update >>"$state/calls"
  echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages  File has unexpected size (45 != 90). Mirror sync in progress?"
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
  exit 100
fi
for p in "$@"; do
  case $p in -*|install) ;; *)
    grep -qxF "$p" "$state/broken" || continue
    echo " $p : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100 ;;
  esac
done
echo "$*" >>"$state/calls"'

run() {  # $1: absent packages, $2: of those, the ones that cannot be installed
    printf '%s\n' $1 >"$work/absent"
    printf '%s\n' $2 >"$work/broken"
    rm -f "$work/calls"
    status=0
    out=$(PATH="$work/bin:$PATH" KESTRUN_APT_TRIES=2 KESTRUN_APT_PAUSE=0 \
        "$work/root/scripts/bootstrap" 2>&1) || status=$?
    echo "$out"
}

run "cmake wine32:i386" "wine32:i386"
[ "$status" -eq 0 ] || fail "a failing index and a missing 32-bit Wine failed the bootstrap ($status)"
[ "$(grep -c '^update' "$work/calls")" -eq 2 ] || fail "apt-get update was not tried twice"
grep -q "Mirror sync in progress" <<<"$out" || fail "the failing index is not reported"
grep -qx "install -y -qq --no-install-recommends cmake" "$work/calls" || fail "cmake was not installed"
grep -qx "bootstrap: skipped wine32:i386 (wine32:i386 : Depends: libwine:i386 .*) .*" <<<"$out" ||
    fail "the 32-bit Wine's skip does not say why"
grep -q "libwine:i386" "$work/root/build/wine32-unavailable" || fail "the 32-bit Wine's reason is not kept for the tests"

run "cmake wine32:i386" "cmake"
[ "$status" -ne 0 ] || fail "a package that cannot be installed passed the bootstrap"
echo "bootstrap_test: passed"
