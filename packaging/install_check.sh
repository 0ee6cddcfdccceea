#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and builds the Debian package,
# then checks both with Debian's own tools: the files that land and no
# others, desktop-file-validate on the menu entry, appstreamcli on the
# metadata, systemd-analyze on the relay's unit, man on every manual page,
# lintian on the package; the menu entry's launcher; the relay's settings
# file; and the programs' --version, --help and usage errors.
# Usage: install_check.sh BUILD_DIR VERSION PREFIX BINDIR LIBEXECDIR DATADIR MANDIR SYSCONFDIR
# (the directories as GNUInstallDirs gives them, relative to PREFIX or absolute)
set -uo pipefail
build=$1
version=$2
prefix=$3
shift 3

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

missing=()
for tool in desktop-file-validate appstreamcli systemd-analyze man lintian dpkg-deb dpkg-shlibdeps file gzip; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "FAIL: missing ${missing[*]}; scripts/test installs them (see Q9_TEST_PACKAGES in scripts/packages.sh)"
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Sets bindir, libexecdir, datadir, mandir, sysconfdir and unitdir under a
# prefix from GNUInstallDirs' directories, and prints the files expected
# there. The prefix /usr keeps its configuration in /etc.
layout() {
    local root=$1 dir
    bindir=$2 libexecdir=$3 datadir=$4 mandir=$5 sysconfdir=$6
    unitdir=$root/lib/systemd/system
    [[ $sysconfdir = /* || $root != /usr ]] || sysconfdir=/$sysconfdir
    for dir in bindir libexecdir datadir mandir sysconfdir; do
        [[ ${!dir} = /* ]] || printf -v "$dir" '%s/%s' "$root" "${!dir}"
    done
    cat <<LIST
$bindir/q9relay
$bindir/q9remote
$bindir/q9sim
$libexecdir/q9remote/q9remote-launch
$datadir/applications/q9remote.desktop
$datadir/doc/q9remote/changelog.gz
$datadir/doc/q9remote/copyright
$datadir/icons/hicolor/scalable/apps/q9remote.svg
$datadir/metainfo/org.q9remote.q9remote.metainfo.xml
$mandir/man1/q9relay.1.gz
$mandir/man1/q9remote.1.gz
$mandir/man1/q9sim.1.gz
$sysconfdir/default/q9relay
$unitdir/q9relay@.service
LIST
}

# Exactly the expected files, nothing from the tests, benchmarks or fuzzing.
check_tree() {
    local what=$1 expected=$2 actual=$3
    if ! diff -u <(sort "$expected") <(sort "$actual") >"$work/tree.diff"; then
        fail "$what does not hold exactly the expected files (- missing, + extra):"
        sed -n '3,$p' "$work/tree.diff"
    fi
}

# Checks a tree installed at $root$prefix_of_tree with the tools.
check_installed() {
    local what=$1 root=$2 launcher=$3 bindir=$4 datadir=$5 mandir=$6 sysconfdir=$7 unitdir=$8

    local desktop=$root$datadir/applications/q9remote.desktop
    desktop-file-validate "$desktop" >"$work/out" 2>&1 && [ ! -s "$work/out" ] \
        || fail "$what: desktop-file-validate: $(cat "$work/out")"
    grep -qx "Exec=$launcher" "$desktop" || fail "$what: the menu entry does not run $launcher"
    grep -qx 'Categories=Network;HamRadio;' "$desktop" || fail "$what: the menu entry is not in HamRadio"
    grep -qx 'Icon=q9remote' "$desktop" || fail "$what: the menu entry's icon is not q9remote"
    [ -x "$root$launcher" ] || fail "$what: $launcher is not an executable file"
    grep -qF "exec \"$bindir/q9remote\"" "$root$launcher" || fail "$what: $launcher does not start $bindir/q9remote"

    appstreamcli validate --no-net "$root$datadir"/metainfo/*.metainfo.xml >"$work/out" 2>&1 \
        || fail "$what: appstreamcli validate: $(cat "$work/out")"
    grep -q "<release version=\"$version\"" "$root$datadir"/metainfo/*.metainfo.xml \
        || fail "$what: the AppStream metadata has no release $version"
    zcat "$root$datadir/doc/q9remote/changelog.gz" | head -n 1 | grep -q "^q9remote ($version)" \
        || fail "$what: the changelog's newest entry is not version $version"

    local page
    for page in q9remote q9sim q9relay; do
        local file=$root$mandir/man1/$page.1.gz
        LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$file" >"$work/page" 2>"$work/warnings" \
            || fail "$what: man cannot show $page.1"
        [ -s "$work/warnings" ] && fail "$what: man warns about $page.1: $(cat "$work/warnings")"
        grep -q "Q9 Remote $version" "$work/page" || fail "$what: $page.1 does not carry version $version"
    done
    grep -qF "$launcher" <(zcat "$root$mandir/man1/q9remote.1.gz") \
        || fail "$what: q9remote.1 does not name the launcher $launcher"

    # The relay's unit, as systemd would load it for /dev/ttyUSB0 from this
    # tree (its dependencies are the running system's, not the tree's).
    local unit=$root$unitdir/q9relay@.service
    grep -qx "ExecStart=$bindir/q9relay --device /dev/%I .*" "$unit" \
        || fail "$what: the unit does not start $bindir/q9relay"
    grep -qx "EnvironmentFile=-$sysconfdir/default/q9relay" "$unit" \
        || fail "$what: the unit does not read $sysconfdir/default/q9relay"
    systemd-analyze verify --root="$root" --man=no --recursive-errors=no q9relay@ttyUSB0.service \
        >"$work/out" 2>&1 && [ ! -s "$work/out" ] \
        || fail "$what: systemd-analyze verify q9relay@ttyUSB0.service: $(cat "$work/out")"
    # The settings file's values are ones the relay takes: only the device
    # is refused.
    (
        set -a
        source "$root$sysconfdir/default/q9relay"
        "$root$bindir/q9relay" --device /dev/null --listen "$Q9RELAY_LISTEN" --allow "$Q9RELAY_ALLOW"
    ) >/dev/null 2>"$work/err" </dev/null
    grep -q '^q9relay: cannot open /dev/null' "$work/err" \
        || fail "$what: the relay refuses the settings of $sysconfdir/default/q9relay: $(cat "$work/err")"
}

# -- cmake --install into a DESTDIR
dest=$work/dest
if ! DESTDIR=$dest cmake --install "$build" >"$work/install.log" 2>&1; then
    fail "cmake --install failed"
    cat "$work/install.log"
fi
layout "$prefix" "$@" >"$work/expected"
(cd "$dest" && find . ! -type d | sed 's/^\.//') >"$work/actual"
check_tree "cmake --install" "$work/expected" "$work/actual"
check_installed "cmake --install" "$dest" "$libexecdir/q9remote/q9remote-launch" "$bindir" "$datadir" "$mandir" \
    "$sysconfdir" "$unitdir"

# -- the programs: version, help, usage errors that end with the hint
for program in q9sim q9relay; do
    out=$("$dest$bindir/$program" --version 2>&1)
    [ "$out" = "$program $version" ] || fail "$program --version printed \"$out\", not \"$program $version\""
    "$dest$bindir/$program" --help >"$work/out" 2>&1 && grep -q -- '--listen' "$work/out" \
        || fail "$program --help does not list the options"
done
usage_error() {
    local program=$1
    shift
    "$dest$bindir/$program" "$@" >/dev/null 2>"$work/err" </dev/null
    local status=$?
    [ "$status" -eq 1 ] || fail "$program $*: exit status $status, not 1"
    [ "$(tail -n 1 "$work/err")" = "$program: try --help" ] \
        || fail "$program $*: the last line is not the --help hint: $(cat "$work/err")"
}
usage_error q9sim --bogus
usage_error q9sim --listen nowhere
usage_error q9sim --listen 127.0.0.1:99999
usage_error q9relay --listen 127.0.0.1:2300
usage_error q9relay --device /dev/null --listen nowhere
usage_error q9relay --device /dev/null --listen 127.0.0.1:99999
usage_error q9relay --device /dev/null --allow 10.0.0.0/33
usage_error q9relay --device /dev/null --allow ''
usage_error q9sim --allow 'fd00::/8,nowhere'

# -- the launcher: starts the panel in its settings folder, made on first start
fake=$work/fake-bin
mkdir -p "$fake"
printf '#!/bin/sh\npwd >"%s/started-in"\n' "$work" >"$fake/q9remote"
chmod +x "$fake/q9remote"
sed "s#exec \"$bindir/q9remote\"#exec \"$fake/q9remote\"#" "$dest$libexecdir/q9remote/q9remote-launch" >"$work/launch"
launch_in() {
    local expected=$1
    shift
    rm -f "$work/started-in"
    if ! env "$@" sh "$work/launch" >"$work/out" 2>&1; then
        fail "launcher with $*: $(cat "$work/out")"
        return
    fi
    [ "$(cat "$work/started-in" 2>/dev/null)" = "$expected" ] \
        || fail "launcher with $*: panel started in \"$(cat "$work/started-in" 2>/dev/null)\", not $expected"
}
launch_in "$work/home/.config/q9remote" HOME="$work/home" XDG_CONFIG_HOME=
launch_in "$work/home/.config/q9remote" HOME="$work/home" XDG_CONFIG_HOME=relative/config
launch_in "$work/xdg/q9remote" HOME="$work/home" XDG_CONFIG_HOME="$work/xdg"

# -- the Debian package
if ! cpack -G DEB -B "$work/package" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1; then
    fail "cpack -G DEB failed"
    cat "$work/cpack.log"
fi
deb=$(find "$work/package" -maxdepth 1 -name '*.deb' | head -n 1)
if [ -z "$deb" ]; then
    fail "cpack made no package"
else
    [ "$(dpkg-deb -f "$deb" Package)" = q9remote ] || fail "the package is not named q9remote"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
    [ "$(dpkg-deb -f "$deb" Section)" = hamradio ] || fail "the package's section is not hamradio"
    depends=$(dpkg-deb -f "$deb" Depends)
    for package in libqt6widgets6 libqt6serialport6 libc6 qt6-qpa-plugins; do
        tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//' | grep -qx "$package" \
            || fail "the package does not depend on $package: $depends"
    done
    unpacked=$work/unpacked
    dpkg-deb -x "$deb" "$unpacked"
    layout /usr "$@" >"$work/expected"
    (cd "$unpacked" && find . ! -type d | sed 's/^\.//') >"$work/actual"
    check_tree "the package" "$work/expected" "$work/actual"
    [ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles 2>/dev/null)" = "$sysconfdir/default/q9relay" ] \
        || fail "the package does not keep $sysconfdir/default/q9relay as a configuration file"
    check_installed "the package" "$unpacked" "$libexecdir/q9remote/q9remote-launch" "$bindir" "$datadir" "$mandir" \
        "$sysconfdir" "$unitdir"

    # No error and no warning; information tags are reported, not failed on.
    if ! lintian --fail-on error,warning --display-info "$deb" >"$work/lintian" 2>&1; then
        fail "lintian:"
        grep -v 'running with root privileges' "$work/lintian"
    else
        grep -v 'running with root privileges' "$work/lintian"
    fi
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "install check: all checks passed"
