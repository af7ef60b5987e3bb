#!/usr/bin/env bash
# Shared by the README's two commands: install what is missing, then
# configure and build incrementally.
set -euo pipefail

HOROLAB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# What building and running the program needs.
HOROLAB_RUN_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libgl-dev libsystemd-dev nlohmann-json3-dev libmicrohttpd-dev
    libgnutls28-dev ca-certificates # the NTS check: TLS 1.3, AES-SIV, the trust store
)
# What the test suite needs besides. No package here configures or starts a
# service: the daemons the tests run (chronyd, ntpd from ntpsec, and
# prometheus to scrape the exporter) are unpacked into the build tree by unpack_daemon, and only their
# shared libraries are installed (prometheus needs none beyond the C library).
HOROLAB_TEST_PACKAGES=(
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth openbox wmctrl x11-utils imagemagick
    dbus-daemon python3-dbusmock
    clang libclang-rt-14-dev
    desktop-file-utils dpkg-dev file lintian appstream
    gnutls-bin # certtool makes the NTS tests' certificates
    libcap2 libedit2 libgnutls30 libnettle8 libseccomp2 # chronyd's libraries
    libbsd0 libssl3 # and ntpd's (NTPsec), which the audit's tests run
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# install_missing_packages PACKAGE...: installs those not installed yet.
install_missing_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# unpack_daemon PACKAGE DIR: the package's files unpacked into DIR, without
# installing it: nothing is configured, started or replaced on the machine.
unpack_daemon() {
    local package="$1" dir="$2" deb
    [ -f "$dir/.$package" ] && return 0
    mkdir -p "$dir/debs"
    if ! (cd "$dir/debs" && apt-get download -qq "$package" 2>/dev/null); then
        as_root apt-get update -qq
        (cd "$dir/debs" && apt-get download -qq "$package")
    fi
    deb=$(ls -t "$dir/debs/${package}"_*.deb | head -n 1)
    dpkg-deb -x "$deb" "$dir"
    touch "$dir/.$package"
}

# build_tree DIR [cmake options...]: configure (again, when options are
# given), then build incrementally.
build_tree() {
    local dir="$1"
    shift
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$HOROLAB_ROOT" -B "$dir" -G Ninja "$@"
    elif [ $# -gt 0 ]; then
        cmake -S "$HOROLAB_ROOT" -B "$dir" "$@" >/dev/null
    fi
    cmake --build "$dir"
}
