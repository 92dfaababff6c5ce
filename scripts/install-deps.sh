#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the terminal need.
# Idempotent: packages already present are not fetched again.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins libgl-dev libxcb1-dev
  libsqlite3-dev sqlite3
  mdbtools-dev zlib1g-dev
  postgresql postgresql-client libpq-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-arphic-uming fonts-dejavu-core
  xvfb xauth openbox x11-utils wmctrl xdotool imagemagick procps ccache
  dpkg-dev file desktop-file-utils appstream bsdutils
  clang libclang-rt-14-dev llvm-14
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
