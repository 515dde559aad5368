#!/usr/bin/env bash
# The real program on a virtual display with two virtual microphones: the window
# opens centred at its default size, shows the empty oscillogram and the first
# status text, lists both microphones, saves its placement, volumes and device
# when closed, and comes back where it was left.
set -euo pipefail
# shellcheck source=tests/e2e/e2e_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"
e2e_enter startup "$@"

readonly STATUS_TEXT='Click the Open button to load an audio file or select a file from the "Recent Files" list above.'
readonly SCREEN_W=1280 SCREEN_H=1024 DEFAULT_W=700 DEFAULT_H=400
readonly BACKGROUND=D4D0C8 WHITE=FFFFFF CENTRE_LINE=00FF00 TIME_AXIS=0A6E78
readonly MOVED="100 150 800 500"

start_pulse 2

# --- first run: defaults -------------------------------------------------------
start_app first-run
wait_for_window "$MAIN_TITLE" 30
wid=$WINDOW_ID
note "main window $wid"

centred="$(((SCREEN_W - DEFAULT_W) / 2)) $(((SCREEN_H - DEFAULT_H) / 2)) $DEFAULT_W $DEFAULT_H"
wait_for_geometry "$wid" "$centred" 5 || true
expect_eq "window geometry (x y width height) without stored settings" "$centred" "$(geometry "$wid")"

shot=$(screenshot first-run "$wid")
note "screenshot $shot"
header=$(count_colour "$shot" "${DEFAULT_W}x1+0+4" "$BACKGROUND")
[ "$header" -ge $((DEFAULT_W * 8 / 10)) ] ||
    fail "header background: expected most of row 4 in #$BACKGROUND, saw $header of $DEFAULT_W pixels ($shot)"
note "ok: header row 4 has $header pixels of #$BACKGROUND"
# One column through the middle of the oscillogram area, between the header and
# the separator line: time axis strip, then the white field split by the centre line.
column="1x200+$((DEFAULT_W / 2))+42"
white=$(count_colour "$shot" "$column" "$WHITE")
green=$(count_colour "$shot" "$column" "$CENTRE_LINE")
teal=$(count_colour "$shot" "$column" "$TIME_AXIS")
[ "$white" -ge 60 ] || fail "waveform field: expected at least 60 white pixels in column $column, saw $white ($shot)"
[ "$green" -ge 1 ] || fail "waveform field: expected the centre line (#$CENTRE_LINE) in column $column, saw none ($shot)"
[ "$teal" -ge 10 ] || fail "time axis: expected its #$TIME_AXIS strip in column $column, saw $teal pixels ($shot)"
note "ok: oscillogram column has $white white, $green centre-line and $teal time-axis pixels"

tree=$WORK/first-run.atspi
atspi_dump "$tree"
atspi_nodes "$tree" label | cut -f1 | grep -Fxq -- "$STATUS_TEXT" ||
    fail "status text: expected '$STATUS_TEXT'; labels seen: $(atspi_nodes "$tree" label | cut -f1 | paste -sd '|')"
note "ok: status text shown"

button_state() {
    atspi_nodes "$tree" "push button" | awk -F'\t' -v name="$1" '$1 == name { print $2; exit }'
}
for button in Play Loop "Zoom in" "Zoom out"; do
    expect_eq "'$button' button" insensitive "$(button_state "$button")"
done
expect_eq "'Open' button" sensitive "$(button_state Open)"

shown_combos=$(atspi_nodes "$tree" "combo box" | awk -F'\t' '$3 == "showing"')
expect_eq "visible combo boxes (devices: 2, pins: 1)" 1 "$(grep -c . <<<"$shown_combos" || true)"
current_device=$(cut -f1 <<<"$shown_combos")
devices=$(atspi_children "$tree" "combo box" "$current_device" "list item" | sort | paste -sd '|')
expect_eq "input devices listed" "Test Microphone 1|Test Microphone 2" "$devices"

# Move and resize so the restored placement can't be mistaken for the default.
timeout 5 xdotool windowmove "$wid" 100 150
timeout 5 xdotool windowsize "$wid" 800 500
wait_for_geometry "$wid" "$MOVED" 5 ||
    fail "window did not take the new placement: expected '$MOVED', saw '$(geometry "$wid")'"

request_close "$wid"
wait_app_exit 20
expect_eq "exit code after closing the window" 0 "$APP_STATUS"

conf=$XDG_CONFIG_HOME/Sayalike/Level0.conf
[ -f "$conf" ] || fail "settings: expected $conf to be written on close; it does not exist"
note "settings written: $(paste -sd ' ' "$conf")"
expect_eq "stored Left" 100 "$(ini_value "$conf" General Left)"
expect_eq "stored Top" 150 "$(ini_value "$conf" General Top)"
expect_eq "stored Width" 800 "$(ini_value "$conf" General Width)"
expect_eq "stored Height" 500 "$(ini_value "$conf" General Height)"
expect_eq "stored SpkVolPos (untouched trackbar)" 50 "$(ini_value "$conf" General SpkVolPos)"
expect_eq "stored McVolPos (untouched trackbar)" 50 "$(ini_value "$conf" General McVolPos)"
expect_eq "stored InputDeviceName (the selected device)" "$current_device" \
    "$(ini_value "$conf" General InputDeviceName)"
expect_eq "stored InputPinName" Capture "$(ini_value "$conf" General InputPinName)"

leftovers=$(find "$TMPDIR" -maxdepth 1 -name 'PRR*' | paste -sd ' ')
expect_eq "temporary sound files left after exit" "" "$leftovers"

# --- second run: the placement comes back -------------------------------------
start_app second-run
wait_for_window "$MAIN_TITLE" 30
wid=$WINDOW_ID
wait_for_geometry "$wid" "$MOVED" 5 || true
expect_eq "window geometry restored from the settings" "$MOVED" "$(geometry "$wid")"
screenshot second-run "$wid" >/dev/null

request_close "$wid"
wait_app_exit 20
expect_eq "exit code of the second run" 0 "$APP_STATUS"
