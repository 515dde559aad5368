#!/usr/bin/env bash
# A learner's session in the real program: the window where the settings put it
# and the first status; the narrator's file opened from the recent list; its
# middle phrase selected and trained by Loop for two full cycles while the
# learner answers into the stored microphone, checked by ear; Pause in each
# phase; closing saves the placement, volumes, device and recent files, and the
# next start comes back where it was left.
exec /usr/bin/python3 "$(dirname "$0")/e2e.py" session "$@"
