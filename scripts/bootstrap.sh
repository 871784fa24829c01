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
    # A mirror caught mid-sync fails one index for a minute or so: try
    # again before going on with what was read.
    local n
    for n in 1 2 3; do
      as_root apt-get update -qq && break
      say "apt-get update failed (try $n of 3)"
      [ "$n" -lt 3 ] && sleep 15
    done
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
      dpkg-dev clang libclang-rt-14-dev python3 libjpeg-turbo-progs libzstd-dev liblzma-dev osslsigncode openssl
      icoutils)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  say "installing ${missing[*]}"
  apt_update_once
  if ! as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    # With one architecture's security index unread, the two halves of a
    # multi-arch library can want different versions: take the release's own.
    release=$(. /etc/os-release && echo "$VERSION_CODENAME")
    say "installing from $release alone"
    as_root apt-get install -y -qq --no-install-recommends -t "$release" "${missing[@]}" >/dev/null
  fi
fi

# Debian's source packages: what build/deps is built from.
ensure_deb_src() {
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    say "adding deb-src entries"
    src=/etc/apt/sources.list.d/qvsetup-src.sources
    as_root sh -c "sed 's/^Types: deb\$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > $src"
    apt_updated=0
  fi
  apt_update_once
}

# --- zstd for i686, static, from Debian's source package -------------------
# Two builds: the decompressor alone for the setup program, and the whole
# library for qvpack.exe. The same flags for both, so that a program linking
# both gets the same code whichever archive an object comes from. Unpacking
# speed is install speed: -O2, not -Os (which halves it under Wine to save
# 25 KB), and SSE2 (a third faster; every processor since 2003 has it). Pinned
# to the release's own version: the security update's source files are
# missing from the mirror.
if [ ! -f "$deps/lib/libzstd_d.a" ] || [ ! -f "$deps/lib/libzstd.a" ] || [ ! -f "$deps/include/zstd.h" ]; then
  say "building zstd (static, i686) into build/deps"
  ensure_deb_src
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && apt-get source -qq --download-only libzstd=1.5.4+dfsg2-5 >/dev/null 2>&1 \
     && dpkg-source -x --skip-patches libzstd_*.dsc zs >/dev/null 2>&1)
  cp -r "$work/zs" "$work/zd"
  zmake=(CC=i686-w64-mingw32-gcc-posix AR=i686-w64-mingw32-ar
         ZSTD_LIB_DICTBUILDER=0 ZSTD_LIB_DEPRECATED=0 ZSTD_LEGACY_SUPPORT=0
         MOREFLAGS="-O2 -msse2 -ffunction-sections -fdata-sections -DZSTD_STRIP_ERROR_STRINGS -DHUF_FORCE_DECOMPRESS_X1")
  make -s -C "$work/zd/lib" libzstd.a-mt "${zmake[@]}" ZSTD_LIB_COMPRESSION=0 >/dev/null
  make -s -C "$work/zs/lib" libzstd.a-mt "${zmake[@]}" >/dev/null
  mkdir -p "$deps/lib" "$deps/include"
  cp "$work/zd/lib/libzstd.a" "$deps/lib/libzstd_d.a"
  cp "$work/zs/lib/libzstd.a" "$deps/lib/libzstd.a"
  cp "$work/zs/lib/zstd.h" "$work/zs/lib/zstd_errors.h" "$deps/include/"
  rm -rf "$work"; trap - EXIT
fi

# --- liblzma for i686, static, from Debian's source package ---------------
# One archive for both programs: the setup program calls the decoder alone,
# so the linker takes only its objects; qvpack.exe takes the encoder too.
# LZMA2 (and LZMA1, which it is built on) only: the decoder's filter table
# would otherwise pull every branch filter into the setup program. Threads
# stay on (native ones on i686): turning them off saves nothing in the
# setup program and leaves liblzma's one-time set-up unguarded. Pinned to
# bookworm's 5.4.1, with Debian's fixes applied.
if [ ! -f "$deps/lib/liblzma.a" ] || [ ! -f "$deps/include/lzma.h" ]; then
  say "building liblzma (static, i686) into build/deps"
  ensure_deb_src
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && apt-get source -qq --download-only xz-utils=5.4.1-1+deb12u1 >/dev/null 2>&1 \
     && dpkg-source -x xz-utils_*.dsc xz >/dev/null 2>&1)
  (cd "$work/xz" && ./configure -q --host=i686-w64-mingw32 CC=i686-w64-mingw32-gcc-posix \
     AR=i686-w64-mingw32-ar RANLIB=i686-w64-mingw32-ranlib \
     CFLAGS="-O2 -msse2 -ffunction-sections -fdata-sections" \
     --enable-static --disable-shared --enable-encoders=lzma1,lzma2 --enable-decoders=lzma1,lzma2 \
     --disable-lzip-decoder --disable-microlzma --disable-xz --disable-xzdec --disable-lzmadec \
     --disable-lzmainfo --disable-lzma-links --disable-scripts --disable-doc --disable-nls >/dev/null)
  make -s -C "$work/xz/src/liblzma" >/dev/null
  mkdir -p "$deps/lib" "$deps/include"
  cp "$work/xz/src/liblzma/.libs/liblzma.a" "$deps/lib/"
  cp -r "$work/xz/src/liblzma/api/lzma.h" "$work/xz/src/liblzma/api/lzma" "$deps/include/"
  rm -rf "$work"; trap - EXIT
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
