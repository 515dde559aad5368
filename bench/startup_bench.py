#!/usr/bin/python3
"""Start-up figures of the program on the current X display.

Starts the program RUNS times; each time it measures the time from launch to
the map of the main window (watched as X events, not polled), the program's
peak resident memory at that point, and the time from a close request to the
end of the process. Prints one line a figure. Asserts nothing.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

from Xlib import X, display, error, protocol

TITLE = "Sayalike v1.3"


def window_title(window):
    try:
        name = window.get_wm_name()
        if isinstance(name, bytes):
            name = name.decode("utf-8", "replace")
        return name
    except error.XError:
        return None


def wait_for_main_window(disp, deadline):
    """Returns the main window once a MapNotify shows it, or None at the deadline."""
    while time.monotonic() < deadline:
        while disp.pending_events():
            event = disp.next_event()
            if event.type == X.MapNotify and window_title(event.window) == TITLE:
                return event.window
        time.sleep(0.001)
    return None


def peak_rss_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def request_close(disp, window):
    protocols = disp.intern_atom("WM_PROTOCOLS")
    delete = disp.intern_atom("WM_DELETE_WINDOW")
    event = protocol.event.ClientMessage(
        window=window, client_type=protocols, data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    window.send_event(event, event_mask=X.NoEventMask)
    disp.sync()


def wait_exit(process, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process.poll() is not None:
            return True
        time.sleep(0.001)
    return False


def one_run(binary, log):
    disp = display.Display()
    disp.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)
    disp.sync()
    started = time.monotonic()
    process = subprocess.Popen([binary], stdout=log, stderr=log, stdin=subprocess.DEVNULL)
    try:
        window = wait_for_main_window(disp, started + 60)
        mapped = time.monotonic()
        if window is None:
            raise RuntimeError("no main window within 60 s")
        rss = peak_rss_kib(process.pid)
        time.sleep(0.5)  # let the first paint settle before closing
        closing = time.monotonic()
        request_close(disp, window)
        if not wait_exit(process, 30):
            raise RuntimeError("the program did not end within 30 s of the close request")
        ended = time.monotonic()
        return (mapped - started) * 1000.0, rss, (ended - closing) * 1000.0, process.returncode
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
        disp.close()


def summary(name, values, unit):
    values = [v for v in values if v is not None]
    if not values:
        print("%s unavailable" % name)
        return
    print("%s_%s median=%.1f min=%.1f max=%.1f runs=%d" % (
        name, unit, statistics.median(values), min(values), max(values), len(values)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--log", default=os.devnull)
    args = parser.parse_args()

    startup, rss, shutdown = [], [], []
    with open(args.log, "ab") as log:
        for _ in range(args.runs):
            to_window, peak, to_exit, code = one_run(args.binary, log)
            if code != 0:
                print("startup_bench: the program exited with code %d" % code, file=sys.stderr)
            startup.append(to_window)
            rss.append(peak)
            shutdown.append(to_exit)
    summary("startup_to_window", startup, "ms")
    summary("peak_rss_at_window", rss, "kib")
    summary("close_to_exit", shutdown, "ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
