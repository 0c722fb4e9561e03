#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12 (as root);
# with the argument "fuzz", also what make fuzz needs. Where the kernel cannot
# run 32-bit programs, also fetches QEMU's user-mode emulator for them into
# build/qemu (see scripts/wine32).
# Idempotent and quiet when everything is there already.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  googletest libgtest-dev libgmock-dev
  libsqlite3-dev sqlite3 nettle-dev
  mariadb-server libmariadb-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine32:i386 wine64
  xvfb xauth x11-utils imagemagick fonts-wqy-microhei fonts-wine
  locales iproute2 util-linux
)
# make fuzz builds with clang and its libFuzzer runtime: `setup.sh fuzz`.
if [ "${1:-}" = fuzz ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages ${missing[*]}; run as root to install them" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

"$(dirname "$0")/fetch-qemu"
