#!/usr/bin/env bash
# Seals the demo package in examples/ into one file with qvpack and installs
# it under Wine, the way a user would: the window asks for a folder, the
# suggested one is accepted with a click, and at the end the finished window
# is saved as a screenshot and closed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

. scripts/env.sh
prepare_wine_run

pkg="$root/build/demo/package"
rm -rf "$pkg" && mkdir -p "$(dirname "$pkg")"
cp -r examples/package "$pkg"
mkdir -p "$pkg/app/data/empty"  # git keeps no empty folders
cp build/win32/window/qvSetup.exe "$pkg/setup.exe"

# One file to ship: the setup program with the package sealed behind it.
one="$root/build/demo/one/DemoSetup.exe"
rm -rf "$(dirname "$one")" && mkdir -p "$(dirname "$one")"
build/host/tools/qvpack/qvpack pack "$pkg" -o "$one" --stub build/win32/window/qvSetup.exe
echo "demo: sealed examples/package into $one ($(stat -c %s "$one") bytes); inside:"
build/host/tools/qvpack/qvpack list "$one" | sed 's/^/    /'

# A clean slate: what an earlier demo installed goes first.
pf=$(wine cmd /c echo %ProgramFiles% 2>/dev/null | tr -d '\r')
target_unix=$(winepath -u "$pf\\Demo" 2>/dev/null)
rm -rf "$target_unix"
wine reg delete 'HKCU\Software\qvSetupDemo' /f >/dev/null 2>&1 || true
rm -rf "$(winepath -u "$(wine cmd /c echo %ProgramData% 2>/dev/null | tr -d '\r')\Microsoft\Windows\Start Menu\Programs\qvSetup Demo" 2>/dev/null)"
wine reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\qvSetup Demo' /f >/dev/null 2>&1 || true

echo "demo: starting DemoSetup.exe (window title \"qvSetup Demo\")"
wine "$one" >/dev/null 2>&1 </dev/null &
setup_pid=$!

find_window() {
  for _ in $(seq 100); do
    id=$(xdotool search --name "qvSetup Demo" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.1
  done
  echo "demo: the window did not appear" >&2
  exit 1
}
# The push button sits centred, 94 pixels down, 75 x 25.
click_button() {
  local w
  w=$(xdotool getwindowgeometry "$1" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
  xdotool mousemove --window "$1" $((w / 2)) 106 click 1
}

win=$(find_window)
sleep 2  # the prompt is the first thing the script does
echo "demo: accepting the suggested folder"
click_button "$win"
sleep 3
mkdir -p build/demo
import -window "$win" build/demo/finished.png
echo "demo: screenshot of the finished window: build/demo/finished.png"
click_button "$win"
for _ in $(seq 100); do kill -0 "$setup_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$setup_pid" 2>/dev/null; then
  echo "demo: DemoSetup.exe did not end after OK" >&2
  kill "$setup_pid"
  exit 1
fi
echo "demo: one click on OK ended DemoSetup.exe"

wine build/win32/tools/skin_demo/skin_demo.exe "$(winepath -w "$root/build/demo/skin_controls.bmp")" </dev/null
convert build/demo/skin_controls.bmp build/demo/skin_controls.png
echo "demo: the skin controls on their own: build/demo/skin_controls.png"

echo "demo: installed into $pf\\Demo:"
(cd "$target_unix" && find . | sort | sed 's/^/    /')
echo "demo: the started command wrote: $(cat "$target_unix/started.txt" 2>/dev/null | tr -d '\r')"
echo "demo: registry values:"
wine reg query 'HKCU\Software\qvSetupDemo' 2>/dev/null | tr -d '\r' | sed -n 's/^    /    /p'
echo "demo: registered for uninstalling:"
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\qvSetup Demo' 2>/dev/null | tr -d '\r' |
  sed -n 's/^    /    /p'

menu=$(wine cmd /c echo %ProgramData% 2>/dev/null | tr -d '\r')'\Microsoft\Windows\Start Menu\Programs\qvSetup Demo'
menu_unix=$(winepath -u "$menu" 2>/dev/null)
echo "demo: in the Start menu ($menu):"
(cd "$menu_unix" && find . -mindepth 1 | sort | sed 's/^/    /')

echo "demo: uninstalling, silently: \"$pf\\Demo\\uninstall.exe\" /S"
set +e
wine "$pf\\Demo\\uninstall.exe" /S "/LOG=$(winepath -w "$root/build/demo/uninstall.log")" </dev/null
code=$?
set -e
echo "demo: the uninstaller ended with exit code $code; log: build/demo/uninstall.log"
if [ -e "$menu_unix" ]; then
  echo "demo: the Start menu entry stayed: $menu" >&2
  exit 1
fi
echo "demo: the Start menu entry is gone with it"
if [ -d "$target_unix" ]; then
  echo "demo: left in $pf\\Demo (the started command's note: nobody recorded it):"
  (cd "$target_unix" && find . -mindepth 1 | sort | sed 's/^/    /')
fi
