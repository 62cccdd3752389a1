# Helpers of the packaging tests; source it after tests/wine/registry.sh.
#
#   require_tools TOOL...             a check per tool that is missing, saying so; false when any is
#   throwaway_certificate DIR PASS    DIR/cert.pem and DIR/cert.pfx (password PASS): a self-signed
#                                     code-signing certificate made for this run alone
#   signature_verifies CERT FILE      FILE's Authenticode signature verifies with CERT as the only
#                                     trusted root
#   inf_value INF SECTION NAME        value NAME of the INF's SECTION (INF names are case-insensitive
#                                     and its lines end in CRLF)

require_tools() {
    local tool missing=0
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "FAILED: $tool is not installed (./run setup installs it)"
            check_failures=$((check_failures + 1))
            missing=1
        fi
    done
    [[ $missing == 0 ]]
}

throwaway_certificate() {
    local dir=$1 password=$2
    mkdir -p "$dir"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$dir/key.pem" -out "$dir/cert.pem" \
        -subj "/CN=Fluxmere throwaway signer $(basename "$dir")" \
        -addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=codeSigning \
        >/dev/null 2>&1 &&
        openssl pkcs12 -export -inkey "$dir/key.pem" -in "$dir/cert.pem" -out "$dir/cert.pfx" \
            -passout "pass:$password" >/dev/null 2>&1
}

signature_verifies() {
    osslsigncode verify -CAfile "$1" -in "$2" >/dev/null 2>&1
}

inf_value() {
    tr -d '\r' <"$1" | awk -F= -v section="[${2,,}]" -v name="${3,,}" '
        /^\[/ { current = tolower($0); next }
        current == section && tolower($1) == name { print $2; exit }'
}
