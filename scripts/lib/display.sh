# A private X display on Xvfb for Wine's windows.

# Starts Xvfb on the first free display from 90 up and exports DISPLAY.
start_xvfb() {
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp > "${KESTRUNE_ROOT}/build/xvfb-$n.log" 2>&1 &
  kestrune_xvfb_pid=$!
  local i
  for i in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  [ -e "/tmp/.X11-unix/X$n" ] || { echo "kestrune: Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$n"
}

stop_xvfb() {
  if [ -n "${kestrune_xvfb_pid:-}" ]; then kill "$kestrune_xvfb_pid" 2>/dev/null || true; fi
  kestrune_xvfb_pid=
}
