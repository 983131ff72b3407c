#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the manager need, when they
# are missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
    # toolchain
    g++ cmake ninja-build pkg-config ccache
    # JUCE 7 with its CMake config (pulls in the X11, freetype, png and jpeg development files)
    # and the headers its modules include (checked against `ninja -t deps`)
    juce-modules-source libfreetype-dev libpng-dev libjpeg-dev zlib1g-dev libx11-dev libxext-dev
    libxinerama-dev libxrandr-dev libxcursor-dev libxrender-dev
    # netlink: the network tables on Linux
    libnl-3-dev libnl-route-3-dev libnl-genl-3-dev
    # the tools' command lines and JSON output (header-only)
    libcli11-dev nlohmann-json3-dev
    # the .deb packages: dependencies computed from the binaries (dpkg-shlibdeps)
    dpkg-dev
    # tests and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev
    # the fuzz targets: clang with its libFuzzer and sanitizer runtimes
    clang libclang-rt-dev
    # network namespaces for the end-to-end tests and the demo; the wire-timing capture
    iproute2 procps tcpdump
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        SUDO="sudo"
    else
        echo "install-deps: these packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
        exit 1
    fi
fi

echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
