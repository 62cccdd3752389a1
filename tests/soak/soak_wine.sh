# The Wine half of the soak, run by `wine-run.sh --script` in the tree's Wine session: registers
# the transcoding engine (as an installation does, so that the transcoded downloads reach the real
# program), runs soak_host.exe, then unregisters the engine. Exits with the soak's status.
#   soak_wine.sh ENGINE_EXE SOAK_HOST_EXE MINUTES CSV
set -uo pipefail
source "$FLUXMERE_WINE_TOOLS/registry.sh"

engine=$1 host=$2 minutes=$3 csv=$4

if ! wine_session_exec "$engine" /RegServer </dev/null; then
    echo "soak: ERROR the engine could not be registered"
    exit 1
fi
# A fresh store of running local servers, as the engine test does: one left from an engine that
# was killed would take the soak's activations.
wine_session_exec net stop rpcss </dev/null >/dev/null 2>&1
wine_session_exec net start rpcss </dev/null >/dev/null 2>&1
wine_session_exec "$host" "$minutes" "$csv" </dev/null
status=$?
wine_session_exec "$engine" /UnregServer </dev/null || echo "soak: the engine could not be unregistered"
exit "$status"
