# Sourced by the scripts: the project's own Wine prefix and an X display.
root=${root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX="$root/build/wineprefix"
export WINEDEBUG=-all
# Never let Wine offer to download Mono or Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# Starts Xvfb when there is no display; it is stopped when the script exits.
ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return; fi
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  trap 'stop_wine; kill "$xvfb_pid" 2>/dev/null || true' EXIT
}

# One wineserver for the whole run, so each program starts quickly. Wine's
# own services start with the first program: start them here, away from the
# test runner's pipes, or the runner would wait on them for ever.
start_wine() {
  setsid wineserver -p >/dev/null 2>&1 </dev/null || true
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}
stop_wine() { wineserver -k >/dev/null 2>&1 || true; }

# Everything a script that runs the program needs: packages, a build, a
# display and a running wineserver.
prepare_wine_run() {
  bash "$root/scripts/bootstrap.sh"
  bash "$root/scripts/build.sh" >/dev/null
  ensure_display
  start_wine
}
