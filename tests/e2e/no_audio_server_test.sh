#!/usr/bin/env bash
# The real program with no sound server at all: listing the capture devices
# fails, the failure is reported (with the system's reason), the main window is
# never shown, nothing is saved and the program exits with code 0 once the
# messages are dismissed.
set -euo pipefail
# shellcheck source=tests/e2e/e2e_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e_lib.sh"
e2e_enter no_audio_server "$@"

point_pulse_nowhere
start_app run
dismiss_messages_until_exit 60

expect_eq "exit code" 0 "$APP_STATUS"
expect_eq "number of messages" 3 "${#MESSAGE_TITLES[@]}"
expect_message 1 Error "CreateClassEnumerator"
expect_message 2 Error "m_MonikerList.EnumFilters()"
expect_message 3 Error "EnumInputDevices()"

[ ! -e "$XDG_CONFIG_HOME/Sayalike/Level0.conf" ] ||
    fail "settings: expected nothing saved when the window never opened; found $XDG_CONFIG_HOME/Sayalike/Level0.conf"
leftovers=$(find "$TMPDIR" -maxdepth 1 -name 'PRR*' | paste -sd ' ')
expect_eq "temporary sound files left after exit" "" "$leftovers"
