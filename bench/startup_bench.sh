#!/usr/bin/env bash
# Start-up benchmark: launch to visible main window, peak memory, close to exit.
#
#   bash bench/startup_bench.sh PATH-TO-sayalike [RUNS]
#
# Runs the program in session.sh's private session (a virtual display, a private
# session bus and PulseAudio server), so the figures do not depend on the desktop
# it is started from. Prints one line a figure; asserts no limits.
set -euo pipefail

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BINARY=${1:?usage: startup_bench.sh PATH-TO-sayalike [RUNS]}
RUNS=${2:-5}
BINARY=$(cd "$(dirname "$BINARY")" && pwd)/$(basename "$BINARY")
unset QT_LINUX_ACCESSIBILITY_ALWAYS_ON

# shellcheck disable=SC2016 # expanded inside the session
exec bash "$BENCH_DIR/session.sh" bash -c \
    'exec timeout 600 /usr/bin/python3 "$1" "$2" --runs "$3" --log "$SAYALIKE_BENCH_WORK/program.log"' \
    _ "$BENCH_DIR/startup_bench.py" "$BINARY" "$RUNS"
