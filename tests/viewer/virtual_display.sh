#!/bin/sh
# Runs a command on a virtual X display of its own. The X server chooses a free display
# number itself (-displayfd), so runs started together cannot pick the same one, as
# concurrent xvfb-run -a calls can; and it does not reset when its last client leaves
# (-noreset), which would refuse the next window a program opens.
set -u
dir=$(mktemp -d) || exit 1
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/log" &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$dir"' EXIT
tries=0
while [ ! -s "$dir/display" ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 200 ] || ! kill -0 "$server" 2>/dev/null; then
    echo "virtual_display.sh: Xvfb did not start:" >&2
    cat "$dir/log" >&2
    exit 1
  fi
  sleep 0.05
done
DISPLAY=":$(cat "$dir/display")" "$@"
