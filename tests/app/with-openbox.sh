#!/usr/bin/env bash
# Runs a test program on an X server of its own, its windows managed by Openbox, as on a
# student's desktop: with-openbox.sh PROGRAM [ARGUMENTS...]. Openbox ends with the X server.
set -euo pipefail
command -v openbox >/dev/null || { echo "with-openbox.sh: openbox is not installed" >&2; exit 1; }
exec xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    openbox --sm-disable >/dev/null 2>&1 &
    wm=$!
    trap "kill $wm 2>/dev/null || true" EXIT
    # Openbox names itself on the root window once it manages the screen.
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
        sleep 0.1
    done
    "$@"
' with-openbox "$@"
