#!/usr/bin/env bash
# The lobby's website in a real browser: headless Chromium loads the page of a running lobby
# with races in both games, one of them named with markup; the rendered DOM must show both
# games' rows, the name as text and the client download, and a screenshot is kept.
#   website_test.sh LOBBY_BINARY SCREENSHOT_PATH
set -uo pipefail
lobby=$1 screenshot=$2
source "$(dirname "$0")/../../scripts/lib/lobby.sh"
work=$(mktemp -d)
cleanup() {
    kestrun_lobby_stop
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$lobby" seed --db "$work/l.db" --races 4 >/dev/null || fail "seed"
awkward='<b>Tom & "Jerry"</b>'
sqlite3 "$work/l.db" "INSERT INTO races (game, ip, name, created) VALUES
    ('NFS5', 3405803876, '$awkward', strftime('%s','now'))" || fail "insert"
mkdir "$work/downloads"
for file in kestrun.exe kestrun-setup.exe kestrun-x86.exe kestrun-setup-x86.exe SHA256SUMS; do
    printf 'MZ' >"$work/downloads/$file"
done
kestrun_lobby_start "$lobby" "$work/err" --listen 127.0.0.1:0 --db "$work/l.db" --downloads "$work/downloads" ||
    fail "lobby did not start"
port=$kestrun_lobby_port

browser=(chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-extensions
         --user-data-dir="$work/profile")
timeout 60 "${browser[@]}" --dump-dom "http://127.0.0.1:$port/" >"$work/dom.html" 2>"$work/chromium.log" \
    || fail "chromium --dump-dom: $(tail -5 "$work/chromium.log")"

expect() { grep -qF -- "$1" "$work/dom.html" || fail "the page lacks: $1"; }
expect '<h2>NFS4 (4 races)</h2>'
expect '<h2>NFS5 (5 races)</h2>'
expect '<td>Demo race 4</td><td>192.0.2.4</td>'
# The DOM holds the markup as text: escaped on serialisation, and no <b> element.
expect '<td>&lt;b&gt;Tom &amp; "Jerry"&lt;/b&gt;</td><td>203.0.113.100</td>'
grep -q '<b>Tom' "$work/dom.html" && fail "the race name became markup"
expect 'href="/download/kestrun.exe"'
expect 'href="/download/kestrun-setup-x86.exe"'
grep -q 'http-equiv="refresh"' "$work/dom.html" && fail "the page reloads itself"
expect '<script src="/site.js" defer=""></script>'
expect '<a href="/">Refresh the lists</a>'
expect 'type the host address'

mkdir -p "$(dirname "$screenshot")"
timeout 60 "${browser[@]}" --hide-scrollbars --window-size=900,1100 \
    --screenshot="$screenshot" "http://127.0.0.1:$port/" >/dev/null 2>>"$work/chromium.log" \
    || fail "chromium --screenshot: $(tail -5 "$work/chromium.log")"
[ -s "$screenshot" ] || fail "no screenshot"
echo "website rendered in Chromium; screenshot $screenshot"
