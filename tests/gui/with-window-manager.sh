#!/bin/sh
# Runs a command on the current X display under openbox, started here and
# ended afterwards; the command's exit status is ours. The command learns
# that a window manager is meant to be there from HOROLAB_WINDOW_MANAGER.
#   with-window-manager.sh COMMAND [ARG...]
set -u
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
trap 'kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null' EXIT
# Ready once it announces itself on the root window.
tries=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$wm" 2>/dev/null; then
        echo "openbox did not start" >&2
        exit 1
    fi
    sleep 0.1
done
HOROLAB_WINDOW_MANAGER=openbox "$@"
