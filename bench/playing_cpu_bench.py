#!/usr/bin/python3
"""CPU the real program spends while the narrator plays, at the default zoom.

For each window size it starts the program on a generated narrator recording,
clicks Play until the program's stream plays on the sound server, then reads
the program's user and system time (/proc/PID/stat) over a stretch of playing.
Prints cpu_percent_while_playing_WxH (percent of one core), one line a size,
the best of the runs. Asserts nothing. Run it inside bench/session.sh.

SAYALIKE_BENCH_PERF=FILE records a call-graph profile of the measured stretch
of the last run into FILE.WxH (perf record; SAYALIKE_BENCH_PERF_GRAPH=dwarf
unwinds through libraries built without frame pointers).
"""
import argparse
import os
import subprocess
import sys
import time

# No compiled copies of the helpers in the source tree.
sys.dont_write_bytecode = True
from cycle_lib import Failure, Layout, click, run_tool, window_size  # noqa: E402

TITLE = "^Sayalike v1\\.3$"
NARRATOR_SECONDS = 60


def make_narrator(path):
    """Noise shaped like phrases and pauses: a waveform that changes on every
    column, as speech does."""
    run_tool(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", path, "synth",
              str(NARRATOR_SECONDS), "pinknoise", "tremolo", "0.7", "90", "vol", "0.5"])


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        # The command name may hold spaces; the fields after it do not.
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def playing(pid):
    """Whether a stream of the process plays (is not corked) on the server."""
    out = subprocess.run(["pactl", "list", "sink-inputs"], check=True, timeout=10,
                         stdout=subprocess.PIPE, text=True).stdout
    for block in out.split("Sink Input #")[1:]:
        if 'application.process.id = "%d"' % pid in block and "Corked: no" in block:
            return True
    return False


def start_playing(pid, wid, size, timeout=60.0):
    """Clicks Play until the narrator plays: the button is enabled only once the
    file has loaded."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        click(wid, *Layout(*size).play)
        for _ in range(20):
            time.sleep(0.05)
            if playing(pid):
                return
    raise Failure("the narrator did not start playing within %.0f s" % timeout)


def one_run(binary, narrator, size, seconds, log, perf):
    width, height = size
    config = os.path.join(os.environ["XDG_CONFIG_HOME"], "Sayalike")
    os.makedirs(config, exist_ok=True)
    with open(os.path.join(config, "Level0.conf"), "w") as f:
        f.write("[General]\nLeft=0\nTop=0\nWidth=%d\nHeight=%d\nSpkVolPos=100\nMcVolPos=100\n" %
                (width, height))
    process = subprocess.Popen([binary, narrator], stdout=log, stderr=log,
                               stdin=subprocess.DEVNULL)
    try:
        out = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", TITLE],
                             timeout=30, stdout=subprocess.PIPE, text=True).stdout.split()
        if not out:
            raise Failure("the main window did not appear")
        wid = out[0]
        if window_size(wid) != size:
            raise Failure("the window is %dx%d, not %dx%d" % (window_size(wid) + size))
        start_playing(process.pid, wid, size)
        time.sleep(1.0)  # past the start of playback
        before, started = cpu_seconds(process.pid), time.monotonic()
        if perf:
            graph = os.environ.get("SAYALIKE_BENCH_PERF_GRAPH", "fp")
            subprocess.run(["perf", "record", "-q", "--call-graph", graph, "-F", "997",
                            "-p", str(process.pid), "-o", perf, "--", "sleep", str(seconds)],
                           check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        else:
            time.sleep(seconds)
        spent, elapsed = cpu_seconds(process.pid) - before, time.monotonic() - started
        if not playing(process.pid):
            raise Failure("the narrator stopped before the measurement ended")
        return 100.0 * spent / elapsed
    finally:
        process.kill()
        process.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("--size", action="append", default=[], help="WxH, repeatable")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--seconds", type=float, default=6.0)
    args = parser.parse_args()
    sizes = [tuple(int(v) for v in s.split("x")) for s in args.size or ["900x620", "1920x1080"]]
    work = os.environ["SAYALIKE_BENCH_WORK"]
    narrator = os.path.join(work, "narrator.wav")
    make_narrator(narrator)
    perf = os.environ.get("SAYALIKE_BENCH_PERF")
    with open(os.path.join(work, "program.log"), "ab") as log:
        for size in sizes:
            name = "%dx%d" % size
            runs = [one_run(args.binary, narrator, size, args.seconds, log,
                            perf + "." + name if perf and i == args.runs - 1 else None)
                    for i in range(args.runs)]
            print("cpu_percent_while_playing_%s=%.1f" % (name, min(runs)), flush=True)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Failure as failure:
        print("playing_cpu_bench: %s" % failure, file=sys.stderr)
        sys.exit(1)
