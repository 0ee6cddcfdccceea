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

# What building and running the panel needs.
Q9_BUILD_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-pulseaudio
    fonts-dejavu-core fonts-liberation
)
# What the tests add: clang's fuzzer and sanitizer runtimes, the time zones
# the demo's UTC offset is checked in, Hamlib's rigctl as a CAT program
# beside the panel, and the tools that check the installed files and the
# package (dpkg-dev and file let CPack work out the package's dependencies;
# systemd brings systemd-analyze for the relay's unit), and a sound server
# of the tests' own that the panel plays into and they record from.
Q9_TEST_PACKAGES=(
    clang libclang-rt-14-dev tzdata libhamlib-utils
    desktop-file-utils appstream man-db lintian dpkg-dev file systemd
    pulseaudio pulseaudio-utils
)

# Configures and builds one build tree: q9_build DIR [cmake options...]
q9_build() {
    local dir=$1
    shift
    cmake -S "$Q9_ROOT" -B "$Q9_ROOT/$dir" -G Ninja "$@" >/dev/null
    cmake --build "$Q9_ROOT/$dir" -j "$(nproc)"
}
