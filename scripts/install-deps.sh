#!/usr/bin/env bash
# Installs what the build needs from Debian's packages, skipping what is there.
#   install-deps.sh          native build and tests
#   install-deps.sh --win32  also the 32-bit Windows cross toolchain and Wine
set -euo pipefail

want_win32=0
[ "${1:-}" = "--win32" ] && want_win32=1

sudo_cmd=""
if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for p in cmake make g++ googletest libgtest-dev libbenchmark-dev; do
  have_pkg "$p" || missing+=("$p")
done
if [ "$want_win32" = 1 ]; then
  for p in g++-mingw-w64-i686-posix wine wine32:i386; do
    have_pkg "$p" || missing+=("$p")
  done
fi

if [ "${#missing[@]}" -eq 0 ]; then exit 0; fi

export DEBIAN_FRONTEND=noninteractive
if [ "$want_win32" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo_cmd dpkg --add-architecture i386
fi
$sudo_cmd apt-get update -qq
$sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
