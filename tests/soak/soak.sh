#!/usr/bin/env bash
# The soak's driver (./run soak builds what it needs, then calls this):
#
#   soak.sh MINUTES WIN_TREE PLOT_EXE OUT_DIR
#
# Runs soak_host.exe of WIN_TREE (a built Windows tree) in that tree's Wine session for MINUTES,
# its CSV into OUT_DIR/soak.csv, then draws OUT_DIR/soak.png with PLOT_EXE and repeats the
# summary line as the last line. The exit status is the soak's: 0 only without errors.
set -uo pipefail

minutes=$1 tree=$2 plot=$3 out=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mkdir -p "$out"
csv=$out/soak.csv log=$out/soak.log
rm -f "$csv" "$out/soak.png"

FLUXMERE_WINE_DIR=$tree/wine FLUXMERE_TEST_NAME=soak \
    FLUXMERE_DEVICE_BIN=$tree/host-device/device/fluxmere-device \
    "$here/../wine/wine-run.sh" "$tree/tests/soak/soak_host.exe" "$minutes" "$csv" 2>&1 |
    tee "$log" | grep --line-buffered -E '^soak: (minute|ERROR)'
status=${PIPESTATUS[0]}

summary=$(grep '^soak: [0-9.]* minutes,' "$log" | tail -n1)
# The comparison starts after the warm-up: 5 minutes, or a third of a shorter run.
warmup=$(awk -v m="$minutes" 'BEGIN { w = m / 3; print (w < 5 ? w : 5) }')
if [[ -s "$csv" ]] && "$plot" "$csv" "$warmup" "$out/soak.png"; then
    echo "soak: plot in ${out}/soak.png (panels: private MiB, handles, GDI, USER, threads)"
fi
if [[ -z "$summary" ]]; then
    echo "soak: no summary: the host ended early (status $status; log: $log)"
    tail -n 20 "$log"
    exit 1
fi
echo "$summary"
exit "$status"
