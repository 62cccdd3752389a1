# The keys and values the component server's two registry scripts write, for the tests that
# register it (regsvr32 in registration_test.sh, the installer in tests/packaging). Source it after
# registry.sh.
#
#   registered_keys                 every key and value of both classes and their ProgIDs, one a
#                                   line, as read back with reg query
#   expected_keys MODULE            what registered_keys must print for the module at MODULE (its
#                                   Windows path)
#   same_lines EXPECTED ACTUAL      true when equal; prints the difference otherwise

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

# The registry the scripts must write, key for key, for the module at $1.
expected_classes() {
    local module=$1
    echo "CLSID\\$player
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
    echo "CLSID\\$manager
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
}

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
    expected_classes "$1"
    expected_progids FluxmereLibrary.MediaPlayer "$player" "MediaPlayer Class"
    expected_progids FluxmereLibrary.FluxmereDownloadManager "$manager" "FluxmereDownloadManager Class"
}
