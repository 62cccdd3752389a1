# regsvr32 and regsvr32 /u of the component server under Wine, read back with reg query: every key
# and value the two registry scripts write, registering twice, and what unregistering removes
# and keeps. Run by `wine-run.sh --script`; $1 is the DLL of the tree (i686 under 32-bit Wine,
# x86_64 under wine64, each registering in its own registry view).
set -uo pipefail
source "$FLUXMERE_WINE_TOOLS/registry.sh"

dll=$1
module=$(wine_windows_path "$dll")
player='{CF9A6AEF-DBEE-4DB9-A67E-D878982D7FDD}'
manager='{9E6D1B14-BD51-491D-977D-FA5D05BE288D}'
libid='{C70FF190-3D37-42CD-ABBE-301C0E55A874}'

# Every key under $1 (itself included) with its values, one line each:
#   KEY (relative to HKCR)            for a key
#   KEY|NAME|TYPE|DATA                for a value ("(Default)" for the default value)
registry_tree() {
    wine_reg_query "HKCR\\$1" /s | awk -F'    ' '
        /^HKEY_CLASSES_ROOT\\/ { key = substr($0, 19); print key; next }
        NF >= 4 && $3 ~ /^REG_/ { data = $4; for (i = 5; i <= NF; i++) data = data FS $i
                                   print key "|" $2 "|" $3 "|" data }'
}

same_lines() {
    local expected=$1 actual=$2
    if [[ "$expected" == "$actual" ]]; then
        return 0
    fi
    diff <(echo "$expected") <(echo "$actual") | sed 's/^/    /'
    return 1
}

# The registry the scripts must write, key for key.
expected_player_class="CLSID\\$player
CLSID\\$player|(Default)|REG_SZ|MediaPlayer Class
CLSID\\$player\\Control
CLSID\\$player\\InprocServer32
CLSID\\$player\\InprocServer32|(Default)|REG_SZ|$module
CLSID\\$player\\InprocServer32|ThreadingModel|REG_SZ|Apartment
CLSID\\$player\\Insertable
CLSID\\$player\\MiscStatus
CLSID\\$player\\MiscStatus|(Default)|REG_SZ|0
CLSID\\$player\\MiscStatus\\1
CLSID\\$player\\MiscStatus\\1|(Default)|REG_SZ|131473
CLSID\\$player\\ProgID
CLSID\\$player\\ProgID|(Default)|REG_SZ|FluxmereLibrary.MediaPlayer.1
CLSID\\$player\\Programmable
CLSID\\$player\\ToolboxBitmap32
CLSID\\$player\\ToolboxBitmap32|(Default)|REG_SZ|$module, 101
CLSID\\$player\\TypeLib
CLSID\\$player\\TypeLib|(Default)|REG_SZ|$libid
CLSID\\$player\\Version
CLSID\\$player\\Version|(Default)|REG_SZ|1.0
CLSID\\$player\\VersionIndependentProgID
CLSID\\$player\\VersionIndependentProgID|(Default)|REG_SZ|FluxmereLibrary.MediaPlayer"

expected_manager_class="CLSID\\$manager
CLSID\\$manager|(Default)|REG_SZ|FluxmereDownloadManager Class
CLSID\\$manager\\InprocServer32
CLSID\\$manager\\InprocServer32|(Default)|REG_SZ|$module
CLSID\\$manager\\InprocServer32|ThreadingModel|REG_SZ|Apartment
CLSID\\$manager\\ProgID
CLSID\\$manager\\ProgID|(Default)|REG_SZ|FluxmereLibrary.FluxmereDownloadManager.1
CLSID\\$manager\\Programmable
CLSID\\$manager\\TypeLib
CLSID\\$manager\\TypeLib|(Default)|REG_SZ|$libid
CLSID\\$manager\\VersionIndependentProgID
CLSID\\$manager\\VersionIndependentProgID|(Default)|REG_SZ|FluxmereLibrary.FluxmereDownloadManager"

# ProgID keys: NAME CLASS-ID TEXT
expected_progids() {
    local name=$1 clsid=$2 text=$3
    echo "$name.1
$name.1|(Default)|REG_SZ|$text
$name.1\\CLSID
$name.1\\CLSID|(Default)|REG_SZ|$clsid"
    echo "$name
$name|(Default)|REG_SZ|$text
$name\\CLSID
$name\\CLSID|(Default)|REG_SZ|$clsid
$name\\CurVer
$name\\CurVer|(Default)|REG_SZ|$name.1"
}

registered_keys() {
    registry_tree "CLSID\\$player"
    registry_tree "CLSID\\$manager"
    registry_tree FluxmereLibrary.MediaPlayer.1
    registry_tree FluxmereLibrary.MediaPlayer
    registry_tree FluxmereLibrary.FluxmereDownloadManager.1
    registry_tree FluxmereLibrary.FluxmereDownloadManager
}

expected_keys() {
    echo "$expected_player_class"
    echo "$expected_manager_class"
    expected_progids FluxmereLibrary.MediaPlayer "$player" "MediaPlayer Class"
    expected_progids FluxmereLibrary.FluxmereDownloadManager "$manager" "FluxmereDownloadManager Class"
}

# A leftover from an earlier registration would hide what this one writes.
wine_unregister "$dll" >/dev/null 2>&1
wine_session_exec reg delete "HKCR\\CLSID\\$player" /f >/dev/null 2>&1

check "regsvr32 registers the module" wine_register "$dll"
first=$(registered_keys)
check "both scripts' keys and values, exactly" same_lines "$(expected_keys)" "$first"
if [[ "$(wine_session_arch "$FLUXMERE_WINE_DIR")" == win32 ]]; then kind=win32; else kind=win64; fi
check "the type library is registered from the module file ($kind)" \
    test "$(wine_reg_value "HKCR\\TypeLib\\$libid\\1.0\\0\\$kind")" = "$module"
check "the type library's help string" \
    test "$(wine_reg_value "HKCR\\TypeLib\\$libid\\1.0")" = "FluxmereLibrary 1.0 Type Library"
for interface in '{06D8B842-2D54-4685-8DAF-C8688F839ECD}' '{F3E1CA0A-C872-460A-8CFC-4D2F3303F5E1}'; do
    check "dual interface $interface marshalled by the type library" \
        test "$(wine_reg_value "HKCR\\Interface\\$interface\\ProxyStubClsid32")" = \
        '{00020424-0000-0000-C000-000000000046}'
done

# ForceRemove keys are rewritten from scratch: a stray value under one of them goes away.
wine_session_exec reg add "HKCR\\CLSID\\$player\\Control" /v Stray /d x /f >/dev/null 2>&1
check "registering again succeeds" wine_register "$dll"
check "registering twice gives the same keys" same_lines "$first" "$(registered_keys)"

check "regsvr32 /u unregisters the module" wine_unregister "$dll"
for key in "CLSID\\$player" "CLSID\\$manager" FluxmereLibrary.MediaPlayer.1 \
    FluxmereLibrary.MediaPlayer FluxmereLibrary.FluxmereDownloadManager.1 \
    FluxmereLibrary.FluxmereDownloadManager "TypeLib\\$libid" \
    'Interface\{06D8B842-2D54-4685-8DAF-C8688F839ECD}'; do
    check "unregistering removes $key" not wine_reg_has_key "HKCR\\$key"
done
check "unregistering keeps HKCR\\CLSID itself" wine_reg_has_key 'HKCR\CLSID'

check_summary
