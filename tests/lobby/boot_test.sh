#!/usr/bin/env bash
# The lobby's package on a booted Debian 12: a minbase root made once with debootstrap
# (cached as a zstd tarball under build/boot-rootfs, keyed by its package list), booted
# with systemd-nspawn, systemd as its PID 1, no network; the .deb of a fresh release build
# (what hosts install; a sanitizer build's leak check cannot run under the unit's system
# call filter) installed with apt, then what a host does with it, one line per check; last,
# the upgrade from the previous release's package (packaging/releases, built once from its
# commit) with apt-get install -y and no terminal, as unattended upgrades do.
# Exits 77 (ctest: skipped) where no container can boot here.
# Usage: boot_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$(cd "$1" && pwd)
started=$SECONDS
source "$source_dir/tests/common/lobby_packages.sh"
kestrun_needs "booting a container" debootstrap systemd-nspawn nsenter zstd cpack sqlite3
unshare --mount --pid --net --uts --ipc --fork true 2>/dev/null ||
    skip "this kernel or sandbox gives no mount, PID and network namespaces"

work=$(mktemp -d /var/tmp/kestrun-boot-XXXXXX)
name=kestrun-boot-$$
nspawn_pid=
cpid=
cleanup() {
    if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
        [ -n "$cpid" ] && inside systemctl poweroff >/dev/null 2>&1
        gone_within 20 || { kill -TERM "$nspawn_pid"; gone_within 10; } || {
            [ -n "$cpid" ] && kill -KILL "$cpid"  # PID 1 of its namespace: takes the rest along
            kill -KILL "$nspawn_pid"
        }
        wait "$nspawn_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
gone_within() {  # $1: seconds for systemd-nspawn to end
    for _ in $(seq $(($1 * 5))); do kill -0 "$nspawn_pid" 2>/dev/null || return 0; sleep 0.2; done
    return 1
}

# --- the packages: this tree's and the previous release's
deb=$(kestrun_this_deb "$source_dir" "$work") || { echo "$deb"; die "the package"; }
echo "package: $(basename "$deb") from a release build, $((SECONDS - started)) s"
t0=$SECONDS
kestrun_previous_release "$source_dir"
echo "previous release: $(basename "$previous_deb") from ${previous_commit:0:12}, $((SECONDS - t0)) s"

# --- the root: systemd, curl and the package's Depends and Recommends (first of any
# alternatives), as apt installs it by default
fields() { dpkg-deb -f "$1" "$2" | tr ',' '\n' | sed 's/|.*//; s/(.*//; s/[[:space:]]//g'; }
include=$(printf '%s\n' systemd systemd-sysv dbus curl $(for d in "$deb" "$previous_deb"; do
    fields "$d" Depends; fields "$d" Recommends; done) |
    sed '/^$/d' | sort -u | paste -sd, -)
mirror=$(kestrun_debian_mirror)
key=$(printf 'bookworm minbase %s\n' "$include" | sha256sum | cut -c1-16)
cache=$source_dir/build/boot-rootfs/debian12-$key.tar.zst
root=$work/root
mkdir -p "$root"
t0=$SECONDS
if [ ! -f "$cache" ]; then
    debootstrap --variant=minbase --include="$include" bookworm "$work/made" "$mirror" \
        >"$work/debootstrap.log" 2>&1 || { tail -n 30 "$work/debootstrap.log"; die "debootstrap from $mirror"; }
    rm -f "$work"/made/var/cache/apt/archives/*.deb
    mkdir -p "$(dirname "$cache")"
    tar --numeric-owner --xattrs -C "$work/made" -I 'zstd -T0 -3' -cf "$cache.part" . &&
        mv "$cache.part" "$cache" || die "could not write $cache"
    rm -rf "$work/made"
    echo "rootfs: made with debootstrap from $mirror in $((SECONDS - t0)) s ($include)"
    t0=$SECONDS
fi
tar --numeric-owner --xattrs -C "$root" -I zstd -xf "$cache" || die "could not unpack $cache"
echo "rootfs: unpacked from $(basename "$cache") in $((SECONDS - t0)) s"

# What the host brings: the package, a block list and a downloads folder.
cp "$deb" "$root/root/kestrun-lobby.deb"
cp "$previous_deb" "$root/root/kestrun-lobby-previous.deb"
mkdir -p "$root/etc/kestrun-lobby" "$root/srv/kestrun"
echo "# nothing blocked yet" >"$root/etc/kestrun-lobby/block-list"
echo "a client build" >"$root/srv/kestrun/kestrun.zip"
chmod -R a+rX "$root/etc/kestrun-lobby" "$root/srv/kestrun"

# --- the container
# nspawn keeps a directory in /run/systemd/nspawn that it cannot remove where /run is no
# tmpfs; a tmpfs of its own, in a mount namespace of its own, leaves the host's /run alone.
boot() {
    unshare --mount --propagation private sh -c 'mkdir -p /run/systemd/nspawn && mount -t tmpfs -o mode=0755 tmpfs /run/systemd/nspawn &&
        exec systemd-nspawn "$@"' nspawn -D "$root" --machine="$name" --register=no --keep-unit \
        --private-network --boot --console=passive >>"$work/nspawn.log" 2>&1 &
    nspawn_pid=$!
    wait_for_boot
}
# The container's systemd, once its manager answers and the boot is done.
wait_for_boot() {
    local pid
    cpid=
    for _ in $(seq 300); do
        pid=$(ps --ppid "$nspawn_pid" -o pid= 2>/dev/null | tr -d ' ' | head -n 1)
        if [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = systemd ] &&
            [ -S "/proc/$pid/root/run/systemd/private" ]; then
            cpid=$pid
            break
        fi
        kill -0 "$nspawn_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$cpid" ] || return 1
    local state
    state=$(inside timeout 60 systemctl is-system-running --wait)
    [ "$state" = running ] || [ "$state" = degraded ]
}
inside() {
    nsenter -t "$cpid" -a -r -w -- env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"
}
if ! boot; then
    tail -n 20 "$work/nspawn.log"
    grep -qi 'namespace\|operation not permitted\|permission denied' "$work/nspawn.log" &&
        skip "systemd-nspawn cannot boot a container here: $(grep -i -m1 'namespace\|not permitted\|denied' "$work/nspawn.log")"
    die "the container did not boot"
fi
echo "booted: systemd $(inside systemctl --version | sed -n '1s/^systemd \([0-9]*\).*/\1/p') as PID 1 of the container, $((SECONDS - t0)) s after unpacking began"

# --- checks: each prints one line; a failing one shows its output and the rest go on
failures=0
check() {  # $1: what a host expects; rest: a command that succeeds when it holds
    local what=$1 t=$SECONDS
    shift
    : >"$work/figure"
    if "$@" >"$work/check.log" 2>&1; then
        echo "ok: $what ($(cat "$work/figure")$((SECONDS - t)) s)"
    else
        echo "FAIL: $what"
        tail -n 20 "$work/check.log" | sed 's/^/    /'
        echo "    the lobby's last journal lines:"
        inside journalctl -u kestrun-lobby --no-pager -n 6 -o cat 2>&1 | sed "s/^/    /"
        failures=$((failures + 1))
    fi
}
figure() { echo -n "$*; " >"$work/figure"; }  # a measured value for the check's line
until_true() {  # $1: seconds; rest: command
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}
script=http://127.0.0.1:8080/server/server.php
get() { inside curl -sS --max-time 5 "$@"; }
main_pid() { inside systemctl show -p MainPID --value kestrun-lobby; }
answers_getip() { [ "$(get "$script?action=getip")" = $'OK\n127.0.0.1' ]; }
lists_race() { get "$script?action=racelist&game=NFS4" | grep "^Boot,2130706433," >/dev/null; }
serving() { until_true 20 answers_getip; }
set_options() {  # LOBBY_OPTIONS in the defaults file
    inside sed -i "s|^LOBBY_OPTIONS=.*|LOBBY_OPTIONS=$1|" /etc/default/kestrun-lobby
}
public_url=http://127.0.0.1:8080/

installs_stopped() {
    inside apt-get install -y --no-install-recommends /root/kestrun-lobby.deb || return 1
    ! inside systemctl is-active kestrun-lobby && ! inside systemctl is-enabled kestrun-lobby
}
enables() { inside systemctl enable --now kestrun-lobby && serving; }
announces() {
    [ "$(get "$script?action=raceadd&game=NFS4&data=name:Boot;ip:2130706433")" = OK ] && lists_race
}
restarts() { inside systemctl restart kestrun-lobby && serving && lists_race; }
# nspawn ends with 133 when its container reboots, for its supervisor to boot it again.
reboots() {
    inside systemctl reboot
    local rc=0
    wait "$nspawn_pid" || rc=$?
    echo "systemd-nspawn ended with $rc"
    [ "$rc" -eq 133 ] && boot && serving && lists_race
}
reloads_without_list() {
    local before
    before=$(main_pid)
    inside systemctl reload kestrun-lobby || return 1
    until_true 10 journal_has "nothing to re-read" && sleep 1 &&
        [ "$(main_pid)" = "$before" ] && answers_getip && figure "main PID $before before and after"
}
# grep reads to the end (no -q): under pipefail, a writer cut off by an early exit fails the pipe.
journal_has() { inside journalctl -u kestrun-lobby --no-pager -o cat | grep -F "$1" >/dev/null; }
reloads_changed_list() {
    set_options "--block-list /etc/kestrun-lobby/block-list --downloads /srv/kestrun"
    inside systemctl restart kestrun-lobby && serving || return 1
    local before
    before=$(main_pid)
    [ "$(get "$script?action=racerem&game=NFS4&data=ip:2130706433")" = OK ] || return 1
    inside sh -c 'echo "word: boot" >/etc/kestrun-lobby/block-list' || return 1
    inside systemctl reload kestrun-lobby || return 1
    until_true 10 journal_has "block list /etc/kestrun-lobby/block-list read again" || return 1
    get "$script?action=raceadd&game=NFS4&data=name:Boot;ip:2130706433" | grep "not allowed" >/dev/null &&
        [ "$(main_pid)" = "$before" ] || return 1
    figure "main PID $before before and after"
    inside sh -c 'echo "# nothing blocked" >/etc/kestrun-lobby/block-list' &&
        inside systemctl reload kestrun-lobby &&
        until_true 10 announces
}
kill9_restarts() {
    local before
    before=$(main_pid)
    inside kill -KILL "$before" || return 1
    until_true 20 restarted_from "$before" && serving && lists_race &&
        figure "main PID $before, then $(main_pid)"
}
restarted_from() { local pid; pid=$(main_pid); [ "${pid:-0}" -gt 0 ] && [ "$pid" != "$1" ]; }
journal_logs_access() { journal_has '127.0.0.1 "GET /server/server.php?action=getip" 200'; }
db_of_dynamic_user() {
    local uid owner
    uid=$(inside awk '/^Uid:/ { print $2 }' "/proc/$(main_pid)/status")
    owner=$(inside stat -c %u /var/lib/private/kestrun-lobby/lobby.db)
    figure "lobby runs as uid $uid, lobby.db owned by uid $owner"
    [ "$uid" = "$owner" ] && [ "$uid" -ge 61184 ] && [ "$uid" -le 65519 ] &&
        [ "$(inside readlink /var/lib/kestrun-lobby)" = private/kestrun-lobby ]
}
status_of() { get -o /dev/null -w '%{http_code}' "$@"; }
no_sigsys() {
    local dropin=/etc/systemd/system/kestrun-lobby.service.d
    inside mkdir -p "$dropin" &&
        inside sh -c "printf '[Service]\nSystemCallErrorNumber=kill\n' >$dropin/kill.conf" &&
        inside sed -i "s|^LOBBY_PUBLIC_URL=.*|LOBBY_PUBLIC_URL=$public_url|" /etc/default/kestrun-lobby &&
        inside systemctl daemon-reload && inside systemctl restart kestrun-lobby && serving || return 1
    # systemd's number for "kill"
    [ "$(inside systemctl show -p SystemCallErrorNumber --value kestrun-lobby)" = 2147483646 ] || return 1
    # The action bites here: a call outside @system-service (mount) under the same filter.
    inside systemd-run --wait --quiet -p SystemCallFilter=@system-service -p SystemCallErrorNumber=kill \
        mount -t tmpfs none /mnt
    until_true 5 sh -c "nsenter -t $cpid -a -r -w -- journalctl --no-pager -o cat | grep -q 'status=31/SYS'" ||
        return 1
    local pid expected path status
    pid=$(main_pid)
    while read -r expected path; do
        status=$(status_of "http://127.0.0.1:8080$path")
        echo "$path: $status"
        [ "$status" = "$expected" ] || return 1
    done <<'ROUTES'
200 /
200 /races.json
200 /metrics
200 /download/kestrun.zip
200 /download/kestrun.exe
200 /download/kestrun-setup-x86.exe
200 /download/SHA256SUMS
404 /download/nothing.zip
404 /nothing-here
200 /server/server.php?action=getip
200 /server/server.php?action=racelist&game=NFS5
200 /server/server.php?action=racerem&game=NFS4&data=ip:2130706433
200 /server/server.php?action=raceadd&game=NFS4&data=name:Boot;ip:2130706433
ROUTES
    lists_race || return 1
    inside systemctl reload kestrun-lobby && sleep 1 && [ "$(main_pid)" = "$pid" ] && answers_getip || return 1
    inside systemctl stop kestrun-lobby || return 1
    inside systemctl show -p Result -p ExecMainStatus -p ExecMainCode kestrun-lobby
    [ "$(inside systemctl show -p Result --value kestrun-lobby)" = success ] &&
        ! inside journalctl -u kestrun-lobby --no-pager | grep -E 'status=31|SIGSYS'
    local rc=$?
    inside rm -r "$dropin" && inside systemctl daemon-reload && inside systemctl start kestrun-lobby
    return "$rc"
}
# The restart under the kill action above made them: makensis ran as the dynamic user, under
# the unit's filter, writing only into the state directory.
serves_clients() {
    journal_has "clients for $public_url made" && ! journal_has "not offered" || return 1
    get "http://127.0.0.1:8080/download/kestrun.exe" | grep -aF "$public_url" >/dev/null || return 1
    local uid owner
    uid=$(inside awk '/^Uid:/ { print $2 }' "/proc/$(main_pid)/status")
    owner=$(inside stat -c %u /var/lib/private/kestrun-lobby/clients/kestrun-setup.exe)
    figure "$(inside journalctl -u kestrun-lobby --no-pager -o cat | grep -o "made in [^:]*" | head -n 1)"
    [ "$uid" = "$owner" ]
}
exposure() {
    local line level
    line=$(inside systemd-analyze security --no-pager kestrun-lobby | grep 'Overall exposure level') || return 1
    level=$(sed -n 's/.*: \([0-9.]*\) .*/\1/p' <<<"$line")
    figure "exposure $level"
    awk -v l="$level" 'BEGIN { exit !(l != "" && l <= 2.0) }'
}
purges() {
    inside apt-get purge -y kestrun-lobby || return 1
    local left=0 f
    for f in /lib/systemd/system/kestrun-lobby.service /etc/default/kestrun-lobby \
        /var/lib/kestrun-lobby /var/lib/private/kestrun-lobby \
        /etc/systemd/system/multi-user.target.wants/kestrun-lobby.service; do
        if inside test -e "$f" || inside test -L "$f"; then echo "left: $f"; left=1; fi
    done
    [ "$left" -eq 0 ] && ! inside systemctl is-active kestrun-lobby
}

# The upgrade: the previous release as a host ran it, with races, history and edited settings
# of a mode of the host's own; what it served is kept to compare.
version=$(dpkg-deb -f "$deb" Version)
db=$root/var/lib/private/kestrun-lobby/lobby.db
past_races() { sqlite3 -readonly "$db" 'SELECT game, opened, closed FROM history ORDER BY 1, 2, 3'; }
race_lists() {  # the races, not the list's own time stamp
    local game
    for game in NFS4 NFS5; do get "$script?action=racelist&game=$game" | grep , || return 1; done
}
settings_of() { inside sh -c 'stat -c %a /etc/default/kestrun-lobby; sha256sum </etc/default/kestrun-lobby'; }
previous_serves() {
    inside apt-get install -y --no-install-recommends /root/kestrun-lobby-previous.deb &&
        set_options "--race-ttl 45" && inside chmod 640 /etc/default/kestrun-lobby &&
        inside systemctl enable --now kestrun-lobby && serving || return 1
    local action
    for action in "raceadd&game=NFS4&data=name:Boot;ip:2130706433" "raceadd&game=NFS5&data=name:Boot;ip:2130706433" \
        "racerem&game=NFS5&data=ip:2130706433" "raceadd&game=NFS5&data=name:Again;ip:2130706433"; do
        [ "$(get "$script?action=$action")" = OK ] || return 1
    done
    until_true 10 sh -c '[ "$(sqlite3 -readonly "$1" "SELECT count(*) FROM history")" = 3 ]' _ "$db" || return 1
    race_lists >"$work/races.before" && past_races >"$work/history.before" && settings_of >"$work/settings.before" &&
        main_pid >"$work/pid.before" && inside journalctl --show-cursor -n 0 -o cat | sed -n 's/^-- cursor: //p' >"$work/cursor" &&
        [ -s "$work/cursor" ] || return 1
    figure "$(inside kestrun-lobby --version), $(wc -l <"$work/races.before") races, 3 past races, settings mode $(head -n 1 "$work/settings.before")"
}
# No terminal and DEBIAN_FRONTEND unset: a prompt would end in "end of file on stdin".
upgrades_unattended() {
    inside setsid -w apt-get install -y --no-install-recommends /root/kestrun-lobby.deb </dev/null >"$work/upgrade.log" 2>&1
    local rc=$?
    cat "$work/upgrade.log"
    figure "$(grep -o "Unpacking kestrun-lobby ([^)]*) over ([^)]*)" "$work/upgrade.log")"
    # and dpkg no longer counts the settings as its conffile (it would list it as obsolete)
    [ "$rc" -eq 0 ] && [ "$(inside dpkg-query -W -f='${db:Status-Abbrev}${Version}${Conffiles}' kestrun-lobby)" = "ii $version" ]
}
restarted_once_on_new() {
    local pid starts
    pid=$(main_pid)
    starts=$(inside journalctl -u kestrun-lobby --after-cursor="$(cat "$work/cursor")" --no-pager -o cat | grep -c '^Started ')
    figure "main PID $(cat "$work/pid.before"), then $pid; $starts start"
    [ "$starts" -eq 1 ] && [ "$pid" != "$(cat "$work/pid.before")" ] &&
        [ "$(inside readlink "/proc/$pid/exe")" = /usr/bin/kestrun-lobby ] &&
        [ "$(inside /usr/bin/kestrun-lobby --version)" = "kestrun-lobby $version" ] && serving
}
keeps_races_and_history() {
    race_lists >"$work/races.after" && past_races >"$work/history.after" || return 1
    figure "$(wc -l <"$work/races.after") races, $(wc -l <"$work/history.after") past races"
    diff "$work/races.before" "$work/races.after" && diff "$work/history.before" "$work/history.after"
}
keeps_settings() {
    settings_of >"$work/settings.after" && diff "$work/settings.before" "$work/settings.after" || return 1
    figure "mode $(head -n 1 "$work/settings.after")"
    inside cat "/proc/$(main_pid)/cmdline" | tr '\0' ' ' | grep -F -- "--race-ttl 45" >/dev/null
}

check "apt installs the package without network and does not start or enable it" installs_stopped
check "systemctl enable --now starts it and it serves" enables
check "getip answers 127.0.0.1 and raceadd's race is listed" announces
check "systemctl restart keeps the race" restarts
check "a reboot starts it again and keeps the race" reboots
check "systemctl reload without a block list keeps the same main PID" reloads_without_list
check "systemctl reload with a block list keeps the main PID; the changed list takes effect" reloads_changed_list
check "kill -9 of the main process restarts it, race kept" kill9_restarts
check "the journal has the access-log lines" journal_logs_access
check "the database belongs to the dynamic user" db_of_dynamic_user
check "with SystemCallErrorNumber=kill every route, reload and stop run without SIGSYS" no_sigsys
check "LOBBY_PUBLIC_URL: the clients for that address, installers too, made by the service and served" serves_clients
check "systemd-analyze security: exposure at most 2.0" exposure
check "apt purge removes the unit, the defaults file and the state" purges
check "the previous release, $previous_version, serves races and history with the host's edited settings" previous_serves
check "apt-get install -y of $version over it, without a terminal, succeeds" upgrades_unattended
sed -n 's/^kestrun-lobby: /    postinst said: /p' "$work/upgrade.log"
check "the service is restarted once, on $version's binary" restarted_once_on_new
check "the races and the history are kept" keeps_races_and_history
check "the host's settings are kept byte for byte, with their mode, and in force" keeps_settings

echo "boot test: $failures failed, $((SECONDS - started)) s in all"
[ "$failures" -eq 0 ]
