#!/usr/bin/env bash
# Keeps the Wine session of one build tree up while you run its ctest by hand:
#
#   wine-env.sh start|stop|status TREE_DIR     (TREE_DIR: build/win64 or build/win32)
#
# `start` holds the session (starting it if needed) under the holder name "manual", `stop` lets
# go of that hold (the last holder stops the session), `status` only reports.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
command=${1:-status}
tree=${2:-}
if [[ -z "$tree" || ! "$command" =~ ^(start|stop|status)$ ]]; then
    echo "usage: wine-env.sh start|stop|status TREE_DIR" >&2
    exit 2
fi
# shellcheck source=session.sh
source "$here/session.sh"
export FLUXMERE_WINE_ARCH
FLUXMERE_WINE_ARCH=$(basename "$tree")
wine_session_env "$tree/wine"
case "$command" in
    start) wine_session_acquire manual ;;
    stop) wine_session_release manual ;;
    status) ;;
esac
if wine_session_running; then
    echo "Wine session up: display $DISPLAY, wineserver pid $(cat "$WINE_SESSION/wineserver.pid")," \
        "Xvfb pid $(cat "$WINE_SESSION/xvfb.pid"), holders: $(ls "$WINE_SESSION/holders" | xargs)"
    echo "To run Wine by hand in it:"
    echo "  export WINEPREFIX=$WINEPREFIX WINELOADER=$WINELOADER WINEDEBUG=$WINEDEBUG DISPLAY=$DISPLAY"
else
    echo "No Wine session is running for ${tree}."
fi
