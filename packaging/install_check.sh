#!/usr/bin/env bash
# Checks what the build installs and the Debian packages made from this
# source tree, with Debian's own tools:
# - `cmake --install` into a temporary DESTDIR: the files that land and no
#   others, desktop-file-validate on the menu entry, appstreamcli on the
#   metadata, systemd-analyze on the relay's unit, man on every manual page;
#   the menu entry's launcher; the relay's settings file; and the programs'
#   --version, --help and usage errors.
# - dpkg-buildpackage without the tests (the suite has run) makes q9remote and
#   q9relay: each holds exactly its own files and passes the same checks,
#   lintian finds no error, warning or hardening tag, every compile took the
#   hardening flags, neither package names the other, and the relay links Qt
#   Core, Network and SerialPort only, with nothing graphical among all that
#   it depends on.
# - Installing the packages alone and together with apt, then upgrading,
#   removing and purging them, and what that leaves behind. This happens in
#   a throwaway root: this machine's root file system under an overlay whose
#   writable layer is a tmpfs, in a mount namespace of this script's own.
#   apt, dpkg and the maintainer scripts act for real and nothing they do
#   outlives the check, and the overlay's layer is exactly what they
#   changed. The root acts as a machine that runs systemd: a stand-in
#   systemctl records what is asked of the running systemd and hands work on
#   unit files (enable) to the real one. Mounting needs root: as another
#   user that part is skipped.
# Usage: install_check.sh BUILD_DIR VERSION BINDIR LIBEXECDIR DATADIR MANDIR SYSCONFDIR UNITDIR
# (the folders as configured, absolute)
set -uo pipefail
if [ "$(id -u)" -eq 0 ] && [ -z "${Q9_OWN_MOUNTS:-}" ]; then
    Q9_OWN_MOUNTS=1 exec unshare --mount --propagation private -- "$BASH" "$0" "$@"
fi
build=$1
version=$2
shift 2
# "$@" are now the configured folders, as files() takes them.
bindir=$1
libexecdir=$2
packaging=$(cd "$(dirname "$0")" && pwd)

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

missing=()
for tool in desktop-file-validate appstreamcli systemd-analyze man lintian dpkg-buildpackage dh readelf \
    apt-cache pkg-config gzip; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "FAIL: missing ${missing[*]}; scripts/test installs them (see Q9_TEST_PACKAGES in scripts/packages.sh)"
    exit 1
fi

work=$(mktemp -d)
sandbox=$work/sandbox
# The throwaway root is unmounted before anything is deleted, and deleting
# never crosses into another file system.
trap 'umount -R "$sandbox/root" "$sandbox/layer" 2>/dev/null; rm -rf --one-file-system "$work"' EXIT

# The files that land, one "PACKAGE PATH" a line, under the folders given
# (BINDIR LIBEXECDIR DATADIR MANDIR SYSCONFDIR UNITDIR). Manual pages are
# named as installed; the packages compress them.
files() {
    local bindir=$1 libexecdir=$2 datadir=$3 mandir=$4 sysconfdir=$5 unitdir=$6
    cat <<LIST
q9remote $bindir/q9remote
q9remote $bindir/q9sim
q9remote $libexecdir/q9remote/q9remote-launch
q9remote $datadir/applications/q9remote.desktop
q9remote $datadir/icons/hicolor/scalable/apps/q9remote.svg
q9remote $datadir/metainfo/org.q9remote.q9remote.metainfo.xml
q9remote $mandir/man1/q9remote.1
q9remote $mandir/man1/q9sim.1
q9relay $bindir/q9relay
q9relay $mandir/man1/q9relay.1
q9relay $sysconfdir/default/q9relay
q9relay $unitdir/q9relay@.service
LIST
}

# Exactly the expected files, nothing from the tests, benchmarks or fuzzing.
check_tree() {
    local what=$1 expected=$2 root=$3
    (cd "$root" && find . ! -type d | sed 's/^\.//') >"$work/actual"
    if ! diff -u <(sort "$expected") <(sort "$work/actual") >"$work/tree.diff"; then
        fail "$what does not hold exactly the expected files (- missing, + extra):"
        sed -n '3,$p' "$work/tree.diff"
    fi
}

# Checks a tree installed at ROOT with the tools; the folders as for files().
check_installed() {
    local what=$1 root=$2 bindir=$3 libexecdir=$4 datadir=$5 mandir=$6 sysconfdir=$7 unitdir=$8
    local launcher=$libexecdir/q9remote/q9remote-launch

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

    # Each page as man shows it, compressed or not, in $work/PAGE.txt.
    local page
    for page in q9remote q9sim q9relay; do
        LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$root$mandir/man1/$page".1* \
            >"$work/$page.txt" 2>"$work/warnings" || fail "$what: man cannot show $page.1"
        [ -s "$work/warnings" ] && fail "$what: man warns about $page.1: $(cat "$work/warnings")"
        grep -q "Q9 Remote $version" "$work/$page.txt" || fail "$what: $page.1 does not carry version $version"
    done
    grep -qF "$launcher" "$work/q9remote.txt" || fail "$what: q9remote.1 does not name the launcher $launcher"
    grep -qF "$sysconfdir/default/q9relay" "$work/q9relay.txt" \
        || fail "$what: q9relay.1 does not name $sysconfdir/default/q9relay"

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
files "$@" | cut -d' ' -f2 >"$work/expected"
check_tree "cmake --install" "$work/expected" "$dest"
check_installed "cmake --install" "$dest" "$@"

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

# -- the Debian packages
# Debian's folders, systemd's units where its pkg-config file says.
debian_dirs=(/usr/bin /usr/libexec /usr/share /usr/share/man /etc "$(pkg-config --variable=systemdsystemunitdir systemd)")
packages=$work/packages
mkdir -p "$packages"
if ! DEB_BUILD_OPTIONS=nocheck "$packaging/build_packages.sh" "$packages" -b --build-profiles=nocheck -Jauto \
    >"$work/build.log" 2>&1; then
    fail "dpkg-buildpackage failed:"
    tail -n 40 "$work/build.log"
fi

# Every compile took dpkg-buildflags' fortify and stack protector flags
# (the linker's are lintian's to check).
grep -E '/c\+\+ .* -o [^ ]+\.o ' "$work/build.log" >"$work/compiles"
[ -s "$work/compiles" ] || fail "the build log shows no compile"
for flag in -D_FORTIFY_SOURCE= -fstack-protector; do
    grep -vF -- "$flag" "$work/compiles" >"$work/unflagged" \
        && fail "compiled without $flag: $(head -n 1 "$work/unflagged")"
done

# What a package needs installed with it, one package a line (each of a
# choice of packages too).
needs() {
    dpkg-deb -f "$1" Pre-Depends Depends | sed 's/^[^:]*: //' | tr ',|' '\n\n' | sed 's/(.*//; s/ //g' | grep .
}

arch=$(dpkg --print-architecture)
remote_deb=$packages/q9remote_${version}_$arch.deb
relay_deb=$packages/q9relay_${version}_$arch.deb
unpacked=$work/unpacked
for deb in "$remote_deb" "$relay_deb"; do
    package=${deb##*/}
    package=${package%%_*}
    if [ ! -f "$deb" ]; then
        fail "no package $package"
        continue
    fi
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$package's version is not $version"
    [ "$(dpkg-deb -f "$deb" Section)" = hamradio ] || fail "$package's section is not hamradio"
    # Each stands alone: neither needs, recommends nor suggests the other.
    dpkg-deb -f "$deb" Pre-Depends Depends Recommends Suggests Enhances \
        | grep -Ew 'q9remote|q9relay' >"$work/out" \
        && fail "$package names the other package: $(cat "$work/out")"
    dpkg-deb -x "$deb" "$work/$package"
    dpkg-deb -x "$deb" "$unpacked"
    {
        files "${debian_dirs[@]}" | sed -n "s/^$package //p" | sed 's#/man1/.*\.1$#&.gz#'
        echo "/usr/share/doc/$package/changelog.gz"
        echo "/usr/share/doc/$package/copyright"
        echo "/usr/share/lintian/overrides/$package"
    } >"$work/expected"
    check_tree "$package" "$work/expected" "$work/$package"
    zcat "$work/$package/usr/share/doc/$package/changelog.gz" | head -n 1 | grep -q "^q9remote ($version)" \
        || fail "$package: the changelog's newest entry is not version $version"
done
[ -d "$unpacked" ] && check_installed "the packages" "$unpacked" "${debian_dirs[@]}"

if [ -f "$relay_deb" ] && [ -f "$remote_deb" ]; then
    [ "$(dpkg-deb --ctrl-tarfile "$relay_deb" | tar -xO ./conffiles)" = /etc/default/q9relay ] \
        || fail "q9relay does not keep /etc/default/q9relay as a configuration file"
    dpkg-deb --ctrl-tarfile "$remote_deb" | tar -t | grep -qx './conffiles' \
        && fail "q9remote has configuration files"
    needs "$remote_deb" >"$work/needs"
    for package in libqt6widgets6 libqt6serialport6 libc6 qt6-qpa-plugins; do
        grep -qx "$package" "$work/needs" || fail "q9remote does not depend on $package: $(cat "$work/needs")"
    done

    # The relay for a headless computer: Qt Core, Network and SerialPort...
    qt=$(readelf -d "$work/q9relay/usr/bin/q9relay" | sed -n 's/.*Shared library: \[\(libQt6[^]]*\)\]/\1/p' \
        | sort | tr '\n' ' ')
    [ "$qt" = "libQt6Core.so.6 libQt6Network.so.6 libQt6SerialPort.so.6 " ] \
        || fail "q9relay links Qt libraries other than Core, Network and SerialPort: $qt"
    # ...and nothing graphical in all that the package needs, however deep.
    needs "$relay_deb" >"$work/needs"
    xargs apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
        --no-enhances <"$work/needs" 2>/dev/null | grep -v '^ ' | sort -u >"$work/closure"
    [ "$(wc -l <"$work/closure")" -gt "$(wc -l <"$work/needs")" ] \
        || fail "apt-cache does not know q9relay's dependencies: $(cat "$work/needs")"
    grep -E '^(libqt6(gui|widgets|opengl|xcbqpa)|qt6-qpa-plugins|libx11|libxcb|libxkb|libgl1|libglx|libegl|libwayland|libvulkan)' \
        "$work/closure" >"$work/graphical" \
        && fail "q9relay needs graphical packages: $(tr '\n' ' ' <"$work/graphical")"

    # No error and no warning, and none of the hardening tags; the
    # information tags left are reported.
    lintian --fail-on error,warning --display-info "$packages"/*.changes >"$work/lintian" 2>&1 \
        || fail "lintian found errors or warnings:"
    grep -v 'running with root privileges' "$work/lintian"
    grep -q ' hardening-' "$work/lintian" && fail "lintian finds the build not hardened"
fi

# -- installing, upgrading, removing and purging, in a throwaway root
root=$sandbox/root
# Mounts a fresh throwaway root, with the packages in /q9-packages and the
# stand-in systemctl in /usr/local/sbin, on the PATH that in_sandbox and apt
# give the maintainer scripts. It acts as a machine that runs systemd with
# services allowed to start: /run/systemd/system is there and no policy-rc.d.
# What it holds then is listed in $sandbox/setup, not counted as left behind.
sandbox_up() {
    local layer=$sandbox/layer
    mkdir -p "$root" "$layer"
    mount -t tmpfs q9-sandbox "$layer"
    mkdir "$layer/upper" "$layer/work"
    mount -t overlay q9-sandbox -o "lowerdir=/,upperdir=$layer/upper,workdir=$layer/work" "$root"
    mount --rbind /dev "$root/dev"
    mount -t proc proc "$root/proc"
    mount -t tmpfs run "$root/run"
    mkdir -p "$root/run/systemd/system" "$root/q9-packages" "$root/usr/local/sbin"
    rm -f "$root/usr/sbin/policy-rc.d"
    cp "$remote_deb" "$relay_deb" "$root/q9-packages/"
    cat >"$root/usr/local/sbin/systemctl" <<'STANDIN'
#!/bin/sh
# What is asked of the running systemd is recorded; work on unit files is
# the real systemctl's, offline.
for arg; do
    case $arg in -*) ;; *) verb=$arg && break ;; esac
done
case ${verb-} in
enable | disable | reenable | is-enabled | preset | mask | unmask | link | revert)
    SYSTEMD_OFFLINE=1 exec /bin/systemctl "$@" ;;
esac
echo "$*" >>/run/systemctl.log
STANDIN
    chmod 755 "$root/usr/local/sbin/systemctl"
    (cd "$layer/upper" && find . -mindepth 1 -printf '%y %P\n') >"$sandbox/setup"
}
sandbox_down() {
    umount -R "$root"
    umount "$sandbox/layer"
}
in_sandbox() {
    chroot "$root" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        LC_ALL=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}
apt_in_sandbox() {
    in_sandbox apt-get -y -q -o DPkg::Path=/usr/local/sbin:/usr/sbin:/usr/bin:/sbin:/bin "$@" \
        >"$work/apt.log" 2>&1 || fail "apt-get $*: $(tail -n 5 "$work/apt.log")"
}
# What was asked of systemd since the last call, on one line.
systemd_calls() {
    local log=$root/run/systemctl.log
    [ -f "$log" ] || return 0
    tr '\n' ';' <"$log"
    rm "$log"
}
# What apt, dpkg and the maintainer scripts left in the throwaway root but
# their own records, the logs and the manual pages' index: any file or link
# that differs from this machine's, any deletion (a whiteout), and any
# folder this machine does not have. Caches that triggers rebuilt (the
# menu's, the icons') count only if they came out different.
left_behind() {
    local upper=$sandbox/layer/upper type path
    (cd "$upper" && find . -mindepth 1 -printf '%y %P\n') | grep -vxFf "$sandbox/setup" \
        | while read -r type path; do
            case $type:$path in
            ?:var/lib/dpkg* | ?:var/lib/apt* | ?:var/cache/apt* | ?:var/cache/debconf* | ?:var/cache/man* | ?:var/log*) ;;
            d:*) [ -d "/$path" ] || echo "$path" ;;
            f:*) [ -f "/$path" ] && cmp -s "/$path" "$upper/$path" || echo "$path" ;;
            *) echo "$path" ;;
            esac
        done | tr '\n' ' '
}
check_nothing_left() {
    local left
    left=$(left_behind)
    [ -z "$left" ] || fail "$1 left behind: $left"
}

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing, removing and purging the packages needs root"
elif [ -f "$relay_deb" ] && [ -f "$remote_deb" ]; then
    remote=/q9-packages/${remote_deb##*/}
    relay=/q9-packages/${relay_deb##*/}

    sandbox_up
    apt_in_sandbox install "$remote"
    apt_in_sandbox purge q9remote
    check_nothing_left "q9remote, installed alone and purged,"
    sandbox_down

    sandbox_up
    apt_in_sandbox install "$relay"
    [ -z "$(systemd_calls)" ] || fail "installing q9relay asked systemd for something"
    # The administrator's instance, as README.md has it.
    in_sandbox systemctl enable q9relay@ttyUSB0.service >/dev/null 2>&1
    link=$root/etc/systemd/system/multi-user.target.wants/q9relay@ttyUSB0.service
    [ -L "$link" ] || fail "systemctl enable q9relay@ttyUSB0 made no link"
    apt_in_sandbox install --reinstall "$relay"
    calls=$(systemd_calls)
    [ "$calls" = "--system daemon-reload;try-restart q9relay@*.service;" ] \
        || fail "upgrading q9relay asked systemd for \"$calls\", not to restart its running instances"
    apt_in_sandbox remove q9relay
    calls=$(systemd_calls)
    [ "$calls" = "stop q9relay@*.service;--system daemon-reload;" ] \
        || fail "removing q9relay asked systemd for \"$calls\", not to stop its instances"
    [ -f "$root/etc/default/q9relay" ] || fail "removing q9relay removed its settings"
    [ -L "$link" ] || fail "removing q9relay removed the administrator's instance"
    apt_in_sandbox purge q9relay
    [ -z "$(systemd_calls)" ] || fail "purging q9relay asked systemd for something"
    check_nothing_left "q9relay, installed alone, enabled, upgraded, removed and purged,"
    sandbox_down

    sandbox_up
    apt_in_sandbox install "$remote" "$relay"
    apt_in_sandbox purge q9remote q9relay
    check_nothing_left "q9remote and q9relay, installed together and purged,"
    sandbox_down
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "install check: all checks passed"
