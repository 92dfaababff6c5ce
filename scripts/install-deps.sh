#!/usr/bin/env bash
# Installs the Debian packages that building and running the terminal need; with --tests,
# also those that only the tests, the fuzz harnesses and the benchmarks need (the test
# command passes it). Idempotent: when every package is present it does nothing and needs
# no rights; otherwise it runs apt-get as root, or through sudo for another user.
#
#   scripts/install-deps.sh           build and run: compiler, Qt (with its translation tools),
#                                     SQLite and its sqlite3 shell (the README's examples use it),
#                                     libpq, libmdb, fonts
#   scripts/install-deps.sh --tests   the same, and the test tools
set -euo pipefail

# Building and running the terminal and kqdb, and the sqlite3 shell the README's examples use.
PACKAGES=(
  build-essential cmake pkg-config ninja-build ccache
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins libgl-dev libxcb1-dev
  qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  libsqlite3-dev libpq-dev libssl-dev mdbtools-dev sqlite3
  fonts-arphic-uming fonts-dejavu-core
)

# Only the tests, fuzzing and benchmarks: a PostgreSQL server and a connection pooler
# (PgBouncer) to start and stop, GoogleTest
# and Google Benchmark, clang with libFuzzer, a headless display with a window manager and a
# screenshot tool, the package tools (lintian among them), the private network of the README
# walk (iproute2), and the shells the tests check files with.
TEST_PACKAGES=(
  postgresql postgresql-client pgbouncer
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
  clang libclang-rt-14-dev llvm-14
  xvfb xauth openbox x11-utils wmctrl xdotool imagemagick procps iproute2
  dpkg-dev file desktop-file-utils appstream bsdutils lintian
)

case "${1:-}" in
"") ;;
--tests) PACKAGES+=("${TEST_PACKAGES[@]}") ;;
*)
  echo "usage: scripts/install-deps.sh [--tests]" >&2
  exit 2
  ;;
esac

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
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "These packages are missing: ${missing[*]}" >&2
    echo "Install them as root (apt-get install ${missing[*]}), then run this again." >&2
    exit 1
  fi
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
