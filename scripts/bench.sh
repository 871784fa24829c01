#!/usr/bin/env bash
# Benchmarks, each printing its ratio against a baseline measured in the same
# run. The install benchmark runs twice: on a memory file system (mapped as
# drive Q:, so the engine's own overhead shows) and in the Wine temp folder.
# Last, qvSetup against its peers (NSIS with lzma and with zlib, an MSI made
# by wixl) on the same payloads, written as a table and a chart.
#
#   scripts/bench.sh [rounds] [--update-readme]
#
# rounds (default 3): rounds of the install timings of the Python benchmarks.
# --update-readme: the peers' table and chart replace README.md's performance
# section (between its bench markers) and docs/bench.svg.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
rounds=3
update=()
for a in "$@"; do
  case "$a" in
    --update-readme) update=(--update-readme) ;;
    '' | *[!0-9]*) echo "usage: scripts/bench.sh [rounds] [--update-readme]" >&2; exit 2 ;;
    *) rounds=$a ;;
  esac
done
[ "$rounds" -ge 1 ] || { echo "bench: rounds must be 1 or more" >&2; exit 2; }
. scripts/env.sh
prepare_wine_run

# The peers' tools (and GNU time for peak memory), installed the way
# scripts/bootstrap.sh installs its packages: only what is missing.
export DEBIAN_FRONTEND=noninteractive
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
missing=()
for p in nsis wixl time; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "bench: installing ${missing[*]}"
  as_root apt-get update -qq
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

started=$SECONDS
took() { echo "(bench: $(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s so far)"; }

echo "== pixel effects (host, 1920x1080, against memcpy)"
build/host/bench/host/effects_bench

shm=/dev/shm/qvsetup-bench
mkdir -p "$shm"
ln -sfn "$shm" "$WINEPREFIX/dosdevices/q:"
echo "== install: memory file system (Q:)"
wine build/win32/bench/install_bench.exe 5 'Q:' </dev/null
echo "== install: disk (Wine temp folder)"
wine build/win32/bench/install_bench.exe 3 </dev/null
rm -f "$WINEPREFIX/dosdevices/q:"
echo "== uninstall: Wine's 32-bit DLL folder against a bare DeleteFileA loop"
wine build/win32/bench/uninstall_bench.exe 'Z:\usr\lib\i386-linux-gnu\wine\i386-windows' 5 </dev/null
echo "== window: first paint and a visible install against a hidden one"
python3 bench/window_bench.py build/win32/window/qvSetup.exe build/win32/bench/bare_window.exe "$rounds"
rm -rf "$shm"
took
echo "== one-file packages: size and packing time against xz, install from the file against the folder"
python3 bench/package_bench.py build/host/tools/qvpack/qvpack build/win32/window/qvSetup.exe "$rounds"
took
echo "== qvSetup against NSIS (lzma, zlib) and an MSI (wixl): the same payloads, the same run"
python3 bench/peers_bench.py build/host/tools/qvpack/qvpack build/win32/window/qvSetup.exe "$rounds" "${update[@]}"
took
