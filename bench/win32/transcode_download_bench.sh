# A 256 MiB download with options 3 (a DVCPRO25 movie and MXF file from one pass) against the same
# download without transcoding, under Wine through the download job and the real engine: wall
# time, the downloading process's processor time, and the engine processes' processor time (read
# from the host's /proc, as Wine reports no times of other processes).
#
#   FLUXMERE_WINE_DIR=build/win64/wine FLUXMERE_DEVICE_BIN=build/win64/host-device/device/fluxmere-device \
#   tests/wine/wine-run.sh --script bench/win32/transcode_download_bench.sh \
#       build/win64/engine/fluxmere-engine.exe build/win64/bench/win32/transcode_download_bench.exe
set -uo pipefail
source "$FLUXMERE_WINE_TOOLS/registry.sh"

engine=$1
bench=$2
mib=${FLUXMERE_BENCH_MIB:-256}
ticks=$(getconf CLK_TCK)

# Processor ticks of this session's engine processes, each at its last sighting, into $1.
sample_engines() {
    local out=$1 pid stat
    declare -A seen=()
    while [[ ! -e $out.stop ]]; do
        # The engine's process name, as the kernel keeps it: its first 15 characters.
        for pid in $(pgrep -x 'fluxmere-engine' 2>/dev/null); do
            tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qx "WINEPREFIX=$WINEPREFIX" || continue
            stat=$(cut -d' ' -f14,15 "/proc/$pid/stat" 2>/dev/null) || continue
            [[ -n $stat ]] && seen[$pid]=$(( ${stat% *} + ${stat#* } ))
        done
        local total=0 t
        for t in "${seen[@]}"; do total=$((total + t)); done
        echo "$total" >"$out"
        sleep 0.1
    done
}

check "/RegServer registers the engine" wine_session_exec "$engine" /RegServer </dev/null
for options in 0 3; do
    samples=$FLUXMERE_TEST_DIR/engine-ticks-$options
    echo 0 >"$samples"
    sample_engines "$samples" &
    sampler=$!
    line=$(wine_session_exec "$bench" --options "$options" --mib "$mib" </dev/null)
    status=$?
    sleep 0.5
    touch "$samples.stop"
    wait "$sampler"
    echo "$line, engine CPU $(awk -v t="$(cat "$samples")" -v hz="$ticks" 'BEGIN { printf "%.2f", t / hz }') s"
    check "options $options: the download ended" test "$status" = 0
done
for f in clip01.kelo.mov clip01.kelo.mxf; do
    echo "$f: $(ffprobe -v error -select_streams v -show_entries stream=codec_name,nb_frames,duration \
        -of compact=p=0 "$FLUXMERE_TEST_DIR/options3/$f")"
done
check "/UnregServer removes the engine" wine_session_exec "$engine" /UnregServer </dev/null
check_summary
