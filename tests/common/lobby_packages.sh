# The lobby's packages for the tests that install them (sourced): this tree's, from a fresh
# release build (what hosts install), and the last release's, built once from its commit in
# packaging/releases and kept under build/release-packages/<commit>/.
# The kestrun_*_deb functions print the .deb's path, or say why not and fail.

skip() { echo "skipped: $*"; exit 77; }
die() { echo "FAIL: $*"; exit 1; }
# $1: what needs root; the rest: the tools it runs
kestrun_needs() {
    local what=$1 tool
    shift
    [ "$(id -u)" -eq 0 ] || skip "$what needs root"
    for tool; do command -v "$tool" >/dev/null || die "$tool is missing (scripts/bootstrap installs it)"; done
}

# $1: source dir, $2: a work dir for the package and the logs
kestrun_this_deb() {
    local source_dir=$1 out=$2 debs
    (cd "$source_dir" && cmake --preset native-release && cmake --build --preset native-release \
        --target kestrun-lobby) >"$out/build.log" 2>&1 || { tail -n 30 "$out/build.log"; echo "release build failed"; return 1; }
    cpack --config "$source_dir/build/native-release/CPackConfig.cmake" -B "$out/out" >"$out/cpack.log" 2>&1 ||
        { cat "$out/cpack.log"; echo "cpack failed"; return 1; }
    debs=("$out"/out/kestrun-lobby_*_amd64.deb)
    [ -f "${debs[0]}" ] || { echo "cpack wrote no kestrun-lobby_<version>_amd64.deb"; return 1; }
    echo "${debs[0]}"
}

# $1: source dir. Sets previous_version, previous_commit and previous_deb of the last release.
kestrun_previous_release() {
    read -r previous_version previous_commit < <(awk '!/^#/ && NF == 2 { last = $0 }
        END { if (last == "") exit 1; print last }' "$1/packaging/releases") || die "packaging/releases names no release"
    previous_deb=$(kestrun_release_deb "$1" "$previous_version" "$previous_commit") ||
        { echo "$previous_deb"; die "the previous release's package"; }
}

# $1: source dir, $2: version, $3: commit. The commit's tree, the same build and cpack; the
# tree lies under build/ so that ccache (CCACHE_BASEDIR) finds what the same sources made.
kestrun_release_deb() {
    local source_dir=$1 version=$2 commit=$3
    local cache=$source_dir/build/release-packages/$commit
    local deb=$cache/kestrun-lobby_${version}_amd64.deb
    if [ ! -f "$deb" ]; then
        git -C "$source_dir" cat-file -e "$commit^{commit}" 2>/dev/null ||
            { echo "release $version's commit $commit is not in this clone"; return 1; }
        local tree=$cache.src
        rm -rf "$tree" "$cache.part" && mkdir -p "$tree" "$cache.part" || return 1
        git -C "$source_dir" archive "$commit" | tar -x -C "$tree" || { echo "git archive $commit failed"; return 1; }
        kestrun_this_deb "$tree" "$cache.part" >"$cache.part/result" ||
            { cat "$cache.part/result"; echo "release $version did not build from $commit (logs in $cache.part)"; return 1; }
        [ "$(basename "$(tail -n 1 "$cache.part/result")")" = "$(basename "$deb")" ] ||
            { echo "release $version's commit built $(tail -n 1 "$cache.part/result")"; return 1; }
        mkdir -p "$cache" && mv "$(tail -n 1 "$cache.part/result")" "$deb" || return 1
        rm -rf "$tree" "$cache.part"
    fi
    echo "$deb"
}

# The Debian mirror apt uses here, for roots made from it.
kestrun_debian_mirror() {
    local mirror
    mirror=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\/debian\)$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
    echo "${mirror:-http://deb.debian.org/debian}"
}
