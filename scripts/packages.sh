# Sourced by the set-up scripts: installs the Debian packages the project
# needs, and only those that are missing, with sudo when not root.

# Runs a command as root: as it is for root, with sudo for anyone else.
q9_as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

q9_install_packages() {
    local missing=()
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "Installing missing packages: ${missing[*]}"
    q9_as_root apt-get update -qq
    q9_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Lets dpkg install the packages of another architecture beside the
# machine's own (Debian's multiarch): q9_add_architecture ARCH
q9_add_architecture() {
    local arch=$1
    [ "$arch" = "$(dpkg --print-architecture)" ] && return 0
    dpkg --print-foreign-architectures | grep -qx "$arch" && return 0
    echo "Adding the architecture $arch"
    q9_as_root dpkg --add-architecture "$arch"
    q9_as_root apt-get update -qq
}

# What building and running the panel needs; debian/control's
# Build-Depends name the same for the packages.
Q9_BUILD_PACKAGES=(
    cmake ninja-build g++ pkgconf
    qt6-base-dev qt6-serialport-dev libgl-dev libssl-dev
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-pulseaudio
    fonts-dejavu-core fonts-liberation
)
# What the tests add: clang's fuzzer and sanitizer runtimes, the time zones
# the demo's UTC offset is checked in, Hamlib's rigctl and rigctld as CAT
# programs beside the panel (and ip for the network namespaces that
# README.md's Hamlib recipe runs in and that the network path the audio is
# tested across joins), a sound server of the
# tests' own that the panel plays into and they record from, GStreamer's
# ALSA capture that the relay takes a sound chip's audio with, and the tools
# that build and check the installed files and the Debian packages
# (dpkg-buildpackage wants build-essential; systemd brings systemctl and
# systemd-analyze for the relay's unit, and its pkg-config file says where
# units go; python3 plays a panel and a CAT program at the relay that the
# unit runs).
Q9_TEST_PACKAGES=(
    clang libclang-rt-14-dev tzdata libhamlib-utils iproute2
    desktop-file-utils appstream man-db lintian dpkg-dev build-essential debhelper systemd
    pulseaudio pulseaudio-utils gstreamer1.0-alsa gstreamer1.0-tools python3
)

# Configures one build tree: q9_configure DIR [cmake options...]
q9_configure() {
    local dir=$1
    shift
    cmake -S "$Q9_ROOT" -B "$Q9_ROOT/$dir" -G Ninja "$@" >/dev/null
}

# Configures and builds one build tree, all of it: q9_build DIR [cmake options...]
q9_build() {
    q9_configure "$@"
    cmake --build "$Q9_ROOT/$1" -j "$(nproc)"
}
