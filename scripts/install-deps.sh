#!/usr/bin/env bash
# Installs everything the builds and tests need, with apt-get, on Debian 12.
# Safe to run again: packages already present are skipped by apt-get.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# Usage: install-deps.sh [build|all]
#   build: what building the POSIX program and its tests needs (the default)
#   all:   also the Windows cross-compilers, wine, NSIS, the fuzzing and
#          measuring tools and the desktop tools the whole test run uses
packages=(
  build-essential cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev libinih-dev
  libssl-dev openssl
)
if [ "${1:-build}" = "all" ]; then
  packages+=(
    clang libclang-rt-14-dev clang-format valgrind time hyperfine
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
    wine wine64 nsis wixl msitools osslsigncode python3
    xvfb xdotool x11-utils zenity imagemagick tesseract-ocr
    shared-mime-info desktop-file-utils xdg-utils libfile-mimeinfo-perl libglib2.0-bin
    dpkg-dev file lintian man-db groff-base
    firefox-esr chromium python3
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi
