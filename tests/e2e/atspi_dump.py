#!/usr/bin/python3
"""Prints the accessibility tree of one running program, one node a line.

Each line holds, separated by tabs: depth, role, name, "sensitive" or
"insensitive", "showing" or "hidden". Tabs and line breaks inside a name are
written as \\t and \\n, so every node stays on one line.

The program shows up on the accessibility bus a moment after it starts, so
the lookup is retried until --timeout seconds have passed.
"""
import argparse
import sys
import time

import pyatspi


def find_application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        try:
            app = desktop.getChildAtIndex(index)
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:  # an application may leave the bus while we look
            continue
    return None


def escape(text):
    return (text or "").replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def walk(node, depth, out, limit=2000):
    if node is None or len(out) >= limit:
        return
    states = node.getState()
    sensitive = states.contains(pyatspi.STATE_SENSITIVE)
    showing = states.contains(pyatspi.STATE_SHOWING)
    out.append("%d\t%s\t%s\t%s\t%s" % (
        depth, node.getRoleName(), escape(node.name),
        "sensitive" if sensitive else "insensitive",
        "showing" if showing else "hidden"))
    for index in range(node.childCount):
        try:
            walk(node.getChildAtIndex(index), depth + 1, out, limit)
        except Exception:
            continue


def has_window(app):
    return app is not None and app.childCount > 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--timeout", type=float, default=5.0)
    args = parser.parse_args()

    deadline = time.monotonic() + args.timeout
    while True:
        app = find_application(args.pid)
        if has_window(app):
            break
        if time.monotonic() >= deadline:
            print("atspi_dump: no application with pid %d on the accessibility bus "
                  "after %.1f s" % (args.pid, args.timeout), file=sys.stderr)
            return 1
        time.sleep(0.2)

    lines = []
    walk(app, 0, lines)
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
