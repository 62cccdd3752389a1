#!/usr/bin/env bash
# The release of built Windows trees, signed or not (`./run package` builds the trees and calls
# this):
#
#   package.sh [--sign CERT.pfx [--sign-password-file FILE] [--timestamp URL]] [--out DIR]
#              [--check] TREE...
#
# TREE is a built Windows tree (build/win32, build/win64): its packaging/staging/ holds the files
# it ships and release.txt their version. Into DIR (default ./out) go one installer per tree,
# FluxmereLibrary-<version>-<x86|x64>.msi, the browser's cabinet FluxmereLibrary.cab (with the
# i686 DLL, or the first tree's where no i686 tree is given), the example page device-page.html
# and SHA256SUMS of these.
#
# --sign signs (Authenticode, SHA-256, osslsigncode) every program and DLL before it is packed,
# then the installers and the cabinet. The password is the first line of --sign-password-file,
# else FLUXMERE_SIGN_PASSWORD. --timestamp has a time-stamping authority (RFC 3161) countersign
# each signature; without it the signatures are valid only while the certificate is.
# --check checks the tools, the certificate and its password, and stops there.
#
# Everything is made in a staging folder beside DIR and moved into DIR only once all of it has
# succeeded: a failure leaves DIR as it was. Exit status 0 on success, 1 on failure, 2 on usage.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
page_source=$root/examples/device-page.html
signed_description=FluxmereLibrary

fail() {
    echo "package: $*" >&2
    exit 1
}

usage() {
    echo "usage: package.sh [--sign CERT.pfx [--sign-password-file FILE] [--timestamp URL]]" \
        "[--out DIR] [--check] TREE..." >&2
    exit 2
}

require_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || fail "$tool is not installed (./run setup installs it)"
    done
}

# Writes the signing password, without its line end, to TARGET (readable by us alone).
store_password() {
    local password_file=$1 target=$2 password
    (umask 077 && : >"$target")
    if [[ -n "$password_file" ]]; then
        [[ -r "$password_file" ]] || fail "cannot read the password file $password_file"
        IFS= read -r password <"$password_file" || [[ -n "$password" ]] ||
            fail "the password file $password_file is empty"
        password=${password%$'\r'}  # a file written on Windows
    elif [[ -n "${FLUXMERE_SIGN_PASSWORD+set}" ]]; then
        password=$FLUXMERE_SIGN_PASSWORD
    else
        fail "no password for the certificate: set FLUXMERE_SIGN_PASSWORD or give --sign-password-file FILE"
    fi
    printf '%s' "$password" >"$target"
}

# The certificate must open with the password (older exports need OpenSSL's legacy ciphers).
check_certificate() {
    local pfx=$1 password=$2
    [[ -f "$pfx" && -r "$pfx" ]] || fail "no certificate at $pfx"
    openssl pkcs12 -in "$pfx" -passin "file:$password" -noout 2>/dev/null ||
        openssl pkcs12 -legacy -in "$pfx" -passin "file:$password" -noout 2>/dev/null ||
        fail "cannot open $pfx: wrong password, or not a PKCS#12 (.pfx) file"
}

# "subject (valid until date)" of the signing certificate.
certificate_summary() {
    local pfx=$1 password=$2 legacy=() pem
    openssl pkcs12 -in "$pfx" -passin "file:$password" -noout 2>/dev/null || legacy=(-legacy)
    pem=$(openssl pkcs12 "${legacy[@]}" -in "$pfx" -passin "file:$password" -nokeys -clcerts 2>/dev/null)
    echo "$(openssl x509 -noout -subject -nameopt oneline <<<"$pem" | sed 's/^subject= *//')" \
        "(valid until $(openssl x509 -noout -enddate <<<"$pem" | sed 's/^notAfter=//'))"
}

# sign_file FILE PFX PASSWORD_FILE TIMESTAMP: signs FILE in place.
sign_file() {
    local file=$1 pfx=$2 password=$3 timestamp=$4 secret log=$1.signing.log
    secret=(-readpass "$password")
    [[ -s "$password" ]] || secret=(-pass '')
    local args=(sign -pkcs12 "$pfx" "${secret[@]}" -h sha256 -n "$signed_description")
    [[ -z "$timestamp" ]] || args+=(-ts "$timestamp")
    if ! osslsigncode "${args[@]}" -in "$file" -out "$file.signed" >"$log" 2>&1; then
        sed 's/^/    /' "$log" >&2
        fail "signing $(basename "$file") failed"
    fi
    mv -f "$file.signed" "$file"
    rm -f "$log"
}

# tree_value TREE NAME: a value of the tree's release.txt.
tree_value() {
    sed -n "s/^$2=//p" "$1/packaging/release.txt"
}

# Value NAME of the INF's section of the DLL.
inf_value() {
    tr -d '\r' <"$1" | awk -F= -v name="${2,,}" '
        /^\[/ { section = tolower($0); next }
        section == "[fluxmerelibrary.dll]" && tolower($1) == name { print $2; exit }'
}

# The page's codebase names the cabinet's version and the INF's class id: a page naming another
# version would make the browser offer the package again on every visit.
check_page() {
    local page=$1 inf=$2 version clsid
    version=$(inf_value "$inf" FileVersion)
    clsid=$(inf_value "$inf" clsid)
    grep -q "classid=\"clsid:${clsid:1:36}\"" "$page" ||
        fail "$page does not embed the class id $clsid of the cabinet's INF"
    grep -q "codebase=\"FluxmereLibrary.cab#version=$version\"" "$page" ||
        fail "$page does not name FluxmereLibrary.cab#version=$version, the cabinet's version"
}

main() {
    local pfx="" password_file="" timestamp="" out=$PWD/out check_only=0 trees=()
    while [[ $# -gt 0 ]]; do
        case $1 in
            --sign | --sign-password-file | --timestamp | --out)
                [[ $# -ge 2 && -n "$2" ]] || { echo "package: $1 needs a value" >&2; usage; }
                case $1 in
                    --sign) pfx=$2 ;;
                    --sign-password-file) password_file=$2 ;;
                    --timestamp) timestamp=$2 ;;
                    --out) out=$2 ;;
                esac
                shift 2
                ;;
            --check) check_only=1; shift ;;
            -*) echo "package: unknown option $1" >&2; usage ;;
            *) trees+=("$1"); shift ;;
        esac
    done
    [[ -z "$pfx" && ( -n "$password_file" || -n "$timestamp" ) ]] &&
        { echo "package: --sign-password-file and --timestamp go with --sign" >&2; usage; }

    require_tools wixl gcab sha256sum
    [[ -z "$pfx" ]] || require_tools osslsigncode openssl

    out=$(realpath -m "$out")
    mkdir -p "$(dirname "$out")" || fail "cannot make $(dirname "$out")"
    local staging
    staging=$(mktemp -d "$(dirname "$out")/.$(basename "$out").staging.XXXXXX") ||
        fail "cannot make a staging folder beside $out"
    # shellcheck disable=SC2064
    trap "rm -rf '$staging'" EXIT

    local password=$staging/password
    if [[ -n "$pfx" ]]; then
        store_password "$password_file" "$password"
        check_certificate "$pfx" "$password"
    fi
    [[ $check_only == 0 ]] || return 0
    [[ ${#trees[@]} -gt 0 ]] || { echo "package: no tree given" >&2; usage; }

    local tree version platform files made=() cab_tree=${trees[0]} files_of_cab="" file
    for tree in "${trees[@]}"; do
        [[ -f "$tree/packaging/release.txt" ]] ||
            fail "$tree is not a built Windows tree (no packaging/release.txt)"
        [[ "$(tree_value "$tree" platform)" == x86 ]] && cab_tree=$tree
    done
    for tree in "${trees[@]}"; do
        version=$(tree_value "$tree" version)
        platform=$(tree_value "$tree" platform)
        files=$staging/files-$platform
        [[ ! -e "$files" ]] || fail "two trees for $platform given"
        mkdir -p "$files"
        for file in FluxmereLibrary.dll fluxmere-engine.exe fluxmere-viewer.exe \
            fluxmere-downloads.exe FluxmereLibrary.inf; do
            cp "$tree/packaging/staging/$file" "$files/" ||
                fail "$tree has no packaging/staging/$file (build its target fluxmere_staging)"
        done
        if [[ -n "$pfx" ]]; then
            for file in FluxmereLibrary.dll fluxmere-engine.exe fluxmere-viewer.exe \
                fluxmere-downloads.exe; do
                sign_file "$files/$file" "$pfx" "$password" "$timestamp"
            done
        fi
        made+=("FluxmereLibrary-$version-$platform.msi")
        bash "$here/pack.sh" msi "$staging/${made[-1]}" "$platform" "$version" \
            "$(tree_value "$tree" ceiling)" "$files" >"$staging/wixl.log" 2>&1 ||
            { cat "$staging/wixl.log" >&2; fail "wixl could not pack ${made[-1]}"; }
        [[ "$tree" != "$cab_tree" ]] || files_of_cab=$files
    done
    made+=(FluxmereLibrary.cab)
    bash "$here/pack.sh" cab "$staging/FluxmereLibrary.cab" "$files_of_cab/FluxmereLibrary.inf" \
        "$files_of_cab/FluxmereLibrary.dll" >"$staging/gcab.log" 2>&1 ||
        { cat "$staging/gcab.log" >&2; fail "gcab could not pack FluxmereLibrary.cab"; }
    if [[ -n "$pfx" ]]; then
        for file in "${made[@]}"; do
            sign_file "$staging/$file" "$pfx" "$password" "$timestamp"
        done
    fi
    check_page "$page_source" "$files_of_cab/FluxmereLibrary.inf"
    cp "$page_source" "$staging/"
    made+=(device-page.html)
    (cd "$staging" && sha256sum "${made[@]}" >SHA256SUMS) || fail "cannot write SHA256SUMS"
    made+=(SHA256SUMS)

    mkdir -p "$out" || fail "cannot make $out"
    for file in "${made[@]}"; do
        mv -f "$staging/$file" "$out/$file" || fail "cannot move $file into $out"
    done

    echo "package: made in $out:"
    (cd "$out" && ls -l "${made[@]}" && cat SHA256SUMS)
    if [[ -z "$pfx" ]]; then
        echo "package: the files are NOT signed (./run package --sign CERT.pfx signs them)"
    elif [[ -z "$timestamp" ]]; then
        echo "package: signed by $(certificate_summary "$pfx" "$password"), without a timestamp:" \
            "the signatures stop being valid when the certificate expires (--timestamp URL keeps" \
            "them valid beyond)"
    else
        echo "package: signed by $(certificate_summary "$pfx" "$password"), timestamped by $timestamp"
    fi
}

main "$@"
