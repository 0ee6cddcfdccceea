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
#   unit files (enable) to the real one.
# - The relay run as its installed unit runs it, in such a root with both
#   packages, for the simulated radio on a pseudo-terminal that dialout may
#   use, as a serial adapter's. What systemd does for the unit is done as
#   systemd would, read from the unit: its dynamic user, supplementary
#   groups, runtime directory, umask, environment (with the installed
#   settings file and options added to it) and command line for the
#   instance; its sandboxing needs systemd itself and is left to
#   systemd-analyze verify. A panel is greeted with the audio port and gets
#   RTP packets there, captured from an ALSA device with no sound server: a
#   tone that alsa-lib's file plugin plays, defined in /etc/asound.conf as a
#   sound chip would be on the board. Another user in dialout asks the
#   radio through the relay's --cat-pty terminal, and one not in dialout is
#   refused it. A panel keys the radio and the relay is killed: the unit's
#   ExecStopPost= unkeys it.
# Mounting needs root: as another user the throwaway roots are skipped.
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
    apt-cache pkg-config gzip python3; do
    command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "FAIL: missing ${missing[*]}; scripts/test installs them (see Q9_TEST_PACKAGES in scripts/packages.sh)"
    exit 1
fi

work=$(mktemp -d)
sandbox=$work/sandbox
# The programs started in the background, to be stopped.
started=()
stop_started() {
    [ ${#started[@]} -gt 0 ] || return 0
    kill "${started[@]}" 2>/dev/null
    wait "${started[@]}" 2>/dev/null
    started=()
}
# What runs in the throwaway root is stopped and the root unmounted before
# anything is deleted, and deleting never crosses into another file system.
trap 'stop_started; umount -R "$sandbox/root" "$sandbox/layer" 2>/dev/null; rm -rf --one-file-system "$work"' EXIT

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
# services allowed to start: /run/systemd/system is there and no policy-rc.d,
# and serial ports' lock files go in /run/lock.
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
    install -d -m 1777 "$root/run/lock"
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
# Runs a command in the throwaway root; as a simple command it can run in
# the background, its process the command's.
sandbox_command=(chroot "$root" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    LC_ALL=C.UTF-8 DEBIAN_FRONTEND=noninteractive)
in_sandbox() {
    "${sandbox_command[@]}" "$@"
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

# The relay as q9relay@.service runs it. No systemd runs here, so what the
# installed unit asks of it is done as systemd would do it: a user of its
# own (DynamicUser=), SupplementaryGroups=, RuntimeDirectory= with
# RuntimeDirectoryMode= and $RUNTIME_DIRECTORY, StateDirectory= likewise,
# UMask=, Environment= and
# EnvironmentFile=, and ExecStart= for the instance. The sandboxing
# directives need systemd itself: systemd-analyze verify checks them above.
service_unit=$root${debian_dirs[5]}/q9relay@.service

# Runs COMMAND every tenth of a second until it succeeds, for up to SECONDS.
wait_until() {
    local tenths=$(($1 * 10))
    shift
    until "$@"; do
        [ $((tenths -= 1)) -gt 0 ] || return 1
        sleep 0.1
    done
}

# The words of its input, a word a line, split and unquoted as systemd does.
words() {
    xargs -r printf '%s\n'
}

# The values of KEY in the service unit's [Service] section, one a line.
unit_values() {
    sed -n "/^\[Service\]/,/^\[/ s/^$1=//p" "$service_unit"
}

# The first id from FIRST up that no user and no group of the throwaway
# root has.
unused_id() {
    local id=$1
    while in_sandbox getent passwd "$id" >/dev/null || in_sandbox getent group "$id" >/dev/null; do
        id=$((id + 1))
    done
    echo "$id"
}

# The service's environment, NAME=VALUE a line, a later one winning: the
# PATH systemd gives, Environment=, then each EnvironmentFile= (one whose
# name starts with "-" may be missing), then the caller's RUNTIME_DIRECTORY.
service_environment() {
    echo PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin
    unit_values Environment | words
    local file
    for file in $(unit_values EnvironmentFile); do
        [[ $file == -* && ! -e $root${file#-} ]] && continue
        # NAME=VALUE lines, the value's quotes removed.
        sed -n "s/^\([A-Za-z_][A-Za-z0-9_]*\)=\([\"']\?\)\(.*\)\2\$/\1=\3/p" "$root${file#-}"
    done
    echo "RUNTIME_DIRECTORY=$RUNTIME_DIRECTORY"
    echo "STATE_DIRECTORY=$STATE_DIRECTORY"
}

# The command KEY (ExecStart=, ExecStopPost=) gives for INSTANCE, a word a
# line, as systemd makes it: a leading "-" (its failure ignored) goes, %I is
# the instance unescaped, ${NAME} in a word is the variable's value, and a
# word that is $NAME alone is that value's words. The values are the
# caller's associative array variables.
service_command() {
    local instance=$1 key=$2 word
    unit_values "$key" | sed "s|^-||; s|%I|$(systemd-escape --unescape "$instance")|g" | words \
        | while IFS= read -r word; do
            if [[ $word =~ ^\$([A-Za-z_][A-Za-z0-9_]*)$ ]]; then
                words <<<"${variables[${BASH_REMATCH[1]}]-}"
                continue
            fi
            while [[ $word =~ \$\{([A-Za-z_][A-Za-z0-9_]*)\} ]]; do
                word=${word//"${BASH_REMATCH[0]}"/${variables[${BASH_REMATCH[1]}]-}}
            done
            echo "$word"
        done
}

# Makes the RuntimeDirectory= folders under /run for the user id UID, as
# RuntimeDirectoryMode= says, and prints them as $RUNTIME_DIRECTORY has them.
runtime_directories() {
    local uid=$1 mode dir
    mode=$(unit_values RuntimeDirectoryMode)
    for dir in $(unit_values RuntimeDirectory); do
        install -d -o "$uid" -g "$uid" -m "${mode:-0755}" "$root/run/$dir" && echo "/run/$dir"
    done | paste -sd:
}

# Makes the StateDirectory= folders for the dynamic user id UID as systemd
# does, under /var/lib/private with StateDirectoryMode= and a link from
# /var/lib, and prints them as $STATE_DIRECTORY has them.
state_directories() {
    local uid=$1 mode dir
    mode=$(unit_values StateDirectoryMode)
    for dir in $(unit_values StateDirectory); do
        # Closed to all but root; systemd opens it to the service inside the
        # service's own mount namespace, which this stand-in has not.
        install -d -m 0711 "$root/var/lib/private"
        install -d -o "$uid" -g "$uid" -m "${mode:-0755}" "$root/var/lib/private/$dir"
        ln -sfn "private/$dir" "$root/var/lib/$dir" && echo "/var/lib/$dir"
    done | paste -sd:
}

# Becomes the command the stand-in made, as the service's user: called in
# a subshell of its own, whose process id is then the command's.
run_as_service() {
    umask "${umask:-0022}"
    exec chroot "$root" setpriv --reuid="$service_uid" --regid="$service_uid" --groups="${groups:-$service_uid}" \
        --inh-caps=-all env -i "${environment[@]}" "${command[@]}"
}

# Starts q9relay@INSTANCE.service in the throwaway root as systemd would,
# its output in $work/service.log, as the user id service_uid it sets; or,
# given KEY (ExecStopPost), runs that command to its end, its output in
# $work/service-KEY.log.
start_service() {
    local instance=$1 key=${2:-ExecStart}
    if [ "$(unit_values DynamicUser)" != yes ]; then
        fail "q9relay@.service does not run as a user of its own (DynamicUser=yes)"
        return 1
    fi
    # As systemd picks a dynamic user: from 61184 up, its group the same.
    service_uid=$(unused_id 61184)
    local RUNTIME_DIRECTORY STATE_DIRECTORY environment assignment command groups umask
    local -A variables
    RUNTIME_DIRECTORY=$(runtime_directories "$service_uid")
    STATE_DIRECTORY=$(state_directories "$service_uid")
    mapfile -t environment < <(service_environment)
    for assignment in "${environment[@]}"; do
        variables[${assignment%%=*}]=${assignment#*=}
    done
    mapfile -t command < <(service_command "$instance" "$key")
    # Without SupplementaryGroups= it is in its own group alone.
    groups=$(unit_values SupplementaryGroups | words | paste -sd,)
    umask=$(unit_values UMask)
    if [ "$key" != ExecStart ]; then
        (run_as_service) </dev/null >"$work/service-$key.log" 2>&1
        return
    fi
    (run_as_service) </dev/null >"$work/service.log" 2>&1 &
    started+=($!)
}

# Starts the simulated radio in the throwaway root on a pseudo-terminal
# that, as udev makes a serial adapter's device, the group dialout may read
# and write, and sets radio_instance to the unit instance that serves it.
start_radio() {
    "${sandbox_command[@]}" q9sim --pty /run/q9sim-radio </dev/null >"$work/radio.log" 2>&1 &
    started+=($!)
    if ! wait_until 10 test -L "$root/run/q9sim-radio"; then
        fail "q9sim made no pseudo-terminal: $(cat "$work/radio.log")"
        return 1
    fi
    local pty
    pty=$(readlink "$root/run/q9sim-radio")
    chgrp dialout "$pty" && chmod 0660 "$pty"
    radio_instance=$(systemd-escape "${pty#/dev/}")
}

# The receiver's audio as a sound card on the board would capture it, where
# this machine has none: the device q9tone of alsa-lib's system-wide
# configuration plays a 600 Hz tone from a file (alsa-lib's file plugin) at
# the pace of the null device, in the format a receiver gives.
tone_device() {
    python3 -c 'import math, struct, sys
rate = 48000
samples = [round(6000 * math.sin(2 * math.pi * 600 * n / rate)) for n in range(30 * rate)]
sys.stdout.buffer.write(struct.pack("<%dh" % len(samples), *samples))' >"$root/usr/local/share/q9tone.raw"
    cat >"$root/etc/asound.conf" <<'ASOUND'
pcm.q9tone {
    type plug
    slave {
        pcm {
            type file
            slave.pcm "null"
            file "/dev/null"
            infile "/usr/local/share/q9tone.raw"
            format "raw"
        }
        format S16_LE
        rate 48000
        channels 1
    }
}
ASOUND
}

# A panel at the relay's ADDRESS:PORT: waits up to 30 s for the greeting
# that names the audio port, and checks that what comes there is RTP
# packets of version 2 and payload type 96, each after its length in two
# bytes.
check_audio() {
    python3 - "$1" <<'CLIENT'
import re, socket, struct, sys

def exactly(connection, size):
    data = b""
    while len(data) < size:
        chunk = connection.recv(size - len(data))
        if not chunk:
            sys.exit("the relay closed the audio connection")
        data += chunk
    return data

host, port = sys.argv[1].rsplit(":", 1)
greeting = b""
try:
    panel = socket.create_connection((host, int(port)), timeout=30)
    while not (named := re.search(rb"!!Q9 relay ready (?:\S+ )*audio=(\d+);", greeting)):
        chunk = panel.recv(4096)
        if not chunk:
            sys.exit(f"the relay closed the panel's connection after {greeting!r}")
        greeting += chunk
    audio = socket.create_connection((host, int(named[1])), timeout=10)
    for number in range(10):
        (length,) = struct.unpack(">H", exactly(audio, 2))
        packet = exactly(audio, length)
        if length < 12 or packet[0] >> 6 != 2 or packet[1] & 0x7F != 96:
            sys.exit(f"packet {number} is not RTP version 2, payload type 96: {packet[:12].hex()}")
except OSError as error:
    sys.exit(f"{error} (greeted with {greeting!r})")
CLIENT
}

# Opens the terminal PATH in the throwaway root as the user id UID with
# setpriv's group option GROUPS, and sends it COMMAND (by default asks for
# VFO A): prints the answer, or why it would not open.
ask_terminal() {
    local path=$1 uid=$2 groups=$3 command=${4:-FA;}
    in_sandbox setpriv --reuid="$uid" --regid="$uid" "$groups" --inh-caps=-all python3 - "$path" "$command" 2>&1 <<'CLIENT'
import os, select, sys, tty

try:
    terminal = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
except OSError as error:
    sys.exit(error.strerror)
tty.setraw(terminal)
os.write(terminal, sys.argv[2].encode("ascii"))
answer = b""
while not answer.endswith(b";") and select.select([terminal], [], [], 5)[0]:
    answer += os.read(terminal, 64)
print(answer.decode("ascii", "replace"))
CLIENT
}

# The terminal PATH the relay serves is the group dialout's: another user in
# it gets the radio's answer, one not in it is refused.
check_terminal() {
    local path=$1 owner answer user
    owner=$(stat -L -c '%G %a' "$root$path" 2>&1)
    [ "$owner" = "dialout 660" ] || fail "$path is not the group dialout's alone to read and write: $owner"
    user=$(unused_id $((service_uid + 1)))
    answer=$(ask_terminal "$path" "$user" --groups=dialout)
    [[ $answer =~ ^FA[0-9]{11}\;$ ]] || fail "a user in dialout asked $path for VFO A and got \"$answer\""
    answer=$(ask_terminal "$path" "$user" --clear-groups)
    [ "$answer" = "Permission denied" ] || fail "a user not in dialout opening $path got \"$answer\""
}

# The relay's key, made in its state folder on its first secure start, is
# its own to read, and the administrator's q9relay --fingerprint finds it.
check_key() {
    local key=$root/var/lib/private/q9relay/key.pem owner logged printed
    owner=$(stat -c '%u %a' "$key" 2>&1)
    [ "$owner" = "$service_uid 600" ] || fail "the relay's key is not its own alone to read: $owner"
    logged=$(sed -n 's/.*key \(SHA256:[^ ,]*\).*/\1/p' "$work/service.log")
    printed=$(in_sandbox q9relay --fingerprint 2>&1)
    [ -n "$logged" ] && [ "$printed" = "$logged" ] \
        || fail "q9relay --fingerprint printed \"$printed\", the service logged its key as \"$logged\""
}

# Whether the simulated radio transmits, as its status record says on its
# own terminal, which nobody holds once the relay is gone: 1 or 0.
radio_transmitting() {
    local record
    record=$(ask_terminal /run/q9sim-radio 0 --keep-groups "IF;")
    echo "${record:28:1}"
}

# A panel at the relay's ADDRESS:PORT keys the radio, and renews its hold
# until the relay is killed; the unit's ExecStopPost= then unkeys the
# radio, which the relay could not.
check_unkey_after_kill() {
    python3 - "$1" >"$work/keyer.log" 2>&1 <<'PANEL' &
import socket, sys, time

host, port = sys.argv[1].rsplit(":", 1)
panel = socket.create_connection((host, int(port)), timeout=10)
for renewal in range(300):
    panel.sendall(b"TX;")
    time.sleep(0.1)
PANEL
    local keyer=$! relay=${started[-1]} keyed unkeyed
    if ! wait_until 10 grep -q 'keys the transmitter' "$work/service.log"; then
        fail "a panel's \"TX;\" did not key the radio: $(cat "$work/service.log")"
        kill "$keyer"
        return
    fi
    kill -KILL "$relay"
    wait "$relay" "$keyer" 2>/dev/null
    # A real port's last close ends the killed relay's exclusive hold on it;
    # a pseudo-terminal, which its master keeps open, needs it ended by hand.
    in_sandbox python3 -c 'import fcntl, os, sys, termios
fcntl.ioctl(os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY), termios.TIOCNXCL)' /run/q9sim-radio
    keyed=$(radio_transmitting)
    start_service "$radio_instance" ExecStopPost
    unkeyed=$(radio_transmitting)
    [ "$keyed$unkeyed" = 10 ] \
        || fail "killed while keyed, the radio was keyed: \"$keyed\", after ExecStopPost: \"$unkeyed\" ($(cat "$work/service-ExecStopPost.log"))"
}

# The relay as its unit runs it, for the simulated radio, with audio from
# the device q9tone, a terminal for CAT programs and a secure CAT port.
check_service() {
    tone_device
    # As an administrator would add them, and ports of the system's choosing:
    # 2300 may be in use on this machine.
    cat >>"$root/etc/default/q9relay" <<'SETTINGS'
Q9RELAY_LISTEN=127.0.0.1:0
Q9RELAY_OPTIONS="--audio-source alsa:q9tone --cat-pty /run/q9relay/cat1 --cat-listen tls:127.0.0.1:0"
SETTINGS
    start_radio && start_service "$radio_instance" || return
    local endpoint
    if ! wait_until 10 grep -q 'listening on ' "$work/service.log"; then
        fail "q9relay@$radio_instance did not start: $(cat "$work/service.log")"
        return
    fi
    endpoint=$(sed -n 's/.*listening on \([^,]*\).*/\1/p' "$work/service.log")
    check_audio "$endpoint" >"$work/out" 2>&1 \
        || fail "q9relay@$radio_instance serves no audio from q9tone: $(cat "$work/out"); it logged: $(cat "$work/service.log")"
    check_terminal /run/q9relay/cat1
    check_key
    check_unkey_after_kill "$endpoint"
}

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing, removing and purging the packages and running the relay as its unit does need root"
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

    sandbox_up
    apt_in_sandbox install "$remote" "$relay"
    check_service
    stop_started
    sandbox_down
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "install check: all checks passed"
