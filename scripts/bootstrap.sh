#!/usr/bin/env bash
# Installs everything the build, tests and demo need. Safe to run again:
# it only does what is missing and says what it did.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$root/build/deps"
export DEBIAN_FRONTEND=noninteractive

say() { echo "bootstrap: $*"; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

apt_updated=0
apt_update_once() {
  if [ "$apt_updated" -eq 0 ]; then
    as_root apt-get update -qq
    apt_updated=1
  fi
}

# --- Debian packages -------------------------------------------------------
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  say "adding the i386 architecture"
  as_root dpkg --add-architecture i386
  apt_updated=0
fi

pkgs=(wine wine32:i386 wine64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
      binutils-mingw-w64-i686 xvfb xauth x11-utils xdotool imagemagick
      fonts-wqy-zenhei cmake ninja-build googletest libbenchmark-dev
      dpkg-dev clang libclang-rt-14-dev python3 libjpeg-turbo-progs)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  say "installing ${missing[*]}"
  apt_update_once
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# --- a Wine prefix of our own ----------------------------------------------
export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "creating the Wine prefix (takes a little while once)"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
exit 0
