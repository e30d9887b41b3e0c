#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
# Sourced by run.sh and test.sh.
set -euo pipefail

RAID_PACKAGES=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libfuzzer-14-dev libclang-rt-14-dev
  libudev-dev
  qt6-base-dev libgl-dev
  xvfb xdotool xauth imagemagick
  python3 python3-aiosmtpd
  # promtool, which checks the monitor's metrics file
  prometheus
  # mail over TLS (the library, and the tool the tests make their certificates with)
  libssl-dev openssl
  # desktop notifications: a session bus for the tests
  dbus-daemon
  # the service on the system bus (sd-bus), and its tests: a private bus with polkit mocked,
  # the bus policy checked against its DTD
  libsystemd-dev python3-dbusmock libxml2-utils
  # the window as a screen reader sees it: the AT-SPI bus and Python's client of it
  python3-pyatspi at-spi2-core
  # the Debian packages (scripts/package.sh) and their checks (scripts/check-packages.sh)
  dpkg-dev lintian desktop-file-utils debootstrap
)

raid_install_missing() {
  local missing=()
  for p in "${RAID_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -eq 0 ]; then return 0; fi
  echo "Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
