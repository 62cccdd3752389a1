#!/usr/bin/env bash
# The soak's driver (./run soak builds what it needs, then calls this):
#
#   soak.sh MINUTES WIN_TREE NATIVE_SOAK PLOT_EXE OUT_DIR
#
# Runs the same schedule twice, side by side: soak_host.exe of WIN_TREE (a built Windows tree,
# with its engine and its device program) in that tree's Wine session, and NATIVE_SOAK (the
# native harness of the sanitizer tree, against the same device program), each for MINUTES.
# Side by side because one after the other a 30-minute soak would take an hour, and the two
# share nothing: their loopback addresses differ, and each uses well under one core. Writes
# OUT_DIR/soak.csv and soak.png (Wine), soak-native.csv and soak-native.png, their logs, and
# repeats both summary lines last. The exit status is 0 only when both ran without errors (and,
# natively, without a sanitizer report).
set -uo pipefail

minutes=$1 tree=$2 native=$3 plot=$4 out=$5
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
device=$tree/host-device/device/fluxmere-device
mkdir -p "$out"
csv=$out/soak.csv log=$out/soak.log
native_csv=$out/soak-native.csv native_log=$out/soak-native.log
rm -f "$csv" "$out/soak.png" "$native_csv" "$out/soak-native.png"

# The native half, in the background: its scratch folder is its own.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/fluxmere-soak-native.XXXXXX")
FLUXMERE_TEST_DIR=$scratch FLUXMERE_DEVICE_BIN=$device \
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
    "$native" "$minutes" "$native_csv" >"$native_log" 2>&1 &
native_pid=$!

FLUXMERE_WINE_DIR=$tree/wine FLUXMERE_TEST_NAME=soak FLUXMERE_DEVICE_BIN=$device \
    "$here/../wine/wine-run.sh" --script "$here/soak_wine.sh" "$tree/engine/fluxmere-engine.exe" \
    "$tree/tests/soak/soak_host.exe" "$minutes" "$csv" 2>&1 |
    tee "$log" | grep --line-buffered -E '^soak: (minute|ERROR)'
status=${PIPESTATUS[0]}

wait "$native_pid"
native_status=$?
rm -rf "$scratch"
grep -E '^soak \(native\): ERROR' "$native_log"
if grep -q -E '^(==[0-9]+==ERROR|SUMMARY: [A-Za-z]+Sanitizer)|runtime error:' "$native_log"; then
    echo "soak (native): a sanitizer report, see $native_log"
    native_status=1
fi

# The comparison starts after the warm-up: 5 minutes, or a third of a shorter run.
warmup=$(awk -v m="$minutes" 'BEGIN { w = m / 3; print (w < 5 ? w : 5) }')
if [[ -s "$csv" ]] && "$plot" "$csv" "$warmup" "$out/soak.png"; then
    echo "soak: plot in ${out}/soak.png (panels: private MiB, handles, GDI, USER, threads)"
fi
if [[ -s "$native_csv" ]] && "$plot" "$native_csv" "$warmup" "$out/soak-native.png" 1,2,3,4; then
    echo "soak (native): plot in ${out}/soak-native.png (panels: RSS MiB, heap MiB, file" \
        "descriptors, threads)"
fi

summary=$(grep '^soak: [0-9.]* minutes,' "$log" | tail -n1)
native_summary=$(grep '^soak (native, [^)]*): [0-9.]* minutes,' "$native_log" | tail -n1)
if [[ -z "$summary" ]]; then
    echo "soak: no summary: the host ended early (status $status; log: $log)"
    tail -n 20 "$log"
    status=1
fi
if [[ -z "$native_summary" ]]; then
    echo "soak (native): no summary: it ended early (status $native_status; log: $native_log)"
    tail -n 20 "$native_log"
    native_status=1
fi
[[ -n "$summary" ]] && echo "$summary"
[[ -n "$native_summary" ]] && echo "$native_summary"
[[ $status == 0 && $native_status == 0 ]]
