#!/usr/bin/env bash
# The training cycle in the real program, checked by ear: a narrator MP3 opened
# from the recent list, its middle phrase selected with the mouse, Loop pressed,
# and two full cycles recorded from the default output while a second voice
# answers into the virtual microphone each time the Say phase begins; then Pause
# in each of the four phases. monitor_phases.py drives the window and analyses
# the recording; its timeline is kept in the work folder (timeline.txt).
set -euo pipefail
# shellcheck source=tests/e2e/e2e_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"
e2e_enter training "$@"

# Wide enough to show the first two phrases at the zoom a load starts with.
readonly LEFT=40 TOP=40 WIDTH=1100 HEIGHT=520

for tool in espeak-ng sox lame gst-launch-1.0 parec paplay; do
    command -v "$tool" >/dev/null || fail "'$tool' is missing (run scripts/bootstrap)"
done
"$PYTHON" -c 'import numpy' 2>/dev/null || fail "python3-numpy is missing (run scripts/bootstrap)"

sounds=$WORK/sounds
"$PYTHON" "$E2E_DIR/cycle_lib.py" sounds "$sounds" >"$WORK/sounds.log" 2>&1 ||
    fail "could not make the narrator and learner sounds: $(cat "$WORK/sounds.log")"
note "sounds: $(cat "$WORK/sounds.log")"

start_pulse 1

# The narrator file waits in the recent list; both volumes at full so the
# recording is far above the silence between phases.
mkdir -p "$XDG_CONFIG_HOME/Sayalike"
cat >"$XDG_CONFIG_HOME/Sayalike/Level0.conf" <<EOF
[General]
Left=$LEFT
Top=$TOP
Width=$WIDTH
Height=$HEIGHT
SpkVolPos=100
McVolPos=100

[Files]
File0=$sounds/narrator.mp3
EOF

start_app training
wait_for_window "$MAIN_TITLE" 30
wid=$WINDOW_ID
wait_for_geometry "$wid" "$LEFT $TOP $WIDTH $HEIGHT" 5 ||
    fail "window placement: expected '$LEFT $TOP $WIDTH $HEIGHT', saw '$(geometry "$wid")'"

timeout 150 "$PYTHON" "$E2E_DIR/monitor_phases.py" --pid "$APP_PID" --wid "$wid" \
    --sounds "$sounds" --work "$WORK" || fail "the training cycle (see above; files in $WORK)"
app_running || fail "the program ended during the training cycle"

request_close "$wid"
wait_app_exit 20
expect_eq "exit code after closing the window" 0 "$APP_STATUS"
leftovers=$(find "$TMPDIR" -maxdepth 1 -name 'PRR*' | paste -sd ' ')
expect_eq "temporary sound files left after exit" "" "$leftovers"
