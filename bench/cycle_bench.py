#!/usr/bin/python3
"""Figures of the training cycle, measured by ear (run by cycle_bench.sh).

  cycle_bench.py sounds --sounds DIR
  cycle_bench.py cursor --sounds DIR --work DIR --cursor-bench PATH
  cycle_bench.py cycles --pid PID --wid WINDOW --sounds DIR --work DIR [--cycles N]

Every figure is printed as one line, "NAME median=.. min=.. max=.. n=..".
Time stamps of the two recordings (the default output's monitor and the
microphone) are turned into one time base by cycle_lib.Recorder: both sources
run continuously at the pace of the clock, so a frame's recording time is
the stream's start plus its index over the rate.

Figures of the cycle (over N cycles of the real program):

cycle_phrase_end_to_capture_ms: from the end of the selected span as heard on
  the output to the moment the capture graph delivers its first sample. A
  learner cannot be recorded before then. Measured with sound alone: while the
  narrator plays, a marker (noise of a fixed seed, 2.6 s) is spoken into the
  microphone, so the capture's very first half-second buffer is loud and the
  learner's take begins with the capture's first sample. The take is played
  back in the comparison; its beginning, located in the recording of the
  microphone, says when the capture started.
cycle_say_status_after_phrase_end_ms: from the end of the span to the moment
  the accessibility bus first shows the Say status. The entry action sets the
  text and then starts the capture on the UI thread, which also answers the
  bus, so the text is seen once the capture graph reports running (plus one
  10 ms poll); its first sample can come a few milliseconds later still.
cycle_voice_end_to_replay_ms: from the last loud sample spoken into the
  microphone to the start of the narrator's replay on the output. Voice
  detection works on half-second buffers and waits for the second quiet one
  after the last loud one, so up to 1.5 s are expected by design (a buffer
  with only a few loud milliseconds counts as quiet); the marker is fed a
  little later each cycle to end at different points of a buffer.
cycle_replay_end_to_take_ms: from the end of the replayed span to the first
  sound of the learner's take.
cycle_take_length_ms, cycle_take_length_off_whole_buffers_ms: the take as
  played back, quiet parts included (the microphone hears a faint room tone,
  far below the voice test's threshold), and how far that is from a whole
  number of half-second buffers: nothing of the recording is lost or doubled.

Figures of the cursor (cursor_bench playing a 30 s file from its start, the
cursor logged every 10 ms as the window's timer updates it):

cursor_error_*_ms: the cursor's sample minus the sample being heard at the same
  moment, found by cross-correlating half-second points of the output's
  recording with the file. Positive: the cursor is ahead of the sound. The
  mean includes the output's own buffering (a null sink's ~20 ms); the spread
  and the drift over 30 s are the clock's.
"""
import argparse
import json
import os
import subprocess
import sys
import time

import numpy as np

# No compiled copies of the helpers in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cycle_lib as cl  # noqa: E402
import monitor_phases as mp  # noqa: E402

LONG_TEXT = (
    "Once upon a time there was a little village at the foot of a green hill. "
    "Every morning the baker opened his shop before the sun came up, and the smell of "
    "fresh bread drifted along the narrow streets. Children ran to school with warm rolls "
    "in their pockets, while their parents hurried to the fields. In the evening the old "
    "men sat on a bench by the fountain and talked about the weather, the harvest and the "
    "price of wool. Nobody in the village had ever seen the sea, but everyone had heard "
    "stories about it from travellers who passed through on their way to the city.")
LONG_SECONDS = 30.0
MARKER_SECONDS = 2.6


def figure(name, values, unit_format="%.1f"):
    values = [v for v in values if v is not None and np.isfinite(v)]
    if not values:
        print("%s unavailable" % name, flush=True)
        return
    print(("%s median=" + unit_format + " min=" + unit_format + " max=" + unit_format +
           " n=%d") % (name, float(np.median(values)), min(values), max(values), len(values)),
          flush=True)


# --- sounds ----------------------------------------------------------------------

def make_marker(path):
    cl.write_wav(path, cl.low_noise(MARKER_SECONDS, 5000, 20240607), cl.MIC_RATE)


def make_long_narrator(folder):
    speech = os.path.join(folder, "long-speech.wav")
    cl.run_tool(["espeak-ng", "-v", "en-us", "-s", "150", "-w", speech, LONG_TEXT])
    wav = os.path.join(folder, "long.wav")
    cl.run_tool(["sox", speech, "-r", str(cl.RATE), "-c", "2", wav, "pad", "0", "3"])
    mp3 = os.path.join(folder, "long.mp3")
    cl.run_tool(["lame", "--quiet", "-b", "128", wav, mp3])
    cl.decode_like_the_program(mp3, os.path.join(folder, "long-ref.wav"))


def cmd_sounds(args):
    cl.make_sounds(args.sounds)
    make_marker(os.path.join(args.sounds, "marker.wav"))
    make_long_narrator(args.sounds)


# --- the cursor ------------------------------------------------------------------

def heard_positions(monitor, reference, start_frame):
    """(monitor frame, file sample heard then) every half second of the file,
    from start_frame, the monitor frame where the file's first sample was
    heard. Silent points are left out."""
    points = []
    half = int(0.1 * cl.RATE)
    search = int(0.4 * cl.RATE)
    loud = 0.05 * np.sqrt(np.mean(reference ** 2))
    for p in range(int(0.5 * cl.RATE), len(reference) - int(0.5 * cl.RATE), int(0.5 * cl.RATE)):
        frame = start_frame + p
        snippet = monitor[frame - half:frame + half]
        if len(snippet) < 2 * half or np.sqrt(np.mean(snippet ** 2)) < loud:
            continue
        low = max(p - half - search, 0)
        offset, score = cl.best_match(reference[low:p + half + search], snippet)
        if score < 0.8:
            continue
        points.append((frame, low + offset + half))
    return points


def cmd_cursor(args):
    log = os.path.join(args.work, "cursor.log")
    monitor = cl.Recorder("test_sink.monitor", cl.RATE)
    monitor.wait_started()
    result = subprocess.run([args.cursor_bench, os.path.join(args.sounds, "long.mp3"),
                             str(LONG_SECONDS), log], timeout=LONG_SECONDS + 60,
                            stderr=subprocess.PIPE, text=True, check=False)
    time.sleep(0.3)
    data = monitor.stop()
    if result.returncode != 0:
        print("cursor_error unavailable (cursor_bench: %s)" % result.stderr.strip(), flush=True)
        return
    with open(log) as f:
        header = f.readline().split()
        ticks = [line.split() for line in f if line.strip()]
    rate = int(header[1])
    # The cursor is the clock's share of the reported duration applied to the
    # decoded samples; where the two lengths differ the cursor drifts.
    figure("file_duration_minus_decoded_ms",
           [int(header[3]) / 1e4 - int(header[2]) * 1000 / rate], "%.1f")
    times = np.array([int(t) * 1e-9 for t, _, _ in ticks])
    cursor = np.array([int(s) for _, s, _ in ticks], dtype=np.float64)

    reference, _ = cl.read_wav(os.path.join(args.sounds, "long-ref.wav"))
    # Where the file's first second of speech was heard fixes the start.
    first = cl.loud_spans(reference, cl.RATE)[0][0]
    template = reference[first:first + cl.RATE]
    at, score = cl.best_match(data, template)
    if score < 0.9:
        print("cursor_error unavailable (the file was not found on the output, score %.2f)" %
              score, flush=True)
        return
    points = heard_positions(data, reference, at - first)
    frames = np.array([p[0] for p in points], dtype=np.float64)
    heard = np.array([p[1] for p in points], dtype=np.float64)
    monitor_frames = np.array([monitor.frame_at(t) for t in times], dtype=np.float64)
    inside = (monitor_frames >= frames[0]) & (monitor_frames <= frames[-1])
    error_ms = (cursor[inside] - np.interp(monitor_frames[inside], frames, heard)) * 1000 / rate
    figure("cursor_error_mean_ms", [float(np.mean(error_ms))])
    figure("cursor_error_sd_ms", [float(np.std(error_ms))], "%.2f")
    figure("cursor_error_abs_max_ms", [float(np.max(np.abs(error_ms)))])
    span = times[inside][-1] - times[inside][0]
    slope = np.polyfit(times[inside] - times[inside][0], error_ms, 1)[0]
    figure("cursor_error_drift_ms_per_30s", [float(slope * 30)], "%.2f")
    figure("cursor_points_compared", [float(len(error_ms))], "%.0f")
    # How fast each runs against the system's clock: the sound heard (a
    # virtual sink keeps its own pace) and the cursor.
    heard_speed = np.polyfit([monitor.time_of(f) for f in frames], heard, 1)[0]
    figure("heard_speed_ppm", [float((heard_speed / rate - 1) * 1e6)], "%.0f")
    cursor_speed = np.polyfit(times[inside], cursor[inside], 1)[0]
    figure("cursor_speed_ppm", [float((cursor_speed / rate - 1) * 1e6)], "%.0f")
    with open(os.path.join(args.work, "cursor.json"), "w") as f:
        json.dump({"span_seconds": span, "error_ms": error_ms.tolist()}, f)


# --- the cycle -------------------------------------------------------------------

def upsample(signal, rate):
    """signal at rate, linearly interpolated to cl.RATE (the marker has nothing
    above 2 kHz, where linear interpolation is faithful)."""
    n = int(len(signal) * cl.RATE / rate)
    return np.interp(np.arange(n) * rate / cl.RATE, np.arange(len(signal)), signal)


class Bench(mp.Run):
    def note(self, text):
        # Standard output is for the figures.
        print("[cycle_bench] %s" % text, file=sys.stderr, flush=True)

    def run_cycles(self, cycles):
        self.marker_wav = os.path.join(self.args.sounds, "marker.wav")
        self.open_recent_file()
        self.select_phrase()
        self.start_recording()
        room = subprocess.Popen(["paplay", "-d", "mic_feed1",
                                 os.path.join(self.args.sounds, "room.wav")])
        self.press_loop("Loop pressed")
        self.cycle_times = []
        for k in range(1, cycles + 1):
            listen = self.wait_status(cl.LISTEN_TEXT, 30, "cycle %d: status Listen" % k)
            # Each cycle ends the marker at another point of a half-second
            # capture buffer, so the voice figure covers the buffer's phases.
            time.sleep(0.1 * ((k - 1) % 5))
            fed = time.monotonic()
            self.feeds.append(subprocess.Popen(["paplay", "-d", "mic_feed1", self.marker_wav]))
            say = self.wait_status(cl.SAY_TEXT, 30, "cycle %d: status Say" % k)
            compare = self.wait_status(cl.COMPARE_TEXT, 30, "cycle %d: status Compare" % k)
            self.cycle_times.append((listen, fed, say, compare))
        self.last_listen = self.wait_status(cl.LISTEN_TEXT, 30,
                                            "cycle %d: status Listen" % (cycles + 1))
        self.press_loop("Pause")
        self.wait_status(cl.LOOP_TEXT, 10, "status Loop")
        room.terminate()
        room.wait()
        self.stop_recording()

    def measure(self):
        n = len(self.template)
        narrator = cl.find_occurrences(self.monitor_data, self.template, mp.NARRATOR_SCORE)
        mic = self.mic_data
        mic44 = upsample(mic, cl.MIC_RATE)
        marker, _ = cl.read_wav(self.marker_wav)
        marker_level = np.sqrt(np.mean(marker ** 2))
        cycles = []
        ends = [c[0] for c in self.cycle_times[1:]] + [self.last_listen]
        for (listen, fed, say, compare), next_listen in zip(self.cycle_times, ends):
            mine = [p for p, _ in narrator
                    if listen - 0.5 <= self.monitor.time_of(p) <= next_listen]
            if len(mine) < 2:
                continue
            l_at, r_at = mine[0], mine[1]
            phrase_end = self.monitor.time_of(l_at + n)
            replay = self.monitor.time_of(r_at)
            cycle = {"phrase_end": phrase_end, "replay": replay,
                     "status": (say - phrase_end) * 1000}
            capture = self.capture_start(r_at + n, phrase_end, mic44, marker_level)
            if capture is not None:
                cycle["capture_start"] = capture
                cycle["capture"] = (capture - phrase_end) * 1000
            first = max(self.mic.frame_at(fed), 0)
            window = mic[first:first + int((MARKER_SECONDS + 1.0) * cl.MIC_RATE)]
            loud = np.flatnonzero(np.abs(window) > 0.05 * marker_level)
            if len(loud):
                voice_end = self.mic.time_of(first + loud[-1])
                cycle["voice_end"] = voice_end
                cycle["voice"] = (replay - voice_end) * 1000
            take = self.first_loud_sample(r_at + n, marker_level)
            if take is not None:
                cycle["take"] = (take - (r_at + n)) * 1000 / cl.RATE
            # The whole take, quiet parts included (the room tone), up to the
            # next cycle's span.
            following = mine[2:] + [self.monitor.frame_at(next_listen)]
            region = self.monitor_data[r_at + n:min(following)]
            sound = np.flatnonzero(np.abs(region) > 2)
            if len(sound):
                length = (sound[-1] + 1 - sound[0]) / cl.RATE
                cycle["take_length"] = length * 1000
                cycle["take_length_off_buffers"] = (length - 0.5 * round(length / 0.5)) * 1000
            cycles.append(cycle)
        with open(os.path.join(self.work, "cycles.json"), "w") as f:
            json.dump(cycles, f, indent=1)

        def values(key):
            return [c[key] for c in cycles if key in c]

        figure("cycle_phrase_end_to_capture_ms", values("capture"))
        figure("cycle_say_status_after_phrase_end_ms", values("status"))
        figure("cycle_voice_end_to_replay_ms", values("voice"))
        figure("cycle_replay_end_to_take_ms", values("take"))
        figure("cycle_take_length_ms", values("take_length"))
        figure("cycle_take_length_off_whole_buffers_ms", values("take_length_off_buffers"))

    def first_loud_sample(self, since, level, within=2.0):
        region = self.monitor_data[since:since + int(within * cl.RATE)]
        loud = np.flatnonzero(np.abs(region) > 0.05 * level)
        return since + int(loud[0]) if len(loud) else None

    def capture_start(self, replay_end, phrase_end, mic44, level):
        """When the capture's first sample was spoken into the microphone: the
        learner's take begins with it, so its start is looked up in the
        microphone's recording."""
        take = self.first_loud_sample(replay_end, level)
        if take is None:
            return None
        lead = int(0.05 * cl.RATE)
        snippet = self.monitor_data[take + lead:take + lead + int(0.3 * cl.RATE)]
        # Search the microphone around the phrase's end only: the marker repeats
        # every cycle.
        to_mic = cl.MIC_RATE / cl.RATE
        centre = int(self.mic.frame_at(phrase_end) / to_mic)
        low = max(centre - int(1.5 * cl.RATE), 0)
        at, score = cl.best_match(mic44[low:centre + int(1.5 * cl.RATE)], snippet)
        if score < 0.8:
            return None
        return self.mic.time_of((low + at - lead) * to_mic)


def cmd_cycles(args):
    bench = Bench(args)
    bench.run_cycles(args.cycles)
    bench.measure()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=("sounds", "cursor", "cycles"))
    parser.add_argument("--sounds", required=True)
    parser.add_argument("--work")
    parser.add_argument("--cursor-bench")
    parser.add_argument("--pid", type=int)
    parser.add_argument("--wid")
    parser.add_argument("--cycles", type=int, default=5)
    args = parser.parse_args()
    {"sounds": cmd_sounds, "cursor": cmd_cursor, "cycles": cmd_cycles}[args.command](args)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except cl.Failure as failure:
        print("cycle_bench: %s" % failure, file=sys.stderr)
        sys.exit(1)
