#!/usr/bin/env bash
# Benchmarks, each printing its ratio against a baseline measured in the same
# run. By default: qvSetup against its peers (NSIS with lzma and with zlib,
# an MSI made by wixl) on the same payloads, with the goals, written as a
# table and a chart (bench/peers_bench.py), and an update made by qvpack
# patch against the full package, in size and install time
# (bench/delta_bench.py); some 20 minutes on 2 cores.
#
#   scripts/bench.sh [rounds] [--full] [--update-readme]
#
# rounds (default 2): rounds of the install timings of the Python benchmarks.
# --full: the slower extras too: pixel effects (host), the install benchmark
# on a memory file system (drive Q:) and in the Wine temp folder, the
# uninstall benchmark, the window benchmark, one-file packages against xz
# (with qvpack --best), the compression window curve and the system calls per installed file
# (bench/calls_bench.py).
# --update-readme: the peers' table and chart replace README.md's performance
# section (between its bench markers) and docs/bench.svg.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
rounds=2
full=0
update=()
usage="usage: scripts/bench.sh [rounds] [--full] [--update-readme]"
for a in "$@"; do
  case "$a" in
    --update-readme) update=(--update-readme) ;;
    --full) full=1 ;;
    '' | *[!0-9]*) echo "$usage" >&2; exit 2 ;;
    *) rounds=$a ;;
  esac
done
[ "$rounds" -ge 1 ] || { echo "bench: rounds must be 1 or more" >&2; exit 2; }
. scripts/env.sh
# One Wine server for the whole run (prepare_wine_run starts it with -p, so
# no program pays for its start), ended however the run ends.
prepare_wine_run
trap 'stop_wine; [ -z "${xvfb_pid:-}" ] || kill "$xvfb_pid" 2>/dev/null || true' EXIT

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
  # A mirror in the middle of a sync fails one list, not the install.
  as_root apt-get update -qq || true
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

started=$SECONDS
took() { echo "(bench: $(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s so far)"; }
echo "bench: load average $(cut -d' ' -f1-3 /proc/loadavg) at the start, $rounds round(s)$([ "$full" = 1 ] && echo ', --full')"
qvpack=build/host/tools/qvpack/qvpack
setup=build/win32/window/qvSetup.exe

if [ "$full" = 1 ]; then
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
  rm -rf "$shm"
  echo "== uninstall: Wine's 32-bit DLL folder against a bare DeleteFileA loop"
  wine build/win32/bench/uninstall_bench.exe 'Z:\usr\lib\i386-linux-gnu\wine\i386-windows' 5 </dev/null
  echo "== window: first paint and a visible install against a hidden one"
  python3 bench/window_bench.py "$setup" build/win32/bench/bare_window.exe "$rounds"
  took
  echo "== one-file packages: size and packing time against xz"
  python3 bench/package_bench.py "$qvpack" "$setup"
  took
  echo "== system calls per installed file"
  python3 bench/calls_bench.py "$qvpack" "$setup"
  took
fi
echo "== qvSetup against NSIS (lzma, zlib) and an MSI (wixl): the same payloads, the same run"
python3 bench/peers_bench.py "$qvpack" "$setup" "$rounds" "${update[@]}" \
  $([ "$full" = 1 ] && echo --window-curve)
took
echo "== updates: qvpack patch against the full package, in size and install time"
python3 bench/delta_bench.py "$qvpack" "$setup" "$(( rounds < 3 ? 3 : rounds ))"
took
echo "bench: load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
