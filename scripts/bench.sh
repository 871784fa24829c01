#!/usr/bin/env bash
# Benchmarks, each printing its ratio against a baseline measured in the same
# run. The install benchmark runs twice: on a memory file system (mapped as
# drive Q:, so the engine's own overhead shows) and in the Wine temp folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
. scripts/env.sh
prepare_wine_run

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
python3 bench/window_bench.py build/win32/window/qvSetup.exe build/win32/bench/bare_window.exe 3
rm -rf "$shm"
echo "== one-file packages: size and packing time against xz, install from the file against the folder"
python3 bench/package_bench.py build/host/tools/qvpack/qvpack build/win32/window/qvSetup.exe 3
