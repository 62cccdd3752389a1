#!/usr/bin/env bash
# Packs the files of a Windows tree, as they are (signed or not): used by packaging/CMakeLists.txt
# for the tree's own artefacts and by package.sh for a release.
#
#   pack.sh msi OUT.msi PLATFORM VERSION CEILING FOLDER
#       the per-machine installer (wixl) of FOLDER's FluxmereLibrary.dll, fluxmere-engine.exe,
#       fluxmere-viewer.exe and fluxmere-downloads.exe; PLATFORM x86 or x64; every installed
#       version below CEILING is replaced
#   pack.sh cab OUT.cab INF DLL
#       the browser's download package (gcab): the DLL and its INF, nothing else
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# wixl looks the files up relative to its working folder.
pack_msi() {
    local out=$1 platform=$2 version=$3 ceiling=$4 folder=$5
    [[ "$out" == /* ]] || out=$PWD/$out
    (cd "$folder" && wixl --arch "$platform" -D Version="$version" -D UpgradeCeiling="$ceiling" \
        -D Platform="$platform" -D ModuleDll=FluxmereLibrary.dll -D EngineExe=fluxmere-engine.exe \
        -D ViewerExe=fluxmere-viewer.exe -D DownloadsExe=fluxmere-downloads.exe -o "$out" \
        "$here/FluxmereLibrary.wxs")
}

pack_cab() {
    local out=$1 inf=$2 dll=$3
    rm -f "$out"
    gcab --create --zip --nopath "$out" "$inf" "$dll"
}

case ${1:-} in
    msi)
        [[ $# == 6 ]] || { echo "usage: pack.sh msi OUT.msi PLATFORM VERSION CEILING FOLDER" >&2; exit 2; }
        pack_msi "${@:2}"
        ;;
    cab)
        [[ $# == 4 ]] || { echo "usage: pack.sh cab OUT.cab INF DLL" >&2; exit 2; }
        pack_cab "${@:2}"
        ;;
    *)
        echo "usage: pack.sh msi OUT.msi PLATFORM VERSION CEILING FOLDER | cab OUT.cab INF DLL" >&2
        exit 2
        ;;
esac
