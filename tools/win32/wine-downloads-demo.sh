# The download half of the Windows part of `./run demo`, run inside a Wine session by
# tests/wine/wine-run.sh --script: registers the DLL, starts a download through its download
# manager class as the browser would (fluxmere-downloads.exe), and leaves the stored clip and a
# picture of the download manager window.
#
#   wine-downloads-demo.sh DLL DOWNLOADS_EXE URL FOLDER SCREENSHOT_PNG
set -uo pipefail
source "$FLUXMERE_WINE_TOOLS/registry.sh"

dll=$1 exe=$2 url=$3 folder=$4 screenshot=$5

if ! wine_register "$dll"; then
    echo "wine-downloads-demo: regsvr32 could not register $dll" >&2
    exit 1
fi
rm -f "$screenshot"
wine_session_exec "$exe" --url "$url" --folder "$(wine_windows_path "$folder")" \
    --screenshot "$(wine_windows_path "$screenshot")" </dev/null
status=$?
wine_unregister "$dll" || true
[[ $status == 0 && -s "$screenshot" ]]
