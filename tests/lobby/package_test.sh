#!/usr/bin/env bash
# The lobby's Debian package, as far as a machine without systemd as PID 1 can check it:
# cpack builds it (with the Windows clients it carries), it holds the expected files, systemd-analyze and lintian accept it, its
# maintainer scripts keep the database on upgrade and drop it on purge, and the unit's
# ExecStart line, expanded with the packaged defaults, serves getip.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$1
source "$(dirname "$0")/../../scripts/lib/lobby.sh"
work=$(mktemp -d)
cleanup() {
    kestrun_lobby_stop || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/out/kestrun-lobby_*_amd64.deb)
deb=${debs[0]}
[ -f "$deb" ] || fail "cpack wrote no kestrun-lobby_<version>_amd64.deb"
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

listing=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for f in ./usr/bin/kestrun-lobby ./lib/systemd/system/kestrun-lobby.service \
    ./usr/share/kestrun-lobby/kestrun-lobby.default ./usr/share/doc/kestrun-lobby/copyright \
    ./usr/share/doc/kestrun-lobby/changelog.gz ./usr/share/man/man1/kestrun-lobby.1.gz \
    ./usr/share/kestrun-lobby/kestrun.exe ./usr/share/kestrun-lobby/kestrun-x86.exe \
    ./usr/share/kestrun-lobby/kestrun.nsi ./usr/share/kestrun-lobby/kestrun.ico; do
    grep -qxF "$f" <<<"$listing" || fail "$f is not in the package"
done
dpkg-deb -e "$deb" "$work/control"
version=$(dpkg-deb -f "$deb" Version)
root=$work/root
dpkg-deb -x "$deb" "$root"
# As a conffile, a host's edits would stop an unattended upgrade at dpkg's prompt.
if grep -qx ./etc/default/kestrun-lobby <<<"$listing"; then fail "the package ships /etc/default/kestrun-lobby"; fi
zcat "$root/usr/share/doc/kestrun-lobby/changelog.gz" >"$work/changelog"
[ "$(dpkg-parsechangelog -l "$work/changelog" -S Version)" = "$version" ] ||
    fail "the changelog's newest entry is not $version"

unit=$root/lib/systemd/system/kestrun-lobby.service
[ "$("$root/usr/bin/kestrun-lobby" --version)" = "kestrun-lobby $version" ] ||
    fail "the packaged lobby is not version $version"

# The packaged lobby writes another address into the packaged clients: the bytes change only
# inside the slot, and SHA256SUMS holds. It does so with / read-only and only the folder it
# writes into writable, as under the unit (where that is the state directory), when this
# machine lets a mount namespace be made.
share=$root/usr/share/kestrun-lobby
written=$work/written
mkdir "$written"
readonly_root=(bash -c 'exec "$@"' _)
if unshare -m true 2>/dev/null; then
    readonly_root=(unshare -m bash -c 'mount --make-rprivate / && mount --bind "$1" "$1" &&
        mount -o remount,bind,ro / && shift && exec env -i PATH=/usr/bin:/bin "$@"' _ "$written")
else
    echo "skipped: writing the clients under a read-only / (no mount namespace here)"
fi
"${readonly_root[@]}" "$root/usr/bin/kestrun-lobby" client --public-url http://lobby.example.org:8081/ \
    --out "$written/clients" --clients "$share" >"$work/client.log" 2>&1 ||
    { cat "$work/client.log"; fail "kestrun-lobby client"; }
cat "$work/client.log"
(cd "$written/clients" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the files"
if command -v makensis >/dev/null; then
    [ -s "$written/clients/kestrun-setup.exe" ] && [ -s "$written/clients/kestrun-setup-x86.exe" ] ||
        fail "makensis made no installers"
fi
for exe in kestrun.exe kestrun-x86.exe; do
    slot=$(grep -obaF 'KESTRUN:SITE-URL-SLOT:v1' "$share/$exe" | cut -d: -f1)
    [ -n "$slot" ] || fail "$exe has no address slot"
    # cmp -l counts bytes from 1; the address follows the 32-byte marker field, 256 bytes.
    outside=$({ cmp -l "$share/$exe" "$written/clients/$exe" || true; } |
        awk -v from=$((slot + 33)) -v to=$((slot + 288)) '$1 < from || $1 > to' | wc -l)
    [ "$outside" -eq 0 ] || fail "$exe changed in $outside bytes outside its address slot"
    grep -qaF 'http://lobby.example.org:8081/' "$written/clients/$exe" || fail "$exe lacks the address"
done

# verify only warns about unknown keys and values it cannot parse: any output is a fault.
# Under --root it needs the system's targets, and the kill of a dependency, next to the unit.
cp /lib/systemd/system/*.target "$root/lib/systemd/system/"
install -D /bin/kill "$root/bin/kill"
verify() {
    local out
    out=$(systemd-analyze verify --man=no --root="$root" "$1" 2>&1) && [ -z "$out" ] ||
        { echo "$out"; return 1; }
}
verify kestrun-lobby.service || fail "systemd-analyze verify refuses the unit"
sed 's/^ProtectSystem=.*/ProtectSystem=everything/' "$unit" >"$root/lib/systemd/system/broken.service"
if verify broken.service >/dev/null; then fail "systemd-analyze verify took a broken unit"; fi

lintian_rc=0
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || lintian_rc=$?
echo "lintian:" && cat "$work/lintian.log"
if [ "$lintian_rc" -ne 0 ] || grep -q '^E:' "$work/lintian.log"; then fail "lintian reports errors (exit $lintian_rc)"; fi

# Maintainer scripts in a root of their own (dpkg sets DPKG_ROOT for them).
droot=$work/dpkg-root
mkdir -p "$droot/var/lib/dpkg/info" "$droot/var/lib/dpkg/updates"
touch "$droot/var/lib/dpkg/status" "$droot/var/lib/dpkg/available"
dpkg_in() { dpkg --root="$droot" --force-script-chrootless --force-depends "$@" >>"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "dpkg $*"; }; }
settings=$droot/etc/default/kestrun-lobby
mode() { stat -c %a "$settings"; }
dpkg_in -i "$deb"
[ "$(mode)" = 600 ] || fail "the first installation made the settings $(mode), not 600"
# What the service leaves behind: with DynamicUser its state directory is a link.
mkdir -p "$droot/var/lib/private/kestrun-lobby"
echo races >"$droot/var/lib/private/kestrun-lobby/lobby.db"
ln -s private/kestrun-lobby "$droot/var/lib/kestrun-lobby"
# A host's edits and mode, and a file from before LOBBY_PUBLIC_URL came.
sed -i '/^LOBBY_PUBLIC_URL=/d' "$settings"
chmod 640 "$settings"
dpkg_in -i "$deb"
[ -f "$droot/var/lib/kestrun-lobby/lobby.db" ] || fail "upgrade lost the database"
grep -q "^LOBBY_LISTEN=" "$settings" && ! grep -q "^LOBBY_PUBLIC_URL" "$settings" ||
    fail "upgrade replaced the host's settings"
[ "$(mode)" = 640 ] || fail "upgrade changed the host's mode 640 to $(mode)"
grep -q "does not set LOBBY_PUBLIC_URL" "$work/dpkg.log" || fail "upgrade did not name the setting the host lacks"
dpkg_in -r kestrun-lobby
[ -f "$droot/var/lib/kestrun-lobby/lobby.db" ] || fail "remove lost the database"
dpkg_in --purge kestrun-lobby
for gone in var/lib/kestrun-lobby var/lib/private/kestrun-lobby etc/default/kestrun-lobby; do
    if [ -e "$droot/$gone" ] || [ -L "$droot/$gone" ]; then fail "purge left /$gone"; fi
done

# ExecStart as systemd expands it: ${X} is one word, $X splits at white space. The
# packaged defaults, with this test's address and database.
declare -A env
while IFS= read -r line; do
    [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
    [[ $line =~ ^([A-Za-z_][A-Za-z0-9_]*)=(.*)$ ]] || fail "unreadable line in the defaults: $line"
    env[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}
done <"$root/usr/share/kestrun-lobby/kestrun-lobby.default"
[[ -v env[LOBBY_LISTEN] && -v env[LOBBY_DB] ]] || fail "the defaults set no LOBBY_LISTEN or LOBBY_DB"
env[LOBBY_LISTEN]=127.0.0.1:0
env[LOBBY_DB]=$work/lobby.db
[[ -v env[LOBBY_PUBLIC_URL] ]] || fail "the defaults set no LOBBY_PUBLIC_URL"
env[LOBBY_PUBLIC_URL]=http://lobby.example.org/
env[LOBBY_OPTIONS]="--clients $share"
exec_line=$(sed -n 's/^ExecStart=//p' "$unit")
args=()
set -f
for word in $exec_line; do
    if [[ $word =~ ^\$\{([A-Za-z_][A-Za-z0-9_]*)\}$ || $word =~ ^\$([A-Za-z_][A-Za-z0-9_]*)$ ]]; then
        name=${BASH_REMATCH[1]}
        [[ -v env[$name] ]] || fail "ExecStart uses $name, which the defaults do not set"
        if [[ $word == '${'* ]]; then args+=("${env[$name]}"); else args+=(${env[$name]}); fi
    else
        args+=("$word")
    fi
done
set +f
[ "${args[0]}" = /usr/bin/kestrun-lobby ] || fail "ExecStart runs ${args[0]}"
args[0]=$root/usr/bin/kestrun-lobby
echo "running: ${args[*]}"
cd "$work"
kestrun_lobby_out=$work/lobby.out kestrun_lobby_start "${args[0]}" "$work/lobby.err" "${args[@]:1}" ||
    fail "the lobby did not start listening"
body=$(curl -sS --max-time 10 "http://127.0.0.1:$kestrun_lobby_port/server/server.php?action=getip")
[ "$body" = $'OK\n127.0.0.1' ] || fail "getip answered: $body"
[ -f "$work/lobby.db" ] || fail "the lobby did not open its database at LOBBY_DB"
curl -sS --max-time 10 -o "$work/served.exe" "http://127.0.0.1:$kestrun_lobby_port/download/kestrun.exe"
grep -qaF 'http://lobby.example.org/' "$work/served.exe" ||
    fail "/download/kestrun.exe does not carry LOBBY_PUBLIC_URL"
rc=0
kestrun_lobby_stop || rc=$?
[ "$rc" -eq 0 ] || { cat "$work/lobby.err"; fail "the lobby exited with $rc on SIGTERM"; }
echo "PASS"
