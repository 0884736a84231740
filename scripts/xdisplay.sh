# Sourced by the picture scripts: an X display of their own and waits for
# the program's windows. Expects $scratch (a scratch folder) and $orbel_pid
# (the program, once started; empty before); $wait_poll is the seconds
# between looks (0.1 unless set).

# Starts Xvfb on a free display, which it names on a file descriptor;
# sets xvfb_pid and exports DISPLAY.
start_xvfb() {
  exec 3>"$scratch/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  local deadline=$((SECONDS + 20))
  until [ -s "$scratch/display" ]; do
    ((SECONDS < deadline)) || { echo "Xvfb did not start" >&2; cat "$scratch/xvfb.log" >&2; exit 1; }
    sleep 0.1
  done
  export DISPLAY=":$(head -n1 "$scratch/display")"
}

# The newest visible window whose title matches the extended regular
# expression $1, waited for up to $2 seconds (20).
wait_window() {
  local pattern=$1 deadline=$((SECONDS + ${2:-20})) ids
  while ((SECONDS < deadline)); do
    ids=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null || true)
    if [ -n "$ids" ]; then
      tail -n1 <<<"$ids"
      return 0
    fi
    if [ -n "$orbel_pid" ] && ! kill -0 "$orbel_pid" 2>/dev/null; then
      echo "the program ended while waiting for \"$pattern\"" >&2
      return 1
    fi
    sleep "${wait_poll:-0.1}"
  done
  echo "no window \"$pattern\" within ${2:-20} seconds" >&2
  return 1
}

# Waits until no visible window's title matches $1, for up to $2 seconds (20).
wait_gone() {
  local deadline=$((SECONDS + ${2:-20}))
  while xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || { echo "\"$1\" stays open" >&2; return 1; }
    sleep "${wait_poll:-0.1}"
  done
}
