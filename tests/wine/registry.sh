# Registry helpers for bash tests run by `wine-run.sh --script` (source this file). They act on the
# test's Wine session with the regsvr32 and reg of its architecture, so the DLL must be the build of
# the same tree (i686 under 32-bit Wine, x86_64 under wine64).
#
#   wine_register DLL           regsvr32 /s DLL (calls DllRegisterServer); returns its exit code
#   wine_unregister DLL         regsvr32 /s /u DLL (calls DllUnregisterServer)
#   wine_reg_query KEY [ARGS]   prints `reg query KEY ARGS` (e.g. /s, /v NAME, /ve); exit code of reg
#   wine_reg_value KEY [NAME]   prints just the data of value NAME (the default value without NAME)
#   wine_reg_has_key KEY        true when KEY exists
#   wine_reg_absent KEY [NAME]  true only when reg says the key (or its value NAME) does not exist;
#                               any other failure of reg or Wine is no proof of absence and says
#                               what happened (so never write `not wine_reg_has_key`)
#   check WHAT COMMAND...       runs COMMAND, prints "ok: WHAT" or "FAILED: WHAT" and counts failures
#   not COMMAND...              true when COMMAND fails
#   check_summary               prints the failure count; true when there was none
#
# KEY is written as reg writes it, e.g. 'HKCR\CLSID\{...}' or 'HKCU\Software\Vandelor'.

source "${FLUXMERE_WINE_TOOLS:?run this through wine-run.sh --script}/session.sh"
wine_session_env "${FLUXMERE_WINE_DIR:?run this through wine-run.sh --script}"

# Unix path to the Windows form Wine gives it (drive Z: is the Unix root).
wine_windows_path() {
    local path
    path=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
    echo "Z:${path//\//\\}"
}

wine_register() {
    wine_session_exec regsvr32 /s "$(wine_windows_path "$1")" </dev/null
}

wine_unregister() {
    wine_session_exec regsvr32 /s /u "$(wine_windows_path "$1")" </dev/null
}

# reg prints Windows line ends; strip them so callers can compare plain text.
wine_reg_query() {
    local key=$1
    shift
    wine_session_exec reg query "$key" "$@" </dev/null 2>/dev/null | tr -d '\r'
    return "${PIPESTATUS[0]}"
}

wine_reg_value() {
    local key=$1 out
    if [[ $# -ge 2 ]]; then
        out=$(wine_reg_query "$key" /v "$2") || return 1
    else
        out=$(wine_reg_query "$key" /ve) || return 1
    fi
    # Value lines read "    NAME    TYPE    DATA"; the data may hold spaces.
    awk -F'    ' 'NF >= 4 && $3 ~ /^REG_/ { data = $4; for (i = 5; i <= NF; i++) data = data FS $i; print data; exit }' <<<"$out"
}

wine_reg_has_key() {
    wine_reg_query "$1" >/dev/null
}

wine_reg_absent() {
    local key=$1 out status=0
    if [[ $# -ge 2 ]]; then
        out=$(wine_session_exec reg query "$key" /v "$2" </dev/null 2>&1) || status=$?
    else
        out=$(wine_session_exec reg query "$key" </dev/null 2>&1) || status=$?
    fi
    [[ $status == 0 ]] && return 1
    if [[ $status == 1 ]] && grep -q "Unable to find the specified registry \(key\|value\)" <<<"$out"; then
        return 0
    fi
    echo "    reg query $key ${2:-} failed (status $status) without saying it is absent: $(tr -d '\r' <<<"$out" | xargs)"
    return 1
}

check_failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        check_failures=$((check_failures + 1))
    fi
}

not() { ! "$@"; }

check_summary() {
    echo "$check_failures failure(s)"
    [[ $check_failures == 0 ]]
}
