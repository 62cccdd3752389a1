# Registers the component server with regsvr32 under Wine and reads the registry back through the
# helpers of tests/wine/registry.sh. Run by `wine-run.sh --script`; $1 is the DLL of the tree.
set -uo pipefail
source "$FLUXMERE_WINE_TOOLS/registry.sh"

dll=$1
check "regsvr32 registers the module" wine_register "$dll"
check "regsvr32 unregisters the module" wine_unregister "$dll"
check "regsvr32 reports a missing module" not wine_register "$FLUXMERE_TEST_DIR/missing.dll"

key='HKCU\Software\FluxmereHarness'
wine_session_exec reg add "$key" /v Folder /t REG_SZ /d 'C:\a folder\x' /f >/dev/null 2>&1
check "a written value reads back, spaces and all" test "$(wine_reg_value "$key" Folder)" = 'C:\a folder\x'
check "the key exists" wine_reg_has_key "$key"
wine_session_exec reg delete "$key" /f >/dev/null 2>&1
check "a deleted key is gone" wine_reg_absent "$key"

check_summary
