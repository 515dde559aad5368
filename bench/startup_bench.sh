#!/usr/bin/env bash
# Start-up benchmark: launch to visible main window, peak memory, close to exit.
#
#   bash bench/startup_bench.sh PATH-TO-sayalike [RUNS]
#
# Runs the program on a virtual display with a private session bus and a private
# PulseAudio server (one virtual microphone), so the figures do not depend on the
# desktop it is started from. Prints one line a figure; asserts no limits.
set -euo pipefail

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PULSE_SERVER_SCRIPT=$BENCH_DIR/../tests/support/pulse-server
BINARY=${1:?usage: startup_bench.sh PATH-TO-sayalike [RUNS]}
RUNS=${2:-5}
BINARY=$(cd "$(dirname "$BINARY")" && pwd)/$(basename "$BINARY")

if [ -z "${SAYALIKE_BENCH_INSIDE:-}" ]; then
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/sayalike-bench.XXXXXX")
    export SAYALIKE_BENCH_INSIDE=$WORK
    status=0
    # -noreset: between two runs no client is left, and a resetting server drops
    # the next connection.
    xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" dbus-run-session -- \
        bash "${BASH_SOURCE[0]}" "$BINARY" "$RUNS" 2> >(grep -v '^dbus-daemon' >&2) || status=$?
    rm -rf "$WORK"
    exit "$status"
fi

WORK=$SAYALIKE_BENCH_INSIDE
PULSE_DIR=$WORK/pulse
trap '"$PULSE_SERVER_SCRIPT" stop "$PULSE_DIR" >/dev/null 2>&1 || true' EXIT

mkdir -p "$WORK/config" "$WORK/runtime" "$WORK/tmp" "$WORK/home"
chmod 700 "$WORK/runtime"
export XDG_CONFIG_HOME=$WORK/config XDG_RUNTIME_DIR=$WORK/runtime TMPDIR=$WORK/tmp HOME=$WORK/home
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY QT_LINUX_ACCESSIBILITY_ALWAYS_ON

out=$(timeout 60 "$PULSE_SERVER_SCRIPT" start "$PULSE_DIR" --mics 1 --owner $$)
while IFS= read -r line; do
    case $line in
    PULSE_SERVER=* | PULSE_CLIENTCONFIG=*) export "${line?}" ;;
    esac
done <<<"$out"

timeout 600 /usr/bin/python3 "$BENCH_DIR/startup_bench.py" "$BINARY" --runs "$RUNS" --log "$WORK/program.log"
