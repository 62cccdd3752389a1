# The engine program in the test's Wine session: registered by /RegServer, driven by the download
# job (engine_handoff_test.exe), its movie read back by ffprobe and ffmpeg, then unregistered by
# /UnregServer. (The pictures themselves are compared with our decoder's by the native tests of
# the same movie writer.)
# Run by `wine-run.sh --script`; $1 is fluxmere-engine.exe, $2 engine_handoff_test.exe.
set -uo pipefail
source "$FLUXMERE_WINE_TOOLS/registry.sh"

engine=$1
test_exe=$2
class='HKCR\CLSID\{9AAA4435-1994-4F7E-A4AB-0AA2A4CE0974}'
field() { grep -o "$1=[^|]*" <<<"$2" | head -n1 | cut -d= -f2; }

check "/RegServer registers the engine" wine_session_exec "$engine" /RegServer </dev/null
check "the class names the ProgID" \
    test "$(wine_reg_value "$class\\ProgID")" = FluxmereEngine.TranscodingEngine.1
check "the job interface is marshalled by the type library" \
    test "$(wine_reg_value 'HKCR\Interface\{A11DE1AB-5D34-428A-B391-39AE600AADB7}\ProxyStubClsid32')" \
    = '{00020424-0000-0000-C000-000000000046}'

# Wine's store of running local servers keeps the class registration of a server that was killed
# (as the last test case does), so that later activations in the same session reach the dead
# program: a fresh store for this run.
wine_session_exec net stop rpcss </dev/null >/dev/null 2>&1
wine_session_exec net start rpcss </dev/null >/dev/null 2>&1
check "the download job drives the engine" wine_session_exec "$test_exe" </dev/null

movie=$FLUXMERE_TEST_DIR/movie/clip01.kelo.mov
video=$(ffprobe -v error -count_frames -select_streams v -of compact=p=0 -show_entries \
    stream=codec_name,codec_tag_string,width,height,r_frame_rate,nb_read_frames,duration "$movie")
audio=$(ffprobe -v error -select_streams a -of compact=p=0 -show_entries \
    stream=codec_name,sample_rate,channels "$movie")
echo "video: $video"
echo "audio: $audio"
check "one Motion-JPEG stream" test "$(field codec_name "$video")/$(field codec_tag_string "$video")" = mjpeg/mjpa
check "352 x 288 at 25 per second" \
    test "$(field width "$video")x$(field height "$video")@$(field r_frame_rate "$video")" = 352x288@25/1
check "16-bit big-endian PCM, 48000 Hz, stereo" \
    test "$(field codec_name "$audio")/$(field sample_rate "$audio")/$(field channels "$audio")" = pcm_s16be/48000/2
check "ffmpeg decodes every picture" test -z "$(ffmpeg -nostdin -v error -i "$movie" -f null - 2>&1)"

pictures=$(tr -d "\r" <"$FLUXMERE_TEST_DIR/movie/pictures.txt" 2>/dev/null)
check "every picture of the clip ($pictures)" test "$(field nb_read_frames "$video")" = "$pictures"
check "the clip's duration" test "$(field duration "$video")" = \
    "$(awk -v n="$pictures" 'BEGIN { printf "%.6f", n / 25 }')"

check "/UnregServer removes the engine" wine_session_exec "$engine" /UnregServer </dev/null
check "the class is gone" not wine_reg_has_key "$class"

check_summary
