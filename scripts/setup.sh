#!/usr/bin/env bash
# Installs what building, testing and the format check need on a Debian 12 machine; quick when
# everything is there already.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg -s "$1" >/dev/null 2>&1; }

have_cmd i686-w64-mingw32-g++-posix || need+=(mingw-w64)
have_cmd cmake || need+=(cmake)
have_cmd make || need+=(make)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
have_cmd msiinfo || need+=(msitools)
have_cmd gcab || need+=(gcab)
have_cmd cabextract || need+=(cabextract)
have_cmd xvfb-run || need+=(xvfb)
have_cmd clang-format || need+=(clang-format)
have_pkg wine32:i386 || need+=(wine32:i386)
have_cmd wine || need+=(wine)
have_pkg wine64 || need+=(wine64)

if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  echo "Installing: ${need[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq \
    "${need[@]}" >/dev/null
fi
