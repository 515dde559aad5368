#!/usr/bin/env bash
# Runs a benchmark on a virtual display with a private session bus and a private
# PulseAudio server (one virtual microphone), so that its figures do not depend on
# the desktop it is started from.
#
#   bash bench/session.sh [--screen WxH] COMMAND [ARGS]...
#
# COMMAND finds its work folder in SAYALIKE_BENCH_WORK, and its configuration,
# runtime, temporary and home folders inside it; the folder is removed at the end
# unless SAYALIKE_BENCH_KEEP is set. Only COMMAND's own output reaches standard
# output.
set -euo pipefail

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PULSE_SERVER_SCRIPT=$BENCH_DIR/../tests/support/pulse-server

if [ -z "${SAYALIKE_BENCH_WORK:-}" ]; then
    SCREEN=1280x1024
    if [ "${1:-}" = --screen ]; then
        SCREEN=$2
        shift 2
    fi
    [ $# -gt 0 ] || {
        echo "usage: session.sh [--screen WxH] COMMAND [ARGS]..." >&2
        exit 2
    }
    SAYALIKE_BENCH_WORK=$(mktemp -d "${TMPDIR:-/tmp}/sayalike-bench.XXXXXX")
    export SAYALIKE_BENCH_WORK
    status=0
    # -noreset: between two runs no client is left, and a resetting server drops
    # the next connection. The accessibility registry, started by the bus, writes
    # a greeting to whatever output it inherits.
    xvfb-run -a -s "-screen 0 ${SCREEN}x24 -noreset" dbus-run-session -- \
        bash "${BASH_SOURCE[0]}" "$@" \
        > >(grep -v '^SpiRegistry' || true) \
        2> >(grep -v -e '^dbus-daemon' -e '^SpiRegistry' >&2) || status=$?
    if [ -n "${SAYALIKE_BENCH_KEEP:-}" ]; then
        echo "session.sh: files kept in $SAYALIKE_BENCH_WORK" >&2
    else
        rm -rf "$SAYALIKE_BENCH_WORK"
    fi
    exit "$status"
fi

WORK=$SAYALIKE_BENCH_WORK
PULSE_DIR=$WORK/pulse
trap '"$PULSE_SERVER_SCRIPT" stop "$PULSE_DIR" >/dev/null 2>&1 || true' EXIT

mkdir -p "$WORK/config" "$WORK/runtime" "$WORK/tmp" "$WORK/home"
chmod 700 "$WORK/runtime"
export XDG_CONFIG_HOME=$WORK/config XDG_RUNTIME_DIR=$WORK/runtime TMPDIR=$WORK/tmp HOME=$WORK/home
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY SESSION_MANAGER

out=$(timeout 60 "$PULSE_SERVER_SCRIPT" start "$PULSE_DIR" --mics 1 --owner $$)
while IFS= read -r line; do
    case $line in
    PULSE_SERVER=* | PULSE_CLIENTCONFIG=*) export "${line?}" ;;
    esac
done <<<"$out"

"$@"
