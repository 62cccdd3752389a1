#!/usr/bin/env bash
# 32-bit Wine (wine32:i386), which runs the i686 build's tests, where the kernel can run it.
#
#   wine32.sh setup            installs wine32:i386 where the kernel runs 32-bit programs
#                              (idempotent; does nothing elsewhere)
#   wine32.sh missing-reason   prints why the i686 tests cannot run here, or nothing when they can
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

installed() {
    [[ -x /usr/lib/wine/wine && -x /usr/lib/wine/wineserver32 &&
        "$(dpkg-query -W -f='${db:Status-Status}' wine32:i386 2>/dev/null)" == installed ]]
}

setup() {
    "$here/i386-probe.sh" || return 0
    installed && return 0
    local sudo=()
    [[ $(id -u) != 0 ]] && sudo=(sudo)
    echo "setup: installing wine32:i386 (this kernel runs 32-bit programs)"
    export DEBIAN_FRONTEND=noninteractive
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${sudo[@]}" dpkg --add-architecture i386
    fi
    if ! "${sudo[@]}" apt-get install -y --no-install-recommends wine32:i386; then
        "${sudo[@]}" apt-get update
        "${sudo[@]}" apt-get install -y --no-install-recommends wine32:i386
    fi
}

missing_reason() {
    if ! "$here/i386-probe.sh"; then
        echo "this kernel does not run 32-bit programs (IA-32 emulation off)"
    elif [[ ! -x /usr/lib/wine/wine || ! -x /usr/lib/wine/wineserver32 ]]; then
        echo "32-bit Wine (wine32:i386) is not installed"
    fi
}

case "${1:-}" in
    setup) setup ;;
    missing-reason) missing_reason ;;
    *) sed -n '2,6s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
esac
