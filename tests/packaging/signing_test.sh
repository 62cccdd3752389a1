# The release signed with a certificate made for this run: the installers, the cabinet and every
# program and DLL inside them verify against that certificate and not against another; a file
# changed after signing does not verify; SHA256SUMS matches what is shipped; the cabinet's INF and
# the example page agree. A missing certificate, a wrong or missing password and signing that
# fails half-way end with a clear error and a non-zero status, and leave the output folder as it
# was. Run by `wine-run.sh --script`; $1 is this Windows tree. The i686 tree beside it
# (build/win32) is packed too when it has been built, as `./run test` does before win64.
set -uo pipefail
source "$FLUXMERE_WINE_TOOLS/registry.sh"
source "$(dirname "${BASH_SOURCE[0]}")/packaging_checks.sh"

source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
package=$source_root/packaging/package.sh
tree=$1
work=$FLUXMERE_TEST_DIR
out=$work/out

require_tools wixl gcab osslsigncode openssl msiextract || { check_summary; exit 1; }

trees=("$tree")
sibling=$(dirname "$tree")/win32
if [[ "$(sed -n 's/^platform=//p' "$tree/packaging/release.txt")" == x86 ]]; then
    echo "packing the i686 tree alone"
elif [[ -f "$sibling/packaging/staging/fluxmere-downloads.exe" ]]; then
    trees=("$sibling" "$tree")
    echo "packing ${sibling#"$source_root"/} beside this tree: both installers"
else
    echo "NOTE: ${sibling#"$source_root"/} is not built: only the x64 installer is made and checked"
fi

throwaway_certificate "$work/signer" secret-1
throwaway_certificate "$work/other" secret-2
export FLUXMERE_SIGN_PASSWORD=secret-1

check "package.sh --sign makes the release" \
    "$package" --sign "$work/signer/cert.pfx" --out "$out" "${trees[@]}"
mapfile -t installers < <(cd "$out" && ls ./*.msi | sed 's|^\./||')
check "one installer per tree" test "${#installers[@]}" = "${#trees[@]}"

for shipped in "${installers[@]}" FluxmereLibrary.cab; do
    check "$shipped verifies" signature_verifies "$work/signer/cert.pem" "$out/$shipped"
done
check "the signature is the certificate's: it does not verify against another" \
    not signature_verifies "$work/other/cert.pem" "$out/FluxmereLibrary.cab"

# Every program and DLL as it is shipped inside the installers and the cabinet.
for msi in "${installers[@]}"; do
    unpacked=$work/unpacked/${msi%.msi}
    mkdir -p "$unpacked"
    (cd "$unpacked" && msiextract "$out/$msi" >/dev/null)
    check "$msi holds the DLL and the three programs" \
        test "$(find "$unpacked" -type f -printf '%f\n' | sort | xargs)" = \
        "FluxmereLibrary.dll fluxmere-downloads.exe fluxmere-engine.exe fluxmere-viewer.exe"
    while IFS= read -r file; do
        check "$msi: $(basename "$file") verifies" signature_verifies "$work/signer/cert.pem" "$file"
    done < <(find "$unpacked" -type f | sort)
done
cab=$work/unpacked/cab
mkdir -p "$cab"
check "the signed cabinet still lists the DLL and the INF, nothing else" \
    test "$(gcab --list "$out/FluxmereLibrary.cab" | sort | xargs)" = "FluxmereLibrary.dll FluxmereLibrary.inf"
check "the signed cabinet unpacks" gcab --extract --directory "$cab" "$out/FluxmereLibrary.cab"
check "the cabinet's DLL verifies" signature_verifies "$work/signer/cert.pem" "$cab/FluxmereLibrary.dll"

inf=$cab/FluxmereLibrary.inf
version=$(inf_value "$inf" FluxmereLibrary.dll FileVersion)
clsid=$(inf_value "$inf" FluxmereLibrary.dll clsid)
check "the INF installs the DLL the cabinet holds" \
    test "$(inf_value "$inf" Add.Code FluxmereLibrary.dll)" = FluxmereLibrary.dll
check "the page names the INF's class id $clsid" \
    grep -q "classid=\"clsid:${clsid:1:36}\"" "$out/device-page.html"
check "the page's codebase names the cabinet at the INF's version $version" \
    grep -q "codebase=\"FluxmereLibrary.cab#version=$version\"" "$out/device-page.html"
check "the installers carry that version" \
    test "$(printf '%s\n' "${installers[@]}" | grep -c "^FluxmereLibrary-${version//,/.}-x\(86\|64\)\.msi$")" = "${#installers[@]}"

check "SHA256SUMS lists exactly what is shipped" \
    test "$(awk '{ print $2 }' "$out/SHA256SUMS" | sort | xargs)" = \
    "$(printf '%s\n' "${installers[@]}" FluxmereLibrary.cab device-page.html | sort | xargs)"
check "SHA256SUMS matches the shipped files" bash -c "cd '$out' && sha256sum --quiet -c SHA256SUMS"

# One byte changed after signing, in the middle of the file (a section, or the cabinet's data).
changed_fails() {
    local copy=$work/changed-$(basename "$1") middle byte
    cp "$1" "$copy"
    middle=$(($(stat -c %s "$copy") / 2))
    byte=$(od -An -tu1 -j "$middle" -N1 "$copy" | tr -d ' ')
    printf "\\$(printf '%03o' $((byte ^ 0xff)))" | dd of="$copy" bs=1 seek="$middle" conv=notrunc status=none
    ! cmp -s "$1" "$copy" && ! signature_verifies "$work/signer/cert.pem" "$copy"
}
check "a DLL changed after signing fails verification" changed_fails "$cab/FluxmereLibrary.dll"
check "a cabinet changed after signing fails verification" changed_fails "$out/FluxmereLibrary.cab"

# Failures: a clear message, a non-zero status, the output folder as it was and no staging left.
out_state() {
    (cd "$out" && find . -type f -printf '%p %s %T@\n' | sort)
    find "$work" -maxdepth 1 -name '.out.staging.*'
}
# fails_cleanly MESSAGE COMMAND...
fails_cleanly() {
    local message=$1 before output status=0
    shift
    before=$(out_state)
    output=$("$@" 2>&1) || status=$?
    echo "    said: $(grep -m1 '^package:' <<<"$output")"
    [[ $status != 0 ]] || { echo "    exit status 0"; return 1; }
    grep -qF "$message" <<<"$output" || { echo "    expected: $message"; return 1; }
    [[ "$(out_state)" == "$before" ]] || { echo "    out/ changed or a staging folder was left"; return 1; }
}
printf 'wrong\n' >"$work/wrong-password"
printf 'secret-1\n' >"$work/password"
shim=$work/shim
mkdir -p "$shim"
# osslsigncode as a signing service that gives up at the installers, after the programs.
printf '#!/bin/bash\nfor a; do [[ $a == *.msi ]] && { echo "refused $a" >&2; exit 1; }; done\nexec %q "$@"\n' \
    "$(command -v osslsigncode)" >"$shim/osslsigncode"
chmod +x "$shim/osslsigncode"
octet=$((20 + ${FLUXMERE_LOOPBACK_SHIFT:-0}))
((octet <= 255)) || octet=20
nobody=http://127.$octet.12.1:9/

check "a missing certificate" fails_cleanly "package: no certificate at $work/none.pfx" \
    "$package" --sign "$work/none.pfx" --out "$out" "${trees[@]}"
check "a wrong password" fails_cleanly "wrong password" \
    env FLUXMERE_SIGN_PASSWORD=wrong "$package" --sign "$work/signer/cert.pfx" --out "$out" "${trees[@]}"
check "a wrong password in the password file (it wins over the environment)" \
    fails_cleanly "wrong password" "$package" --sign "$work/signer/cert.pfx" \
    --sign-password-file "$work/wrong-password" --out "$out" "${trees[@]}"
check "no password at all" fails_cleanly "no password for the certificate" \
    env -u FLUXMERE_SIGN_PASSWORD "$package" --sign "$work/signer/cert.pfx" --out "$out" "${trees[@]}"
check "signing that fails at the installers, after the programs were signed" \
    fails_cleanly ".msi failed" env PATH="$shim:$PATH" \
    "$package" --sign "$work/signer/cert.pfx" --sign-password-file "$work/password" --out "$out" "${trees[@]}"
check "a time-stamping authority that cannot be reached" \
    fails_cleanly "package: signing FluxmereLibrary.dll failed" \
    "$package" --sign "$work/signer/cert.pfx" --timestamp "$nobody" --out "$out" "${trees[@]}"
check "./run package checks the certificate before it builds anything" \
    fails_cleanly "package: no certificate at $work/none.pfx" "$source_root/run" package --sign "$work/none.pfx"

check "without --sign the release is made and said to be unsigned" \
    bash -c "env -u FLUXMERE_SIGN_PASSWORD '$package' --out '$work/unsigned' ${trees[*]} | grep -q 'NOT signed'"
check "... and carries no signature" not signature_verifies "$work/signer/cert.pem" "$work/unsigned/FluxmereLibrary.cab"

check_summary
