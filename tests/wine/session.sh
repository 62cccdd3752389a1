# Wine session shared by the Windows tests of one build tree (sourced by wine-run.sh and ./run).
#
# A session is one WINEPREFIX (made once, kept in the build tree), one Xvfb display and one
# persistent wineserver. It is reference counted: every user (a test run by wine-run.sh, or
# `./run test` around its whole ctest) acquires it and releases it; the first user starts it and
# the last one stops it, by process id. Holders that died without releasing are pruned, so a
# crashed test cannot keep the session alive past the next release.
#
# Layout under WINE_DIR (default <build>/wine):
#   prefix/                the WINEPREFIX (prefix/.fluxmere-ready once wineboot has finished)
#   session/               display, xvfb.pid, wineserver.pid, holders/<pid>, lock, *.log
#   tests/<name>/          one folder per test: home/.asoundrc, audio.raw (the capture), log
#
# Every process started into the session (through wine_session_exec, and whatever those start)
# carries FLUXMERE_WINE_MEMBER=<WINE_DIR> in its environment; wine_session_stop uses it to find
# stragglers and stop them by process id. The callers' own shells never carry it.

# The architecture of a session: win64 (wine64, for the x86_64 build) or win32 (32-bit Wine in a
# 32-bit prefix, for the i686 build). FLUXMERE_WINE_ARCH names it (CTest passes it); by hand it is
# taken from the build tree that holds the session folder.
wine_session_arch() {
    local cache=$1/../CMakeCache.txt
    if [[ -n "${FLUXMERE_WINE_ARCH:-}" ]]; then
        echo "$FLUXMERE_WINE_ARCH"
    elif [[ -f "$cache" ]] && grep -q '^CMAKE_TOOLCHAIN_FILE:.*mingw-i686' "$cache"; then
        echo win32
    else
        echo win64
    fi
}

# Sets the variables every Wine process of the session needs. $1: the session's folder.
wine_session_env() {
    WINE_DIR=$(mkdir -p "$1" && cd "$1" && pwd)
    export FLUXMERE_WINE_DIR="$WINE_DIR"
    export WINEPREFIX="$WINE_DIR/prefix"
    export WINEARCH
    WINEARCH=$(wine_session_arch "$WINE_DIR")
    export FLUXMERE_WINE_ARCH=$WINEARCH
    if [[ $WINEARCH == win32 ]]; then
        WINE_LOADER_BIN=/usr/lib/wine/wine
        WINE_SERVER_BIN=/usr/lib/wine/wineserver32
    else
        WINE_LOADER_BIN=/usr/lib/wine/wine64
        WINE_SERVER_BIN=/usr/lib/wine/wineserver64
    fi
    export WINELOADER="$WINE_LOADER_BIN"
    export WINESERVER="$WINE_SERVER_BIN"
    export WINEDEBUG="${WINEDEBUG:--all}"
    # No Mono or Gecko: nothing here needs them and there is no network to fetch them.
    export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree=;mshtml=;winemenubuilder.exe=d}"
    WINE_SESSION="$WINE_DIR/session"
    mkdir -p "$WINE_SESSION/holders" "$WINE_DIR/tests"
    if [[ -s "$WINE_SESSION/display" ]]; then
        export DISPLAY=":$(cat "$WINE_SESSION/display")"
    fi
}

# True when process $1 is alive and its command name starts with $2 (guards against pid reuse).
# A zombie is not alive: it holds no display, lock or socket any more.
wine_pid_is() {
    local pid=$1 name=$2 comm state
    [[ -n "$pid" && -r /proc/$pid/comm ]] || return 1
    comm=$(cat "/proc/$pid/comm" 2>/dev/null) || return 1
    state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) || return 1
    [[ "$comm" == "$name"* && "$state" != Z ]]
}

# Waits up to 20 s until the session's wineserver (pid $1) listens on its socket, in the server
# folder it has made its working directory. A Wine program started before that would start a
# wineserver of its own, and the session's one would then quit because the prefix has a server.
# Until the child has exec'd the server, its command name is still the shell's or setsid's: only
# a process that is gone (or a zombie) has failed.
wine_server_wait_ready() {
    local pid=$1 i
    for ((i = 0; i < 200; i++)); do
        [[ -r /proc/$pid/stat && "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" != Z ]] ||
            return 1
        if wine_pid_is "$pid" wineserver && [[ -S "/proc/$pid/cwd/socket" ]]; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Starts a persistent wineserver for the session's prefix and waits until it serves.
wine_server_start() {
    FLUXMERE_WINE_MEMBER="$WINE_DIR" HOME="$WINE_DIR/home" setsid "$WINE_SERVER_BIN" -f -p </dev/null \
        >>"$WINE_SESSION/wineserver.log" 2>&1 9>&- &
    echo $! >"$WINE_SESSION/wineserver.pid"
    if ! wine_server_wait_ready "$(cat "$WINE_SESSION/wineserver.pid")"; then
        echo "wine session: the wineserver did not start (see $WINE_SESSION/wineserver.log)" >&2
        return 1
    fi
}

# Stops the session's wineserver and every Wine process of the prefix.
wine_server_stop() {
    local ws
    ws=$(cat "$WINE_SESSION/wineserver.pid" 2>/dev/null || true)
    if wine_pid_is "$ws" wineserver; then
        # -k asks the server of this prefix (no other) to kill its clients and exit.
        "$WINE_SERVER_BIN" -k >/dev/null 2>&1
        wine_wait_gone "$ws" wineserver
    fi
    # A server that a Wine program started on its own (outside the session's pids) must be gone
    # too before the next start: -w waits for whatever server the prefix still has.
    # Both fail when no server runs, which is fine (the library is used under errexit).
    if [[ -d "$WINEPREFIX" ]]; then
        "$WINE_SERVER_BIN" -k >/dev/null 2>&1 || true
        timeout 10 "$WINE_SERVER_BIN" -w >/dev/null 2>&1 || true
    fi
    rm -f "$WINE_SESSION/wineserver.pid"
}

wine_session_running() {
    wine_pid_is "$(cat "$WINE_SESSION/xvfb.pid" 2>/dev/null)" Xvfb &&
        wine_pid_is "$(cat "$WINE_SESSION/wineserver.pid" 2>/dev/null)" wineserver
}

# Starts Xvfb on a free display, the persistent wineserver, and makes the prefix if needed.
wine_session_start() {
    local log="$WINE_SESSION/start.log" i
    : >"$log"
    rm -f "$WINE_SESSION/display"
    # -displayfd picks a free display number and writes it once the server accepts clients.
    # setsid: the session outlives the test that happened to start it (ctest kills a timed-out
    # test's process group).
    FLUXMERE_WINE_MEMBER="$WINE_DIR" setsid Xvfb -displayfd 3 -nolisten tcp -screen 0 1600x1280x24 \
        3>"$WINE_SESSION/display" </dev/null >>"$WINE_SESSION/xvfb.log" 2>&1 9>&- &
    echo $! >"$WINE_SESSION/xvfb.pid"
    for ((i = 0; i < 100; i++)); do
        [[ -s "$WINE_SESSION/display" ]] && break
        kill -0 "$(cat "$WINE_SESSION/xvfb.pid")" 2>/dev/null || break
        sleep 0.1
    done
    if [[ ! -s "$WINE_SESSION/display" ]]; then
        echo "wine session: Xvfb did not start (see $WINE_SESSION/xvfb.log)" >&2
        return 1
    fi
    export DISPLAY=":$(head -n1 "$WINE_SESSION/display")"
    echo "${DISPLAY#:}" >"$WINE_SESSION/display"

    mkdir -p "$WINEPREFIX" "$WINE_DIR/home"
    # A fresh prefix is made under a server of its own, stopped before the session's starts:
    # made under the session's server, the prefix's update leaves a second services.exe running
    # beside the first, and the two service managers then start and stop rpcss behind each
    # other's back (local COM servers take minutes to activate, or fail).
    if [[ ! -e "$WINEPREFIX/.fluxmere-ready" ]]; then
        echo "wine session: creating the prefix $WINEPREFIX (once per build tree)" >&2
        wine_server_start || return 1
        if ! HOME="$WINE_DIR/home" wine_session_exec wineboot -i >>"$log" 2>&1; then
            echo "wine session: wineboot failed (see $log)" >&2
            return 1
        fi
        wine_server_stop
        touch "$WINEPREFIX/.fluxmere-ready"
    fi
    wine_server_start || return 1
    # Bring Wine's own services up once, before tests join: first starts racing each other in a
    # fresh session have left a test hanging.
    HOME="$WINE_DIR/home" timeout 120 \
        env FLUXMERE_WINE_MEMBER="$WINE_DIR" "$WINE_LOADER_BIN" cmd.exe /c exit 0 \
        </dev/null >>"$log" 2>&1 9>&-
    wine_session_running
}

# Runs a Windows program (or a Unix one, through Wine's loader) as a member of the session.
# Fd 9 is the session lock: no process that may outlive the caller must inherit it.
wine_session_exec() {
    FLUXMERE_WINE_MEMBER="$WINE_DIR" "$WINE_LOADER_BIN" "$@" 9>&-
}

# Waits up to 5 s for process $1 (named $2) to end; kills it if it does not.
wine_wait_gone() {
    local i
    for ((i = 0; i < 50; i++)); do
        wine_pid_is "$1" "$2" || return 0
        sleep 0.1
    done
    kill -KILL "$1" 2>/dev/null
}

# Stops every process of the session by process id: first Wine's own clients through the
# session's wineserver, then Xvfb, then any leftover process that carries the session marker.
wine_session_stop() {
    local xv pid
    xv=$(cat "$WINE_SESSION/xvfb.pid" 2>/dev/null || true)
    wine_server_stop
    if wine_pid_is "$xv" Xvfb; then
        kill -TERM "$xv" 2>/dev/null
        wine_wait_gone "$xv" Xvfb
    fi
    for pid in $(wine_session_pids); do
        kill -KILL "$pid" 2>/dev/null
    done
    rm -f "$WINE_SESSION/xvfb.pid" "$WINE_SESSION/display"
    rm -f "$WINE_SESSION"/holders/*
    return 0
}

# Pids of live processes (zombies aside) whose environment carries this session's marker.
wine_session_pids() {
    local env pid
    for env in $(grep -lzxF "FLUXMERE_WINE_MEMBER=$WINE_DIR" /proc/[0-9]*/environ 2>/dev/null); do
        pid=${env#/proc/}
        pid=${pid%/environ}
        [[ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" == Z ]] && continue
        echo "$pid"
    done
}

wine_prune_holders() {
    local h
    for h in "$WINE_SESSION"/holders/*; do
        # Holders are process ids, apart from named ones such as "manual" (./run wine-env).
        [[ "${h##*/}" =~ ^[0-9]+$ ]] || continue
        kill -0 "${h##*/}" 2>/dev/null || rm -f "$h"
    done
}

# Registers process $1 (default: this shell) as a user of the session, starting it if needed.
wine_session_acquire() {
    local holder=${1:-$$} rc=0
    exec 9>"$WINE_SESSION/lock"
    flock 9
    wine_prune_holders
    if ! wine_session_running; then
        wine_session_stop
        # One more try after a failed start: whatever got in its way has been stopped by then.
        if ! wine_session_start; then
            wine_session_stop
            wine_session_start || rc=1
        fi
    fi
    if [[ $rc == 0 ]]; then
        touch "$WINE_SESSION/holders/$holder"
        # Another user may have started the session since wine_session_env read the display.
        export DISPLAY=":$(cat "$WINE_SESSION/display")"
    else
        wine_session_stop
    fi
    exec 9>&-
    return $rc
}

# Drops process $1's use of the session; the last user stops it.
wine_session_release() {
    local holder=${1:-$$} left
    exec 9>"$WINE_SESSION/lock"
    flock 9
    rm -f "$WINE_SESSION/holders/$holder"
    wine_prune_holders
    left=$(find "$WINE_SESSION/holders" -type f | wc -l)
    [[ $left == 0 ]] && wine_session_stop
    exec 9>&-
}
