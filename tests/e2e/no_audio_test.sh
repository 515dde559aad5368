#!/usr/bin/env bash
# Start-up without a sound server, and with a server that has no microphone:
# the learner is told why in message boxes, no window opens, nothing is saved
# and the program exits with code 0.
exec /usr/bin/python3 "$(dirname "$0")/e2e.py" no_audio "$@"
