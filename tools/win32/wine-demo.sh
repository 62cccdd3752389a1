# The Windows half of `./run demo`, run inside a Wine session by tests/wine/wine-run.sh --script:
# registers the DLL, watches the device through fluxmere-viewer.exe (the control made by its
# ProgID in atl.dll's host), and leaves the window's picture and the sound that was played.
#
#   wine-demo.sh DLL VIEWER_EXE URL SECONDS SIZE SNAPSHOT_PNG AUDIO_WAV
set -uo pipefail
source "$FLUXMERE_WINE_TOOLS/registry.sh"

dll=$1 viewer=$2 url=$3 seconds=$4 size=$5 snapshot=$6 wav=$7

# 32-bit little-endian value as raw bytes.
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }

# The captured wave output (48000 Hz, 16-bit stereo, little-endian) as a WAV file.
raw_to_wav() {
    local raw=$1 out=$2 bytes
    bytes=$(stat -c %s "$raw" 2>/dev/null || echo 0)
    {
        printf 'RIFF'; le32 $((36 + bytes)); printf 'WAVEfmt '
        le32 16; printf '\x01\x00\x02\x00'; le32 48000; le32 192000; printf '\x04\x00\x10\x00'
        printf 'data'; le32 "$bytes"
        [[ $bytes -gt 0 ]] && cat "$raw"
    } >"$out"
}

if ! wine_register "$dll"; then
    echo "wine-demo: regsvr32 could not register $dll" >&2
    exit 1
fi
rm -f "$snapshot"
wine_session_exec "$viewer" --url "$url" --seconds "$seconds" --size "$size" \
    --screenshot "$(wine_windows_path "$snapshot")" </dev/null
status=$?
wine_unregister "$dll" || true
raw_to_wav "$FLUXMERE_AUDIO_CAPTURE" "$wav"
echo "wine-demo: $(stat -c %s "$FLUXMERE_AUDIO_CAPTURE" 2>/dev/null || echo 0) bytes of sound played"
[[ $status == 0 && -s "$snapshot" ]]
