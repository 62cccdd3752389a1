#!/usr/bin/env bash
# Runs one Windows test under wine64 and returns its exit code. CTest calls it for every wine.*
# test; it also works by hand:
#
#   tests/wine/wine-run.sh build/win64/tests/harness/harness_smoke.exe [--gtest_filter=...]
#   tests/wine/wine-run.sh --script SCRIPT.sh [ARGS...]   # a bash test that drives Wine itself
#
# The test runs in the Wine session of its build tree (see session.sh): if `./run test` (or
# `./run wine-env start`) already holds it, the test joins it; otherwise this script starts it and
# the last test to finish stops it again.
#
# Read from the environment (all optional):
#   FLUXMERE_WINE_DIR    the session folder (CTest passes it); default <build tree of the test,
#                        or of the current folder>/wine
#   FLUXMERE_DEVICE_BIN  the native device binary; CTest passes the configured one
#   WINEDEBUG            Wine's debug channels; default -all
# Given to the test:
#   HOME                    <session>/tests/<name>/home, whose .asoundrc sends the default ALSA
#                           device (Wine's wave output) to a file
#   FLUXMERE_AUDIO_CAPTURE  that file (Unix path): the raw bytes played, 16-bit little-endian
#   FLUXMERE_TEST_DIR       <session>/tests/<name>, a scratch folder emptied before each run
#   FLUXMERE_DEVICE_BIN     as above (for tests that start the device from inside Wine)
#   FLUXMERE_WINE_TOOLS     this folder (scripts source registry.sh from it)
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/session.sh"

usage() {
    echo "usage: $0 EXE [ARGS...] | $0 --script SCRIPT [ARGS...]" >&2
    exit 2
}

mode=exe
if [[ "${1:-}" == --script ]]; then
    mode=script
    shift
fi
[[ $# -ge 1 ]] || usage
target=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
if [[ ! -f "$target" ]]; then
    echo "wine-run: no such file: $target" >&2
    exit 2
fi

# The build tree is the nearest folder above the test that holds a CMakeCache.txt.
find_build_tree() {
    local dir=$1
    while [[ "$dir" != / ]]; do
        [[ -f "$dir/CMakeCache.txt" ]] && { echo "$dir"; return 0; }
        dir=$(dirname "$dir")
    done
    return 1
}

if [[ -z "${FLUXMERE_WINE_DIR:-}" ]]; then
    if ! build_tree=$(find_build_tree "$(dirname "$target")") &&
        ! build_tree=$(find_build_tree "$PWD"); then
        echo "wine-run: $target is in no build tree; set FLUXMERE_WINE_DIR" >&2
        exit 2
    fi
    FLUXMERE_WINE_DIR=$build_tree/wine
fi
wine_session_env "$FLUXMERE_WINE_DIR"

name=${FLUXMERE_TEST_NAME:-$(basename "$target")}
name=${name%.exe}
name=${name%.sh}
test_dir=$WINE_DIR/tests/$name
rm -rf "$test_dir"
mkdir -p "$test_dir/home"
capture=$test_dir/audio.raw
cat >"$test_dir/home/.asoundrc" <<ASOUND
pcm.!default { type file; slave.pcm "null"; file "$capture"; format "raw" }
ASOUND

export HOME=$test_dir/home
export FLUXMERE_AUDIO_CAPTURE=$capture
export FLUXMERE_TEST_DIR=$test_dir
export FLUXMERE_WINE_TOOLS=$here
export FLUXMERE_DEVICE_BIN=${FLUXMERE_DEVICE_BIN:-}

if ! wine_session_acquire $$; then
    echo "wine-run: could not start the Wine session in $WINE_DIR" >&2
    exit 1
fi
trap 'wine_session_release $$' EXIT
trap 'exit 130' INT TERM

if [[ $mode == script ]]; then
    bash "$target" "$@" </dev/null
else
    wine_session_exec "$target" "$@" </dev/null
fi
rc=$?
exit $rc
