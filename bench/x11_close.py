#!/usr/bin/python3
"""Asks a top-level X11 window to close, as a window manager's close button does.

Sends the WM_PROTOCOLS/WM_DELETE_WINDOW client message to the window. Qt turns
it into a close request (closeEvent), so the program can save its settings or
refuse. `xdotool windowclose` would destroy the window instead, and without a
window manager nobody answers _NET_CLOSE_WINDOW.
"""
import sys

from Xlib import X, display, protocol


def main():
    if len(sys.argv) != 2:
        print("usage: x11_close.py WINDOW-ID", file=sys.stderr)
        return 2
    disp = display.Display()
    window = disp.create_resource_object("window", int(sys.argv[1], 0))
    wm_protocols = disp.intern_atom("WM_PROTOCOLS")
    wm_delete = disp.intern_atom("WM_DELETE_WINDOW")
    supported = window.get_wm_protocols() or []
    if wm_delete not in supported:
        print("x11_close: window %s does not take WM_DELETE_WINDOW" % sys.argv[1], file=sys.stderr)
        return 1
    event = protocol.event.ClientMessage(
        window=window, client_type=wm_protocols,
        data=(32, [wm_delete, X.CurrentTime, 0, 0, 0]))
    window.send_event(event, event_mask=X.NoEventMask)
    # A round trip, not just a flush: closing the connection right after writing
    # the request can lose it before the server has read it.
    disp.sync()
    disp.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
