# The browser's download package: the cabinet holds the DLL and its INF and nothing else, the INF
# installs that DLL for the viewer's class id at the DLL's version, and the example page names the
# same class id and version in its codebase (a page naming another version would make the browser
# offer the package again on every visit). Run by `wine-run.sh --script`.
# $1 the cabinet, $2 the DLL of the tree, $3 the version (1.0.0.11), $4 the example page.
set -uo pipefail
source "$FLUXMERE_WINE_TOOLS/registry.sh"
source "$(dirname "${BASH_SOURCE[0]}")/packaging_checks.sh"

cab=$1
dll=$2
version=${3//./,}
page=$4
player='{CF9A6AEF-DBEE-4DB9-A67E-D878982D7FDD}'
unpacked=$FLUXMERE_TEST_DIR/unpacked

require_tools gcab wixl || { check_summary; exit 1; }

check "the cabinet lists the DLL and the INF, nothing else" \
    test "$(gcab --list "$cab" | sort | xargs)" = "FluxmereLibrary.dll FluxmereLibrary.inf"
mkdir -p "$unpacked"
check "the cabinet unpacks" gcab --extract --directory "$unpacked" "$cab"
check "the DLL in it is the tree's" cmp -s "$unpacked/FluxmereLibrary.dll" "$dll"

inf=$unpacked/FluxmereLibrary.inf
check "[Add.Code] names the DLL" test "$(inf_value "$inf" Add.Code FluxmereLibrary.dll)" = FluxmereLibrary.dll
check "the INF gives the viewer's class id" test "$(inf_value "$inf" FluxmereLibrary.dll clsid)" = "$player"
check "the INF gives the DLL's version $version" \
    test "$(inf_value "$inf" FluxmereLibrary.dll FileVersion)" = "$version"
check "the DLL comes from this cabinet" \
    test "$(tr -d '\r' <"$inf" | grep -c '^file-win32-x[0-9]*=thiscab$')" = 1
check "the INF registers the DLL" test "$(inf_value "$inf" FluxmereLibrary.dll RegisterServer)" = yes

check "the example page embeds the viewer by its class id" \
    grep -q "classid=\"clsid:${player:1:36}\"" "$page"
check "the example page's codebase names this package and version" \
    grep -q "codebase=\"FluxmereLibrary.cab#version=$version\"" "$page"
check "the example page drives SetURL, SetRectangle and Stop" \
    bash -c "grep -q '\.SetURL(' '$page' && grep -q '\.SetRectangle(' '$page' && grep -q '\.Stop()' '$page'"

check_summary
