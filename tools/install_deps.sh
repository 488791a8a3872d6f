#!/usr/bin/env bash
# Installs what building, running and testing the tool needs on Debian 12 (as root).
# Usage: install_deps.sh [more packages...] (for tools that need more, such as the fuzzers).
set -euo pipefail

packages=(
    g++ cmake make                      # compiler and build
    qtbase5-dev qtbase5-dev-tools       # Qt 5.15 Core, Gui, Widgets, Sql, Network, Test; moc and rcc
    libqt5sql5-sqlite                   # Qt SQL's SQLite driver: the upgrade record
    libqt5sql5-psql                     # Qt SQL's PostgreSQL driver: the central record
    libpq-dev                           # libpq's header: the central record's statement watchdog
    patchelf libusb-1.0-0               # embedding dfu-util 0.9 with its USB library
    fonts-cantarell                     # the OpenType faces the program embeds
    util-linux                          # flock, which keeps simulator runs apart
    xvfb xauth                          # a display for machines without one
    universal-ctags                     # the function length check (check_function_length.sh)
    libsodium-dev minisign              # the firmware release's signature: checked at build time
                                        # with libsodium; minisign makes the tests' keys
    postgresql-15                       # the central record's test server (with psql); the test
                                        # makes a cluster of its own, never uses the package's
    openssl                             # the test server's throwaway certificate authority
    prometheus                          # promtool, which checks the station's metrics file
    umockdev libumockdev-dev pkg-config # real mode's tests: virtual units at the kernel's interface
                                        # for the embedded dfu-util (tests/virtual_unit)
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}. Run this script as root (sudo) to install them." >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
