# The installer under Wine: msiexec /i /qn puts the files in place and leaves exactly the keys of
# regsvr32 and /RegServer; installing again and upgrading from an older build keep one
# installation; msiexec /x /qn takes all of it away again and leaves the browser's download switch
# and the user's download settings alone. Run by `wine-run.sh --script`.
# $1 the installer, $2 the same installer as an older build, $3 its version, $4 the DLL, $5 the
# engine program and $6 the viewer program it holds (the build tree's own files).
set -uo pipefail
source "$FLUXMERE_WINE_TOOLS/registry.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../module/registered_keys.sh"

msi=$(wine_windows_path "$1")
previous_msi=$(wine_windows_path "$2")
previous_version=$3
dll=$4
engine=$5
viewer=$6
version=$(sed -E 's/.*FluxmereLibrary-([0-9.]+)-x(86|64)\.msi$/\1/' <<<"$1")

folder='C:\Program Files\Vandelor\FluxmereLibrary'
unix_folder="$WINEPREFIX/drive_c/Program Files/Vandelor/FluxmereLibrary"
module="$folder\\FluxmereLibrary.dll"
engine_class='HKCR\CLSID\{9AAA4435-1994-4F7E-A4AB-0AA2A4CE0974}'
browser='HKLM\Software\Microsoft\Internet Explorer'
settings='HKCU\Software\Vandelor\FluxmereLibrary'
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
if [[ "$(wine_session_arch "$FLUXMERE_WINE_DIR")" == win32 ]]; then kind=win32; else kind=win64; fi

msiexec() { wine_session_exec msiexec "$@" /qn </dev/null >/dev/null 2>&1; }

# The versions of this product the installer knows as installed, one a line.
installed_versions() {
    wine_reg_query "$uninstall" /s | awk -F'    ' '
        /^HKEY_/ { name = ""; version = "" }
        $2 == "DisplayName" && $4 ~ /^FluxmereLibrary/ { name = 1 }
        $2 == "DisplayVersion" { version = $4 }
        name && version { print version; name = "" }'
}

installed_as() {
    local wanted=$1
    [[ "$(installed_versions)" == "$wanted" ]] || { echo "    installed: $(installed_versions | xargs)"; return 1; }
    cmp -s "$unix_folder/FluxmereLibrary.dll" "$dll" && cmp -s "$unix_folder/fluxmere-engine.exe" "$engine" &&
        cmp -s "$unix_folder/fluxmere-viewer.exe" "$viewer"
}

# The viewer's Start menu shortcut (all users), wherever this Wine keeps the Start menu.
viewer_shortcut() {
    find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'Fluxmere Viewer.lnk' 2>/dev/null
}

shortcut_starts_the_viewer() {
    local link text
    link=$(viewer_shortcut)
    [[ -n "$link" ]] || return 1
    text=$(strings -a "$link"; strings -a -el "$link")
    grep -qiF "$folder\\fluxmere-viewer.exe" <<<"$text"
}

registered_as_installed() {
    same_lines "$(expected_keys "$module")" "$(registered_keys)" &&
        test "$(wine_reg_value "HKCR\\TypeLib\\$libid\\1.0\\0\\$kind")" = "$module" &&
        test "$(wine_reg_value "$engine_class\\LocalServer32")" = "\"$folder\\fluxmere-engine.exe\""
}

nothing_left() {
    local key
    [[ ! -e "$unix_folder" && -z "$(installed_versions)" && -z "$(viewer_shortcut)" ]] || return 1
    if [[ -n "$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name FluxmereLibrary)" ]]; then
        echo "    left behind: the Start menu folder"
        return 1
    fi
    for key in "CLSID\\$player" "CLSID\\$manager" FluxmereLibrary.MediaPlayer.1 \
        FluxmereLibrary.MediaPlayer FluxmereLibrary.FluxmereDownloadManager.1 \
        FluxmereLibrary.FluxmereDownloadManager "TypeLib\\$libid" \
        'Interface\{06D8B842-2D54-4685-8DAF-C8688F839ECD}' "${engine_class#HKCR\\}" \
        FluxmereEngine.TranscodingEngine.1 'HKLM\Software\Vandelor'; do
        [[ $key == HKLM* ]] || key="HKCR\\$key"
        if wine_reg_has_key "$key"; then
            echo "    left behind: $key"
            return 1
        fi
    done
    wine_reg_has_key 'HKCR\CLSID'
}

# Counter NAME of the device stand-in whose ready file is $1.
device_counter() { grep -o "\b$2=[0-9]*" "$1.counters" 2>/dev/null | cut -d= -f2; }

# A script host plays 2.5 s of the device stand-in's live stream through the installed control
# (by its ProgID, as a page would) and stops it; the device must have streamed and the wave output
# played. Wine's script host has no WScript.Sleep: the script then waits on the clock.
session_through_installed_control() {
    local octet=20 shift=${FLUXMERE_LOOPBACK_SHIFT:-0} address ready=$FLUXMERE_TEST_DIR/device.ready
    [[ $kind == win32 ]] && octet=21
    ((shift > 0 && octet + shift <= 255)) && octet=$((octet + shift))
    address=127.$octet.11.1
    "$FLUXMERE_DEVICE_BIN" --address "$address" --no-http --for 60 --ready-file "$ready" \
        >"$FLUXMERE_TEST_DIR/device.log" 2>&1 &
    local device=$! ok=1
    for _ in $(seq 100); do [[ -s "$ready" ]] && break; sleep 0.1; done
    printf '%s\r\n' 'Set player = CreateObject("FluxmereLibrary.MediaPlayer")' \
        'player.SetRectangle "0,0,352,288"' "player.SetURL \"rtsp://$address/live\"" \
        'On Error Resume Next' 'WScript.Sleep 2500' 'If Err.Number <> 0 Then' \
        '    started = Timer' '    Do While Timer - started < 2.5 And Timer >= started' \
        '    Loop' 'End If' 'On Error GoTo 0' 'player.Stop' >"$FLUXMERE_TEST_DIR/session.vbs"
    wine_session_exec cscript //nologo "$(wine_windows_path "$FLUXMERE_TEST_DIR/session.vbs")" \
        </dev/null || ok=0
    sleep 0.3
    kill "$device" 2>/dev/null
    wait "$device" 2>/dev/null
    echo "    device: $(cat "$ready.counters" 2>/dev/null)"
    [[ $ok == 1 && "$(device_counter "$ready" plays)" -ge 1 && "$(device_counter "$ready" teardowns)" -ge 1 &&
        "$(device_counter "$ready" framesSent)" -ge 10 && -s "$FLUXMERE_AUDIO_CAPTURE" ]]
}

# A leftover installation of an earlier run would hide what this one does.
msiexec /x "$msi"
msiexec /x "$previous_msi"

# What the browser and the user set up before: the installer must never touch it.
wine_session_exec reg add "$browser" /v DownloadUI /d "$manager" /f >/dev/null 2>&1
wine_session_exec reg add "$settings" /v DownloadFolder /d 'C:\clips' /f >/dev/null 2>&1
kept_settings() {
    test "$(wine_reg_value "$browser" DownloadUI)" = "$manager" &&
        test "$(wine_reg_value "$settings" DownloadFolder)" = 'C:\clips'
}

check "msiexec /i installs $version" msiexec /i "$msi"
check "one installation, of the build's files" installed_as "$version"
check "registered exactly as regsvr32 and /RegServer register" registered_as_installed
check "the Start menu shortcut starts the installed viewer" shortcut_starts_the_viewer
if [[ -x "${FLUXMERE_DEVICE_BIN:-}" ]]; then
    check "a VBScript plays the device's stream through the installed control" \
        session_through_installed_control
else
    echo "FAILED: no device stand-in at '${FLUXMERE_DEVICE_BIN:-}' (built by the tree's default target)"
    check_failures=$((check_failures + 1))
fi
check "installing again succeeds" msiexec /i "$msi"
check "installing again keeps one installation" installed_as "$version"
check "msiexec /x removes it" msiexec /x "$msi"
check "no file, key or product entry is left" nothing_left
check "the download switch and the user's settings stay" kept_settings

check "msiexec /i installs the older build $previous_version" msiexec /i "$previous_msi"
check "the older build is installed" test "$(installed_versions)" = "$previous_version"
check "installing $version over it succeeds" msiexec /i "$msi"
check "the upgrade leaves one installation, the new one" installed_as "$version"
check "the upgrade leaves the registration of the new one" registered_as_installed
check "msiexec /x removes the upgraded installation" msiexec /x "$msi"
check "nothing is left after the upgrade either" nothing_left
check "the download switch and the user's settings still stay" kept_settings

wine_session_exec reg delete "$browser" /v DownloadUI /f >/dev/null 2>&1
wine_session_exec reg delete 'HKCU\Software\Vandelor' /f >/dev/null 2>&1
check_summary
