# The engine program in the test's Wine session: registered by /RegServer, driven by the download
# job (engine_handoff_test.exe), its movies and MXF files read back by ffprobe and ffmpeg, then
# unregistered by /UnregServer. (The pictures themselves are compared with our pipeline's by the
# native tests of the same writers and encoders.)
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

# One output: FOLDER FILE FORMAT CODEC TAG HEIGHT; the picture count is the folder's pictures.txt.
check_output() {
    local path=$FLUXMERE_TEST_DIR/$1/$2 format=$3 codec=$4 tag=$5 height=$6 video audio pictures
    video=$(ffprobe -v error -count_frames -select_streams v -of compact=p=0 -show_entries \
        stream=codec_name,profile,codec_tag_string,width,height,r_frame_rate,nb_read_frames,duration \
        "$path")
    audio=$(ffprobe -v error -select_streams a -of compact=p=0 -show_entries \
        stream=sample_rate,channels "$path")
    pictures=$(tr -d "\r" <"$FLUXMERE_TEST_DIR/$1/pictures.txt" 2>/dev/null)
    echo "$2 video: $video"
    echo "$2 audio: $audio"
    check "$2: $format" test "$(ffprobe -v error -of default=nw=1:nk=1 -show_entries \
        format=format_name "$path")" = "$format"
    check "$2: $codec $tag" test "$(field codec_name "$video")/$(field codec_tag_string "$video")" \
        = "$codec/$tag"
    if [[ $codec == mpeg2video ]]; then
        check "$2: profile 4:2:2" test "$(field profile "$video")" = "4:2:2"
    fi
    check "$2: 720 x $height at 25 per second" \
        test "$(field width "$video")x$(field height "$video")@$(field r_frame_rate "$video")" \
        = "720x$height@25/1"
    check "$2: eight channels at 48000 Hz" \
        test "$(field sample_rate "$audio")/$(field channels "$audio")" = 48000/8
    check "$2: ffmpeg decodes every picture" \
        test -z "$(ffmpeg -nostdin -v error -i "$path" -f null - 2>&1)"
    check "$2: every picture of the clip ($pictures)" test "$(field nb_read_frames "$video")" = "$pictures"
    check "$2: the clip's duration" test "$(field duration "$video")" = \
        "$(awk -v n="$pictures" 'BEGIN { printf "%.6f", n / 25 }')"
}

mov='mov,mp4,m4a,3gp,3g2,mj2'
# folder file                 format  codec       tag            height
while read -r folder file format codec tag height; do
    check_output "$folder" "$file" "$format" "$codec" "$tag" "$height"
done <<EOF
both    clip01.kelo.mov      $mov    dvvideo     dvpp           576
both    clip01.kelo.mxf      mxf     dvvideo     [0][0][0][0]   576
imx     clip01.kelo.mxf      mxf     mpeg2video  [0][0][0][0]   608
EOF

check "/UnregServer removes the engine" wine_session_exec "$engine" /UnregServer </dev/null
check "the class is gone" wine_reg_absent "$class"

check_summary
