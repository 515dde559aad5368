#!/usr/bin/env bash
# Training-cycle benchmark: the latencies a learner hears between the phases,
# and how far the playing cursor is from the sound actually played.
#
#   bash bench/cycle_bench.sh PATH-TO-sayalike PATH-TO-cursor_bench [CYCLES]
#
# Runs on a virtual display with a private session bus and a private
# PulseAudio server (one virtual microphone), like the end-to-end tests.
# cycle_bench.py explains each figure. Prints one line a figure; asserts no
# limits. SAYALIKE_BENCH_KEEP=1 keeps the work folder (recordings, logs).
set -euo pipefail

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PYTHON=/usr/bin/python3
BINARY=${1:?usage: cycle_bench.sh PATH-TO-sayalike PATH-TO-cursor_bench [CYCLES]}
CURSOR_BENCH=${2:?usage: cycle_bench.sh PATH-TO-sayalike PATH-TO-cursor_bench [CYCLES]}
CYCLES=${3:-5}
BINARY=$(cd "$(dirname "$BINARY")" && pwd)/$(basename "$BINARY")
CURSOR_BENCH=$(cd "$(dirname "$CURSOR_BENCH")" && pwd)/$(basename "$CURSOR_BENCH")

# The private session (session.sh) runs this script again inside it.
if [ -z "${SAYALIKE_BENCH_WORK:-}" ]; then
    exec bash "$BENCH_DIR/session.sh" bash "${BASH_SOURCE[0]}" "$BINARY" "$CURSOR_BENCH" "$CYCLES"
fi

WORK=$SAYALIKE_BENCH_WORK
APP_PID=""
cleanup() {
    if [ -n "$APP_PID" ] && kill -0 "$APP_PID" 2>/dev/null; then
        kill "$APP_PID" 2>/dev/null || true
        wait "$APP_PID" 2>/dev/null || true
    fi
}
trap cleanup EXIT

mkdir -p "$XDG_CONFIG_HOME/Sayalike"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

sounds=$WORK/sounds
timeout 120 "$PYTHON" "$BENCH_DIR/cycle_bench.py" sounds --sounds "$sounds" >/dev/null

# The cursor first, with nothing else playing.
timeout 120 "$PYTHON" "$BENCH_DIR/cycle_bench.py" cursor --sounds "$sounds" --work "$WORK" \
    --cursor-bench "$CURSOR_BENCH"

cat >"$XDG_CONFIG_HOME/Sayalike/Level0.conf" <<EOF
[General]
Left=40
Top=40
Width=1100
Height=520
SpkVolPos=100
McVolPos=100

[Files]
File0=$sounds/narrator.mp3
EOF
"$BINARY" >"$WORK/program.log" 2>&1 &
APP_PID=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^Sayalike v1\.3$' | head -n 1)
[ -n "$wid" ] || {
    echo "cycle_bench: the main window did not appear" >&2
    exit 1
}
timeout 600 "$PYTHON" "$BENCH_DIR/cycle_bench.py" cycles --pid "$APP_PID" --wid "$wid" \
    --sounds "$sounds" --work "$WORK" --cycles "$CYCLES"
timeout 10 "$PYTHON" "$BENCH_DIR/x11_close.py" "$wid" || true
for _ in $(seq 100); do
    kill -0 "$APP_PID" 2>/dev/null || break
    sleep 0.1
done
