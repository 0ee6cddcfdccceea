# Sourced by the set-up scripts: installs the Debian packages the project
# needs, and only those that are missing, with sudo when not root.

q9_install_packages() {
    local missing=()
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing missing packages: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What building and running the panel needs; debian/control's
# Build-Depends name the same for the packages.
Q9_BUILD_PACKAGES=(
    cmake ninja-build g++ pkgconf
    qt6-base-dev qt6-serialport-dev libgl-dev
    fonts-dejavu-core fonts-liberation
)
# What the tests add: clang's fuzzer and sanitizer runtimes, the time zones
# the demo's UTC offset is checked in, and the tools that build and check
# the installed files and the Debian packages (systemd brings systemctl and
# systemd-analyze for the relay's unit, and its pkg-config file says where
# units go).
Q9_TEST_PACKAGES=(
    clang libclang-rt-14-dev tzdata
    desktop-file-utils appstream man-db lintian dpkg-dev debhelper systemd
)

# Configures and builds one build tree: q9_build DIR [cmake options...]
q9_build() {
    local dir=$1
    shift
    cmake -S "$Q9_ROOT" -B "$Q9_ROOT/$dir" -G Ninja "$@" >/dev/null
    cmake --build "$Q9_ROOT/$dir" -j "$(nproc)"
}
