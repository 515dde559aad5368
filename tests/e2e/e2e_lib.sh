# shellcheck shell=bash disable=SC2034  # sourced; the scripts use its variables
# Helpers shared by the end-to-end tests (sourced, not run).
#
# A test script is run as `bash tests/e2e/NAME_test.sh PATH-TO-sayalike` with
# SAYALIKE_WORK naming a folder for its files. e2e_enter re-runs the script under
# a virtual display and a private session bus; everything the program writes
# (settings, temporary files, caches) stays in the test's own work folder.
# Every wait is bounded, and whatever a test started is stopped by its PID.

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PULSE_SERVER_SCRIPT=$E2E_DIR/../support/pulse-server
MAIN_TITLE='^Sayalike v1\.3$'
PYTHON=/usr/bin/python3

E2E_NAME=""
BINARY=""
WORK=""
APP_PID=""
APP_STATUS=""
APP_LOG=""
PULSE_DIR=""

note() {
    echo "[$E2E_NAME] $*"
}

fail() {
    echo "[$E2E_NAME] FAIL: $*" >&2
    exit 1
}

# expect_eq WHAT EXPECTED SEEN
expect_eq() {
    [ "$2" = "$3" ] || fail "$1: expected '$2', saw '$3'"
    note "ok: $1 = '$3'"
}

# e2e_enter NAME BINARY: checks the arguments, makes a fresh work folder and
# re-runs the calling script under xvfb-run and dbus-run-session; inside, points
# the program's per-user folders into the work folder.
e2e_enter() {
    E2E_NAME=$1
    BINARY=${2:-}
    [ -n "$BINARY" ] || fail "usage: bash ${BASH_SOURCE[1]} PATH-TO-sayalike"
    [ -x "$BINARY" ] || fail "no program at '$BINARY'"
    BINARY=$(cd "$(dirname "$BINARY")" && pwd)/$(basename "$BINARY")
    local base=${SAYALIKE_WORK:-${TMPDIR:-/tmp}/sayalike-e2e}
    WORK=$base/$E2E_NAME

    if [ -z "${SAYALIKE_E2E_INSIDE:-}" ]; then
        local tool
        for tool in xvfb-run Xvfb xauth dbus-run-session xdotool import; do
            command -v "$tool" >/dev/null || fail "'$tool' is missing (run scripts/bootstrap)"
        done
        rm -rf "$WORK"
        mkdir -p "$WORK"
        export SAYALIKE_E2E_INSIDE=1
        # -noreset: when the program and every probe have left, a resetting
        # server would drop the next connection (a restart, a screenshot).
        exec xvfb-run -a -e "$WORK/xvfb.log" -s "-screen 0 1280x1024x24 -noreset" \
            dbus-run-session -- bash "${BASH_SOURCE[1]}" "$BINARY"
    fi

    mkdir -p "$WORK/config" "$WORK/runtime" "$WORK/tmp" "$WORK/home"
    chmod 700 "$WORK/runtime"
    export XDG_CONFIG_HOME=$WORK/config XDG_RUNTIME_DIR=$WORK/runtime TMPDIR=$WORK/tmp
    export HOME=$WORK/home XDG_CACHE_HOME=$WORK/home/.cache XDG_DATA_HOME=$WORK/home/.local/share
    export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    unset WAYLAND_DISPLAY SESSION_MANAGER
    trap e2e_cleanup EXIT
    note "display $DISPLAY, work folder $WORK"
}

e2e_cleanup() {
    local status=$?
    if [ -n "$APP_PID" ] && kill -0 "$APP_PID" 2>/dev/null; then
        kill "$APP_PID" 2>/dev/null || true
        wait "$APP_PID" 2>/dev/null || true
    fi
    if [ "$status" -ne 0 ] && [ -n "$APP_LOG" ] && [ -s "$APP_LOG" ]; then
        echo "[$E2E_NAME] last lines of the program's output ($APP_LOG):" >&2
        tail -n 30 "$APP_LOG" >&2
    fi
    if [ -n "$PULSE_DIR" ]; then
        "$PULSE_SERVER_SCRIPT" stop "$PULSE_DIR" >/dev/null 2>&1 || true
    fi
    [ "$status" -eq 0 ] && note "passed"
    exit "$status"
}

# start_pulse MICS: a private PulseAudio server with MICS virtual microphones
# ("Test Microphone 1" ...), for this test's clients only.
start_pulse() {
    PULSE_DIR=$WORK/pulse
    local out
    out=$(timeout 60 "$PULSE_SERVER_SCRIPT" start "$PULSE_DIR" --mics "$1" --owner $$) ||
        fail "the private PulseAudio server did not start (see $PULSE_DIR/pulse.log)"
    local line
    while IFS= read -r line; do
        case $line in
        PULSE_SERVER=* | PULSE_CLIENTCONFIG=*) export "${line?}" ;;
        esac
    done <<<"$out"
    [ -n "${PULSE_SERVER:-}" ] || fail "pulse-server printed no PULSE_SERVER line: $out"
    note "PulseAudio at $PULSE_SERVER"
}

# point_pulse_nowhere: every client of this test finds no sound server at all.
point_pulse_nowhere() {
    mkdir -p "$WORK/no-server"
    echo "autospawn = no" >"$WORK/no-server/client.conf"
    export PULSE_SERVER=unix:$WORK/no-server/native PULSE_CLIENTCONFIG=$WORK/no-server/client.conf
}

# start_app LOGNAME: starts the program in the background.
start_app() {
    APP_LOG=$WORK/$1.log
    APP_STATUS=""
    "$BINARY" >"$APP_LOG" 2>&1 &
    APP_PID=$!
    note "started the program (PID $APP_PID, output in $APP_LOG)"
}

app_running() {
    [ -n "$APP_PID" ] && kill -0 "$APP_PID" 2>/dev/null
}

# wait_app_exit SECONDS: waits for the program to end and sets APP_STATUS.
wait_app_exit() {
    local deadline=$((SECONDS + $1))
    while app_running && [ "$SECONDS" -lt "$deadline" ]; do
        sleep 0.1
    done
    app_running && fail "the program was still running $1 s after it was asked to close"
    APP_STATUS=0
    wait "$APP_PID" || APP_STATUS=$?
    APP_PID=""
}

# visible_windows PATTERN: ids of the mapped windows whose title matches.
visible_windows() {
    timeout 5 xdotool search --onlyvisible --name "$1" 2>/dev/null || true
}

# wait_for_window PATTERN SECONDS: sets WINDOW_ID to the first visible window
# whose title matches; fails if the program ends first or the time runs out.
WINDOW_ID=""
wait_for_window() {
    local deadline=$((SECONDS + $2)) ids
    WINDOW_ID=""
    while [ "$SECONDS" -lt "$deadline" ]; do
        ids=$(visible_windows "$1")
        if [ -n "$ids" ]; then
            WINDOW_ID=$(head -n 1 <<<"$ids")
            return 0
        fi
        if ! app_running; then
            local status=0
            wait "$APP_PID" || status=$?
            APP_PID=""
            fail "expected a window titled /$1/; the program exited first with code $status"
        fi
        sleep 0.1
    done
    fail "expected a window titled /$1/ within $2 s; none appeared"
}

window_viewable() {
    timeout 5 xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# geometry WID: prints "X Y WIDTH HEIGHT" in root coordinates.
geometry() {
    local out
    out=$(timeout 5 xdotool getwindowgeometry --shell "$1") || fail "cannot read the geometry of window $1"
    local x y w h
    x=$(sed -n 's/^X=//p' <<<"$out")
    y=$(sed -n 's/^Y=//p' <<<"$out")
    w=$(sed -n 's/^WIDTH=//p' <<<"$out")
    h=$(sed -n 's/^HEIGHT=//p' <<<"$out")
    echo "$x $y $w $h"
}

# wait_for_geometry WID "X Y W H" SECONDS: true once the window stands there.
wait_for_geometry() {
    local deadline=$((SECONDS + $3))
    while [ "$SECONDS" -lt "$deadline" ]; do
        [ "$(geometry "$1")" = "$2" ] && return 0
        sleep 0.1
    done
    return 1
}

# request_close WID: asks the window to close the way a window manager's close
# button does, so the program's own close handling runs.
request_close() {
    timeout 10 "$PYTHON" "$E2E_DIR/x11_close.py" "$1" ||
        fail "could not send the close request to window $1"
}

# screenshot NAME [WID]: saves WORK/NAME.png (the whole screen without WID).
screenshot() {
    local file=$WORK/$1.png
    timeout 10 import -window "${2:-root}" "$file" 2>/dev/null || fail "screenshot $file failed"
    echo "$file"
}

convert_tool() {
    if [ -x /usr/bin/convert ]; then echo /usr/bin/convert; else echo convert; fi
}

# count_colour FILE GEOMETRY HEX: how many pixels of the area (WxH+X+Y) have the
# colour RRGGBB.
count_colour() {
    local n
    n=$(timeout 20 "$(convert_tool)" "$1" -crop "$2" +repage -alpha off -depth 8 txt:- 2>/dev/null |
        grep -ci "#$3\b" || true)
    echo "${n:-0}"
}

# atspi_dump FILE: the program's accessibility tree, one node a line:
# depth, role, name, sensitive|insensitive, showing|hidden (tab-separated).
atspi_dump() {
    timeout 30 "$PYTHON" "$E2E_DIR/atspi_dump.py" --pid "$APP_PID" --timeout 5 >"$1" 2>"$1.err" ||
        fail "the program did not appear on the accessibility bus: $(cat "$1.err")"
}

# atspi_nodes FILE ROLE: "name<TAB>sensitive<TAB>showing" of every node with ROLE.
atspi_nodes() {
    awk -F'\t' -v role="$2" '$2 == role { print $3 "\t" $4 "\t" $5 }' "$1"
}

# atspi_children FILE ROLE NAME CHILD-ROLE: names of the CHILD-ROLE nodes below the
# first showing node with ROLE and NAME (NAME empty: any name).
atspi_children() {
    awk -F'\t' -v role="$2" -v name="$3" -v child="$4" '
        inside && $1 <= depth { exit }
        inside && $2 == child { print $3 }
        !inside && $2 == role && (name == "" || $3 == name) && $5 == "showing" { inside = 1; depth = $1 }
    ' "$1"
}

# dismiss_messages_until_exit SECONDS: while the program runs, reads every message
# box it shows (title into MESSAGE_TITLES, the accessibility tree into
# WORK/message-N.atspi, a screenshot into WORK/message-N.png) and dismisses it the
# way a learner would: focus it and press Return. Fails if the main window
# appears or the program is still running after SECONDS. Sets APP_STATUS.
MESSAGE_TITLES=()
dismiss_messages_until_exit() {
    local deadline=$((SECONDS + $1)) ids id n title gone
    MESSAGE_TITLES=()
    while app_running; do
        [ "$SECONDS" -lt "$deadline" ] ||
            fail "the program was still running after $1 s; messages seen: ${MESSAGE_TITLES[*]:-none}"
        [ -z "$(visible_windows "$MAIN_TITLE")" ] ||
            fail "expected no main window; it was shown (after the messages: ${MESSAGE_TITLES[*]:-none})"
        ids=$(visible_windows '.')
        if [ -z "$ids" ]; then
            sleep 0.1
            continue
        fi
        id=$(head -n 1 <<<"$ids")
        n=$((${#MESSAGE_TITLES[@]} + 1))
        title=$(timeout 5 xdotool getwindowname "$id" 2>/dev/null || echo "?")
        MESSAGE_TITLES+=("$title")
        note "message $n: '$title' (window $id)"
        screenshot "message-$n" >/dev/null
        timeout 30 "$PYTHON" "$E2E_DIR/atspi_dump.py" --pid "$APP_PID" --timeout 5 \
            >"$WORK/message-$n.atspi" 2>/dev/null || true
        note "  text: $(message_text "$n")"
        gone=""
        for _ in 1 2 3; do
            timeout 5 xdotool windowfocus --sync "$id" 2>/dev/null || true
            timeout 5 xdotool key Return 2>/dev/null || true
            for _ in $(seq 30); do
                window_viewable "$id" || {
                    gone=yes
                    break
                }
                sleep 0.1
            done
            [ -z "$gone" ] || break
        done
        [ -n "$gone" ] || fail "message '$title' did not close on Return"
    done
    wait_app_exit 5
}

# message_text N: the texts of message N as the accessibility bus read them.
message_text() {
    awk -F'\t' '$2 == "label" && $3 != "" { print $3 }' "$WORK/message-$1.atspi" 2>/dev/null |
        paste -sd ' '
}

# expect_message N TITLE TEXT: message N had this title and its text contains TEXT.
expect_message() {
    local title=${MESSAGE_TITLES[$(($1 - 1))]:-}
    [ "$title" = "$2" ] || fail "message $1: expected the title '$2', saw '${title:-no message}'"
    message_text "$1" | grep -Fq -- "$3" ||
        fail "message $1: expected a text containing '$3', saw '$(message_text "$1")'"
    note "ok: message $1 '$2' says '$3'"
}

# ini_value FILE GROUP KEY: a value of an INI file written by QSettings.
ini_value() {
    awk -v group="[$2]" -v key="$3" '
        /^\[/ { in_group = ($0 == group); next }
        in_group && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }
    ' "$1"
}
