# regsvr32 and regsvr32 /u of the component server under Wine, read back with reg query: every key
# and value the two registry scripts write, registering twice, and what unregistering removes
# and keeps. Run by `wine-run.sh --script`; $1 is the DLL of the tree (i686 under 32-bit Wine,
# x86_64 under wine64, each registering in its own registry view).
set -uo pipefail
source "$FLUXMERE_WINE_TOOLS/registry.sh"

dll=$1
module=$(wine_windows_path "$dll")
source "$(dirname "${BASH_SOURCE[0]}")/registered_keys.sh"

# A leftover from an earlier registration would hide what this one writes.
wine_unregister "$dll" >/dev/null 2>&1
wine_session_exec reg delete "HKCR\\CLSID\\$player" /f >/dev/null 2>&1

check "regsvr32 registers the module" wine_register "$dll"
first=$(registered_keys)
check "both scripts' keys and values, exactly" same_lines "$(expected_keys "$module")" "$first"
if [[ "$(wine_session_arch "$FLUXMERE_WINE_DIR")" == win32 ]]; then kind=win32; else kind=win64; fi
check "the type library is registered from the module file ($kind)" \
    test "$(wine_reg_value "HKCR\\TypeLib\\$libid\\1.0\\0\\$kind")" = "$module"
check "the type library's help string" \
    test "$(wine_reg_value "HKCR\\TypeLib\\$libid\\1.0")" = "FluxmereLibrary 1.0 Type Library"
# The two dual interfaces, and IViewerState of host applications.
for interface in '{06D8B842-2D54-4685-8DAF-C8688F839ECD}' '{F3E1CA0A-C872-460A-8CFC-4D2F3303F5E1}' \
    '{29CAB068-4826-428C-8243-D1005976F1B5}'; do
    check "interface $interface marshalled by the type library" \
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
    'Interface\{06D8B842-2D54-4685-8DAF-C8688F839ECD}' 'Interface\{29CAB068-4826-428C-8243-D1005976F1B5}'; do
    check "unregistering removes $key" wine_reg_absent "HKCR\\$key"
done
check "unregistering keeps HKCR\\CLSID itself" wine_reg_has_key 'HKCR\CLSID'

check_summary
