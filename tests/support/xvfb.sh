# Sourced by the screenshot scripts: a private Xvfb display and waiting for a window.

# start_xvfb FIRST LAST: starts Xvfb on the first free display number in that range; sets
# $display and $xvfb (its pid) and returns once it answers. -noreset: otherwise the server resets
# when the probe below disconnects, and a program connecting during the reset is turned away.
start_xvfb() {
  local n
  for n in $(seq "$1" "$2"); do [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { display=":$n"; break; }; done
  Xvfb "$display" -noreset -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "Xvfb on $display did not answer within 5 s" >&2
}

# wait_window NAME TRIES: the id of the first visible window with that name in $id, trying
# every 0.1 s; fails when none appeared.
wait_window() {
  id=""
  for _ in $(seq "$2"); do
    id=$(DISPLAY="$display" xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 || true)
    [ -n "$id" ] && return 0
    sleep 0.1
  done
  return 1
}
