# The installer under Wine, signed as a release is: msiexec /i /qn puts the signed files in place,
# leaves exactly the keys of regsvr32 and /RegServer and switches transcoding on for the installing
# user (TranscodeEnable, and the download manager window's two check boxes); installing again and
# upgrading from an older build keep one installation; msiexec /x /qn takes all of it away again,
# switch included, and leaves the browser's download switch and the user's download folder and
# options alone. In between, a user of the installed module gets a movie of a clip: the window
# shown from the viewer's context menu, "Transcode to Quicktime Movie" ticked, a clip downloaded. /RegServer and /UnregServer of a hand installation do the same with the switch.
# Run by `wine-run.sh --script`.
# $1 this Windows tree, $2 its installer as an older build, $3 that build's version, $4 the tree's
# DLL, $5 its engine program, $6 transcode_switch_probe.exe, $7 transcode_download_probe.exe.
set -uo pipefail
source "$FLUXMERE_WINE_TOOLS/registry.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../module/registered_keys.sh"
source "$(dirname "${BASH_SOURCE[0]}")/packaging_checks.sh"

tree=$1
previous_msi=$(wine_windows_path "$2")
previous_version=$3
dll=$4
engine=$5
probe=$6
download_probe=$7
version=$(sed -n 's/^version=//p' "$tree/packaging/release.txt")
release=$FLUXMERE_TEST_DIR/release
signer=$FLUXMERE_TEST_DIR/signer

require_tools wixl gcab osslsigncode openssl msiinfo || { check_summary; exit 1; }
throwaway_certificate "$signer" installer
if ! FLUXMERE_SIGN_PASSWORD=installer "$(dirname "${BASH_SOURCE[0]}")/../../packaging/package.sh" \
    --sign "$signer/cert.pfx" --out "$release" "$tree"; then
    echo "FAILED: the signed installer of $tree could not be made"
    check_failures=$((check_failures + 1))
    check_summary
    exit 1
fi
msi=$(wine_windows_path "$(ls "$release"/FluxmereLibrary-*.msi)")

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

# One installation, of version $1, whose files are the signed ones.
installed_as() {
    local wanted=$1 file
    [[ "$(installed_versions)" == "$wanted" ]] || { echo "    installed: $(installed_versions | xargs)"; return 1; }
    for file in FluxmereLibrary.dll fluxmere-engine.exe fluxmere-viewer.exe fluxmere-downloads.exe; do
        signature_verifies "$signer/cert.pem" "$unix_folder/$file" || { echo "    $file: no valid signature"; return 1; }
    done
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
    wine_reg_absent "$settings" TranscodeEnable || { echo "    left behind: TranscodeEnable"; return 1; }
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
        if ! wine_reg_absent "$key"; then
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

# "movie=... mxf=..." of the download manager window a download makes: of the registered module,
# or of the module file $1. The download's device does not exist: the job fails, the window stays.
window_offers() {
    local octet=$((20 + ${FLUXMERE_LOOPBACK_SHIFT:-0})) module=() offered
    ((octet <= 255)) || octet=20
    [[ $# -lt 1 ]] || module=("$(wine_windows_path "$1")")
    offered=$(wine_session_exec "$probe" "http://127.$octet.11.2/command.cgi?stream&kelo&clip=x" \
        "${module[@]}" </dev/null | tr -d '\r')
    echo "    the window's transcoding check boxes: $offered" >&2
    echo "$offered"
}
transcoding_offered() { [[ "$(window_offers "$@" | tail -n1)" == "movie=enabled mxf=enabled" ]]; }
transcoding_withheld() { [[ "$(window_offers "$@" | tail -n1)" == "movie=disabled mxf=disabled" ]]; }
transcode_enable() { wine_reg_value "$settings" TranscodeEnable; }

# The user's way to a movie of a clip with the installed module: the viewer watches the device
# stand-in, its context menu shows the download manager window, "Transcode to Quicktime Movie" is
# ticked there, and the browser hands the clip's export to the download manager. The folder holds
# the clip and a movie that ffprobe reads. The user's settings are put back afterwards.
movie_through_installed_module() {
    local octet=20 shift=${FLUXMERE_LOOPBACK_SHIFT:-0} address ready=$FLUXMERE_TEST_DIR/clip.ready
    local folder=$FLUXMERE_TEST_DIR/clips output options ok=1
    [[ $kind == win32 ]] && octet=21
    ((shift > 0 && octet + shift <= 255)) && octet=$((octet + shift))
    address=127.$octet.11.3
    rm -rf "$folder" && mkdir -p "$folder"
    wine_session_exec reg add "$settings" /v DownloadFolder /d "$(wine_windows_path "$folder")" /f \
        >/dev/null 2>&1
    wine_session_exec reg add "$settings" /v TranscodeOptions /t REG_DWORD /d 0 /f >/dev/null 2>&1
    "$FLUXMERE_DEVICE_BIN" --address "$address" --max-frames 25 --clip-name clip01 \
        --clip-bytes 3145728 --for 180 --ready-file "$ready" >"$FLUXMERE_TEST_DIR/clip-device.log" 2>&1 &
    local device=$!
    for _ in $(seq 100); do [[ -s "$ready" ]] && break; sleep 0.1; done
    # Wine's store of running local servers may still name an engine that an earlier test of the
    # session killed: a fresh store, as the engine's own test makes.
    wine_session_exec net stop rpcss </dev/null >/dev/null 2>&1
    wine_session_exec net start rpcss </dev/null >/dev/null 2>&1
    output=$(wine_session_exec "$download_probe" "rtsp://$address/live" \
        "http://$address/command.cgi?stream&kelo&codec=DVCPRO" </dev/null | tr -d '\r') || ok=0
    kill "$device" 2>/dev/null
    wait "$device" 2>/dev/null
    options=$(wine_reg_value "$settings" TranscodeOptions)
    wine_session_exec reg add "$settings" /v DownloadFolder /d 'C:\clips' /f >/dev/null 2>&1
    wine_session_exec reg add "$settings" /v TranscodeOptions /t REG_DWORD /d 3 /f >/dev/null 2>&1
    sed 's/^/    /' <<<"$output"
    echo "    stored options after the tick: $options; folder: $(ls "$folder" | xargs)"
    [[ $ok == 1 && $options == 0x1 ]] || return 1
    grep -q '^row=clip01.kelo|Complete|DVCPRO|' <<<"$output" || return 1
    [[ -s "$folder/clip01.kelo" && -s "$folder/clip01.kelo.mov" ]] || return 1
    local streams
    streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 \
        "$folder/clip01.kelo.mov" 2>&1)
    echo "    ffprobe of clip01.kelo.mov ($(stat -c %s "$folder/clip01.kelo.mov") bytes): $(xargs <<<"$streams")"
    grep -qx video <<<"$streams"
}

# On Windows the installer's own registration runs as the system account, whose HKCU is not the
# user's: the switch must come from the installer's registry table (root 1, HKCU), which Windows
# Installer writes in the installing user's hive.
installer_writes_the_switch() {
    msiinfo export "$(ls "$release"/FluxmereLibrary-*.msi)" Registry | tr -d '\r' | awk -F'\t' '
        $2 == "1" && $3 == "Software\\Vandelor\\FluxmereLibrary" && $4 == "TranscodeEnable" &&
        $5 == "#1" { found = 1 } END { exit !found }'
}

# A leftover installation of an earlier run would hide what this one does.
msiexec /x "$msi"
msiexec /x "$previous_msi"

# What the browser and the user set up before: the installer must never touch it.
wine_session_exec reg add "$browser" /v DownloadUI /d "$manager" /f >/dev/null 2>&1
wine_session_exec reg add "$settings" /v DownloadFolder /d 'C:\clips' /f >/dev/null 2>&1
wine_session_exec reg add "$settings" /v TranscodeOptions /t REG_DWORD /d 3 /f >/dev/null 2>&1
wine_session_exec reg delete "$settings" /v TranscodeEnable /f >/dev/null 2>&1
kept_settings() {
    test "$(wine_reg_value "$browser" DownloadUI)" = "$manager" &&
        test "$(wine_reg_value "$settings" DownloadFolder)" = 'C:\clips' &&
        test "$(wine_reg_value "$settings" TranscodeOptions)" = 0x3
}
check "before installing, the tree's module offers no transcoding" transcoding_withheld "$dll"

check "msiexec /i installs $version" msiexec /i "$msi"
check "one installation, of the signed files" installed_as "$version"
check "registered exactly as regsvr32 and /RegServer register" registered_as_installed
check "the Start menu shortcut starts the installed viewer" shortcut_starts_the_viewer
check "TranscodeEnable reads 1 for the installing user" test "$(transcode_enable)" = 0x1
check "... written by the installer itself, in the installing user's hive" installer_writes_the_switch
check "the installed module's window offers both transcoding outputs" transcoding_offered
if [[ -x "${FLUXMERE_DEVICE_BIN:-}" ]]; then
    check "a VBScript plays the device's stream through the installed control" \
        session_through_installed_control
else
    echo "FAILED: no device stand-in at '${FLUXMERE_DEVICE_BIN:-}' (built by the tree's default target)"
    check_failures=$((check_failures + 1))
fi
check "from the viewer's menu, with the movie ticked, a clip becomes a movie ffprobe reads" \
    movie_through_installed_module
check "installing again succeeds" msiexec /i "$msi"
check "installing again keeps one installation" installed_as "$version"
check "msiexec /x removes it" msiexec /x "$msi"
check "no file, key or product entry is left, TranscodeEnable neither" nothing_left
check "the download switch and the user's settings stay" kept_settings
check "the tree's module offers no transcoding again" transcoding_withheld "$dll"

check "msiexec /i installs the older build $previous_version" msiexec /i "$previous_msi"
check "the older build is installed" test "$(installed_versions)" = "$previous_version"
check "installing $version over it succeeds" msiexec /i "$msi"
check "the upgrade leaves one installation, the new one" installed_as "$version"
check "the upgrade leaves the registration of the new one" registered_as_installed
check "the upgrade leaves TranscodeEnable at 1" test "$(transcode_enable)" = 0x1
check "msiexec /x removes the upgraded installation" msiexec /x "$msi"
check "nothing is left after the upgrade either" nothing_left
check "the download switch and the user's settings still stay" kept_settings

# A hand installation of the engine does what the installer does with the switch.
check "/RegServer registers the engine by hand" wine_session_exec "$engine" /RegServer </dev/null
check "... and sets TranscodeEnable to 1" test "$(transcode_enable)" = 0x1
check "... so the tree's module offers both transcoding outputs" transcoding_offered "$dll"
check "/UnregServer removes it" wine_session_exec "$engine" /UnregServer </dev/null
check "... TranscodeEnable with it" wine_reg_absent "$settings" TranscodeEnable
check "... and the engine's class" wine_reg_absent "$engine_class"
check "... but the download switch and the user's settings stay" kept_settings
check "... and the tree's module offers no transcoding again" transcoding_withheld "$dll"

wine_session_exec reg delete "$browser" /v DownloadUI /f >/dev/null 2>&1
wine_session_exec reg delete 'HKCU\Software\Vandelor' /f >/dev/null 2>&1
check_summary
