#!/usr/bin/env bash
# CPU of fluxmere-viewer.exe under wine64 against the native fluxmere tool doing the same decoding
# and rendering: a 4 x 4 wall of 16 cameras at 352x288 (25 frames a second each) against 16
# `fluxmere view` processes, and one 720x576 camera against one `fluxmere view`. The device
# stand-ins run on loopback addresses of their own; each process's CPU is utime + stime from
# /proc/PID/stat over the same window, after a warm-up. Run inside the Wine session of the x86_64
# tree:
#
#   FLUXMERE_WINE_DIR=build/win64/wine tests/wine/wine-run.sh --script bench/win32/wall_cpu.sh \
#       build/win64 build/release [SECONDS] [CASE...]
#
# A CASE is "wall" (the 16 cameras) or "one" (the single 720x576 camera); both by default.
# It prints "wall CPU ...: fluxmere-viewer A%, native B%, ratio R" lines (percent of one core;
# "native" is the sum over its processes), and what wineserver and Xvfb spent beside the viewer.
# The session's screen holds the whole 4 x 4 wall, so the viewer's cells are 352x288 too and
# neither side scales the pictures.
set -uo pipefail

win=$(cd "$1" && pwd)
native=$(cd "$2" && pwd)
seconds=${3:-10}
cases=("${@:4}")
[[ ${#cases[@]} -gt 0 ]] || cases=(wall one)
warmup=6
viewer=$win/tools/win32/fluxmere-viewer.exe
dll=$win/module/FluxmereLibrary.dll
tool=$native/tools/fluxmere
device=$native/device/fluxmere-device
base=127.$((60 + ${FLUXMERE_LOOPBACK_SHIFT:-0} % 100)).99
ticks=$(getconf CLK_TCK)
session=${FLUXMERE_WINE_DIR:?run it through tests/wine/wine-run.sh}/session
for file in "$viewer" "$dll" "$tool" "$device"; do
    [[ -e $file ]] || { echo "wall_cpu: $file is missing" >&2; exit 1; }
done

devices=()
stop_devices() {
    [[ ${#devices[@]} -gt 0 ]] && kill "${devices[@]}" 2>/dev/null
    [[ ${#devices[@]} -gt 0 ]] && wait "${devices[@]}" 2>/dev/null
    devices=()
}
trap stop_devices EXIT

# cpu_ticks PID...: utime + stime of every process named, summed.
cpu_ticks() {
    local pid total=0 fields
    for pid in "$@"; do
        read -ra fields <"/proc/$pid/stat" 2>/dev/null || continue
        # Fields after the name in parentheses: the name has no blanks here.
        total=$((total + fields[13] + fields[14]))
    done
    echo "$total"
}

# measure LABEL PID...: percent of one core over $seconds after the warm-up.
measure() {
    local before after
    before=$(cpu_ticks "$@")
    sleep "$seconds"
    after=$(cpu_ticks "$@")
    echo "$(((after - before) * 10000 / (ticks * seconds)))"
}

percent() { printf '%d.%02d' $(($1 / 100)) $(($1 % 100)); }

# run CAMERAS SIZE: the viewer's wall, then the native processes, against CAMERAS stand-ins.
run() {
    local cameras=$1 size=$2 urls=() i pid wall native_cpu server xvfb server_before xvfb_before
    for ((i = 1; i <= cameras; i++)); do
        "$device" --address "$base.$i" --no-http --size "$size" --for 600 >/dev/null 2>&1 &
        devices+=($!)
        urls+=(--url "rtsp://$base.$i/live")
    done
    sleep 1

    /usr/lib/wine/wine64 "$viewer" --dll "$dll" "${urls[@]}" --size "$size" \
        --seconds $((warmup + seconds + 4)) >/dev/null 2>&1 &
    pid=$!
    sleep "$warmup"
    server=$(cat "$session/wineserver.pid" 2>/dev/null)
    xvfb=$(cat "$session/xvfb.pid" 2>/dev/null)
    tr "\0" " " <"/proc/$pid/cmdline" | grep -q fluxmere-viewer || echo "wall_cpu: pid $pid is not the viewer" >&2
    server_before=$(cpu_ticks $server)
    xvfb_before=$(cpu_ticks $xvfb)
    wall=$(measure "$pid")
    local server_cpu=$((($(cpu_ticks $server) - server_before) * 10000 / (ticks * seconds)))
    local xvfb_cpu=$((($(cpu_ticks $xvfb) - xvfb_before) * 10000 / (ticks * seconds)))
    wait "$pid"

    local pids=()
    for ((i = 1; i <= cameras; i++)); do
        "$tool" view "rtsp://$base.$i/live" --size "$size" --seconds $((warmup + seconds + 4)) \
            >/dev/null 2>&1 &
        pids+=($!)
    done
    sleep "$warmup"
    native_cpu=$(measure "${pids[@]}")
    wait "${pids[@]}"
    stop_devices

    local ratio=0
    [[ $native_cpu -gt 0 ]] && ratio=$((wall * 100 / native_cpu))
    echo "wall CPU $cameras x $size under wine64: fluxmere-viewer $(percent "$wall")%," \
        "native $(percent "$native_cpu")% ($cameras x fluxmere view), ratio $(percent "$ratio")" \
        "(beside it: wineserver $(percent "$server_cpu")%, Xvfb $(percent "$xvfb_cpu")%)"
}

for case in "${cases[@]}"; do
    case $case in
    wall) run 16 352x288 ;;
    one) run 1 720x576 ;;
    *) echo "wall_cpu: no case named $case (wall, one)" >&2; exit 2 ;;
    esac
done
