#!/usr/bin/python3
"""Drives the training cycle of a running Sayalike and checks it by ear; the
cycle benchmark measures its figures on top of this run.

Opens the narrator file from the recent list, selects its middle phrase on the
waveform, presses Loop and records what the program plays (the monitor of the
default sink) while it runs two full cycles, speaking the learner's phrase
into the microphone each time the Say phase begins. Then a further cycle is
paused once in each of its four phases. The recording is analysed afterwards:

  - the phases of each full cycle, in order: the selected span of the
    narrator (found by cross-correlation with the decoded file), silence while
    the learner is recorded, the selected span again, the learner's take
    holding the whole speech (cross-correlated with what was spoken into the
    microphone), then the next cycle;
  - the take lasts whole half-second buffers: the microphone hears a faint
    room tone, too quiet to count as voice, so the take's quiet buffers are
    audible on the output and its length can be measured;
  - for each Pause: what played just before it, and how soon after it the
    monitor fell silent and that it stayed silent.

The timeline goes to stdout and to WORK/timeline.txt; the recordings to
WORK/monitor.wav and WORK/mic.wav. Exits 1 with an expected-versus-seen
message when a check fails.

  monitor_phases.py --pid PID --wid WINDOW --sounds FOLDER --work FOLDER
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

ZOOM = 0.005  # pixels per sample after a load
SELECTION_MARGIN = 0.25  # seconds of silence selected on both sides of the phrase
NARRATOR_SCORE = 0.9
LEARNER_SCORE = 0.7
SNIPPET_SCORE = 0.7
# Pause must silence the output at once; this allows for the click's way
# through the X server and the sink's own buffer.
SILENT_AFTER_PAUSE = 0.5
QUIET_WATCH = 1.2  # seconds the monitor must stay silent after a Pause
# The take's playback may lose a few milliseconds at its ends in the sink.
TAKE_TOLERANCE = 0.02


class Run:
    def __init__(self, args):
        self.args = args
        self.work = args.work
        with open(os.path.join(args.sounds, "sounds.json")) as f:
            self.sounds = json.load(f)
        self.reference, _ = cl.read_wav(os.path.join(args.sounds, "narrator-ref.wav"))
        learner, _ = cl.read_wav(os.path.join(args.sounds, "learner-ref.wav"))
        speech = self.sounds["learner_speech"][0]
        self.learner_speech = learner[int(speech[0] * cl.RATE):int(speech[1] * cl.RATE)]
        self.learner_wav = os.path.join(args.sounds, "learner.wav")
        self.wid = args.wid
        self.layout = cl.Layout(*cl.window_size(args.wid))
        self.status = cl.StatusWatcher(args.pid)
        self.events = []  # (time, what)
        self.feeds = []
        self.monitor = None
        self.mic = None
        self.room = None

    def note(self, text):
        print("[training] %s" % text, flush=True)

    def event(self, what, t=None):
        self.events.append((time.monotonic() if t is None else t, what))

    def shot(self, name):
        return cl.screenshot(self.wid, os.path.join(self.work, name + ".png"))

    # --- steps ---------------------------------------------------------------------

    def open_recent_file(self):
        x, y = self.layout.recent_first_item
        cl.xdotool("mousemove", "--window", self.wid, x, y)
        cl.xdotool("click", "--repeat", "2", "--delay", "80", "1")
        self.status.wait_for(cl.LOADED_TEXT, 30)
        self.shot("loaded")
        self.note("ok: the narrator file loaded from the recent list")

    def select_phrase(self):
        start, end = self.sounds["phrases"][1]
        first = int(round((start - SELECTION_MARGIN) * cl.RATE * ZOOM))
        last = int(round((end + SELECTION_MARGIN) * cl.RATE * ZOOM))
        if self.layout.column_x(last) >= self.layout.wave_right:
            raise cl.Failure("the window is too narrow to show the phrase (%d px)" %
                             self.layout.width)
        cl.drag(self.wid, self.layout.wave_middle, self.layout.column_x(first),
                self.layout.column_x(last))
        self.status.wait_for(cl.LOOP_TEXT, 5)
        self.shot("selected")
        # A column is 1 / ZOOM samples.
        self.selection = (int(round(first / ZOOM)), int(round(last / ZOOM)))
        self.template = self.reference[self.selection[0]:self.selection[1]]
        self.loud = 0.05 * np.sqrt(np.mean(self.template ** 2))
        self.prefix = int((SELECTION_MARGIN + 0.2) * cl.RATE)
        self.note("ok: columns %d..%d selected (%.3f..%.3f s of the file); status '%s'" %
                  (first, last, self.selection[0] / cl.RATE, self.selection[1] / cl.RATE,
                   cl.LOOP_TEXT))

    def start_recording(self):
        self.monitor = cl.Recorder("test_sink.monitor", cl.RATE)
        self.mic = cl.Recorder("test_mic1", cl.MIC_RATE)
        self.monitor.wait_started()
        self.mic.wait_started()
        self.room = subprocess.Popen(["paplay", "-d", "mic_feed1",
                                      os.path.join(self.args.sounds, "room.wav")])

    def press_loop(self, what):
        t = cl.click(self.wid, *self.layout.loop)
        self.event(what, t)
        return t

    def feed_learner(self):
        t = time.monotonic()
        self.feeds.append(subprocess.Popen(["paplay", "-d", "mic_feed1", self.learner_wav],
                                           stderr=subprocess.PIPE))
        self.event("learner speaks into the microphone", t)
        return t

    def wait_status(self, text, timeout, what):
        t = self.status.wait_for(text, timeout)
        self.event(what, t)
        return t

    def expect_lamps(self, name, listen, say):
        """The lamps are painted after the status changes; a few looks allowed."""
        seen = None
        for attempt in range(10):
            shot = self.shot("%s-%d" % (name, attempt))
            seen = (cl.lamp_lit(shot, self.layout.listen_lamp),
                    cl.lamp_lit(shot, self.layout.say_lamp))
            if seen == (listen, say):
                self.note("ok: lamps in %s: Listen %s, Say %s" %
                          (name, "lit" if listen else "dark", "lit" if say else "dark"))
                return
            time.sleep(0.05)
        raise cl.Failure("lamps in %s: expected Listen %s and Say %s, saw %s and %s (%s)" % (
            name, listen, say, seen[0], seen[1], shot))

    def full_cycle(self, k):
        self.wait_status(cl.LISTEN_TEXT, 15, "cycle %d: status Listen" % k)
        self.wait_status(cl.SAY_TEXT, 20, "cycle %d: status Say" % k)
        self.feed_learner()
        if k == 1:
            self.expect_lamps("say", False, True)
        self.wait_status(cl.COMPARE_TEXT, 30, "cycle %d: status Compare" % k)
        if k == 1:
            self.expect_lamps("compare", True, False)
        self.note("cycle %d: narrator, recording, narrator again; now the learner's take" % k)

    def wait_audible(self, since, what, timeout=10):
        frame = self.monitor.wait_loud(since, self.loud, timeout)
        if frame is None:
            raise cl.Failure("%s: expected sound on the monitor within %d s; it stayed silent" %
                             (what, timeout))
        return frame

    def pause_and_watch(self, phase, watch):
        t = self.press_loop("Pause in %s" % phase)
        self.wait_status(cl.LOOP_TEXT, 10, "status Loop after Pause in %s" % phase)
        self.pauses.append((phase, t, watch))
        end = self.monitor.frame_at(t + watch)
        self.monitor.wait_until_frame(end, watch + 10)
        self.note("paused in %s" % phase)

    def pauses_in_each_phase(self):
        self.pauses = []
        # The cycle after the two full ones is already listening.
        t = self.wait_status(cl.LISTEN_TEXT, 30, "cycle 3: status Listen")
        self.wait_audible(self.monitor.frame_at(t - 0.1), "narrator in cycle 3")
        time.sleep(0.25)
        self.pause_and_watch("listening", QUIET_WATCH)

        self.press_loop("Loop (to pause while recording)")
        self.wait_status(cl.SAY_TEXT, 20, "status Say")
        self.feed_learner()
        # The learner's voice is being recorded a second after the feed began:
        # the speech starts 0.3 s into it and fills the next half-second buffer.
        time.sleep(1.0)
        # Nothing may play while the take would have ended and been replayed.
        self.pause_and_watch("recording", 2.5)

        self.press_loop("Loop (to pause during the replay)")
        self.wait_status(cl.SAY_TEXT, 20, "status Say")
        self.feed_learner()
        t = self.wait_status(cl.COMPARE_TEXT, 30, "status Compare")
        self.wait_audible(self.monitor.frame_at(t - 0.1), "narrator's replay")
        time.sleep(0.25)
        self.pause_and_watch("the narrator's replay", QUIET_WATCH)

        self.press_loop("Loop (to pause during the learner's take)")
        self.wait_status(cl.SAY_TEXT, 20, "status Say")
        self.feed_learner()
        t = self.wait_status(cl.COMPARE_TEXT, 30, "status Compare")
        replay = self.wait_audible(self.monitor.frame_at(t - 0.1), "narrator's replay")
        # The replay's first loud sound is the phrase, SELECTION_MARGIN into the span.
        replay_end = replay - int(SELECTION_MARGIN * cl.RATE) + len(self.template)
        self.monitor.wait_until_frame(replay_end, 10)
        self.wait_audible(replay_end + int(0.02 * cl.RATE), "learner's take")
        time.sleep(0.25)
        self.pause_and_watch("the learner's take", QUIET_WATCH)

    def stop_recording(self):
        self.room.terminate()
        self.room.wait()
        for feed in self.feeds:
            try:
                feed.wait(timeout=10)
            except subprocess.TimeoutExpired:
                feed.kill()
        self.monitor_data = self.monitor.stop()
        self.mic_data = self.mic.stop()
        cl.write_wav(os.path.join(self.work, "monitor.wav"), self.monitor_data, cl.RATE)
        cl.write_wav(os.path.join(self.work, "mic.wav"), self.mic_data, cl.MIC_RATE)

    # --- analysis --------------------------------------------------------------------

    def seconds(self, frame):
        """A monitor frame as seconds since Loop was first pressed."""
        return self.monitor.time_of(frame) - self.origin

    def at(self, t):
        return t - self.origin

    def silent(self, start, end):
        levels = cl.frame_levels(self.monitor_data[max(start, 0):max(end, 0)], cl.RATE)
        return len(levels) == 0 or levels.max() < self.loud

    def analyse_cycles(self):
        data = self.monitor_data
        self.origin = self.events[0][0]
        narrator = cl.find_occurrences(data, self.template, NARRATOR_SCORE)
        learner = cl.find_occurrences(data, self.learner_speech, LEARNER_SCORE)
        times = {what: t for t, what in self.events}
        lines = []
        n = len(self.template)
        third = times["cycle 3: status Listen"]
        before_third = [p for p, _ in narrator if self.monitor.time_of(p) < third - 0.5]
        if len(before_third) != 4:
            raise cl.Failure("expected the selected phrase 4 times in two cycles (listening and "
                             "comparing, twice), heard it %d times before the third cycle" %
                             len(before_third))

        # A phase's sound starts in the entry action that sets its status.
        def near(t):
            return [(p, s) for p, s in narrator if abs(self.monitor.time_of(p) - t) < 0.5]

        for k in (1, 2):
            listen_status = times["cycle %d: status Listen" % k]
            say_status = times["cycle %d: status Say" % k]
            compare_status = times["cycle %d: status Compare" % k]
            listen = near(listen_status)
            replay = near(compare_status)
            if len(listen) != 1:
                raise cl.Failure("cycle %d: expected the selected phrase to start once when the "
                                 "Listen status appeared (%.2f s), heard it %d times" % (
                                     k, self.at(listen_status), len(listen)))
            if len(replay) != 1:
                raise cl.Failure("cycle %d: expected the selected phrase to start again when the "
                                 "comparison began (%.2f s), heard it %d times" % (
                                     k, self.at(compare_status), len(replay)))
            (l_at, l_score), (r_at, r_score) = listen[0], replay[0]
            # The next cycle's phrase may have been cut short by Pause: its
            # start is found from the beginning of the span alone.
            following = cl.find_occurrences(data[r_at + n:], self.template[:self.prefix],
                                            NARRATOR_SCORE)
            if not following:
                raise cl.Failure("cycle %d: expected the next cycle to start with the selected "
                                 "phrase after the learner's take; it did not" % k)
            next_listen = r_at + n + following[0][0]
            take_start, take_end = self.take_bounds(k, r_at + n, next_listen)
            # The speech as it was spoken into the microphone; the take holds it
            # whole unless its beginning or end was lost.
            takes = [(p, s) for p, s in learner if r_at <= p < next_listen]
            if len(takes) != 1:
                raise cl.Failure("cycle %d: expected the learner's speech once between the "
                                 "narrator's replay and the next cycle (%.3f..%.3f s), heard it "
                                 "%d times" % (k, self.seconds(r_at + n),
                                                self.seconds(next_listen), len(takes)))
            t_at, t_score = takes[0]
            take_end_of_speech = t_at + len(self.learner_speech)
            if t_at < take_start - int(0.005 * cl.RATE) or take_end_of_speech > take_end:
                raise cl.Failure(
                    "cycle %d: expected the learner's whole speech (%.3f..%.3f s as aligned) "
                    "inside the take played back (%.3f..%.3f s); part of it is missing" % (
                        k, self.seconds(t_at), self.seconds(take_end_of_speech),
                        self.seconds(take_start), self.seconds(take_end)))
            if not self.silent(l_at + n + int(0.02 * cl.RATE), r_at - int(0.02 * cl.RATE)):
                raise cl.Failure("cycle %d: expected silence while the learner was recorded "
                                 "(%.3f..%.3f s); the monitor was not silent" % (
                                     k, self.seconds(l_at + n), self.seconds(r_at)))
            order = [l_at, l_at + n, r_at, r_at + n, take_start, t_at, take_end, next_listen]
            if order != sorted(order):
                raise cl.Failure("cycle %d: phases out of order: %s" % (
                    k, " ".join("%.3f" % self.seconds(p) for p in order)))
            lines.append(
                "cycle %d: listening %.3f-%.3f s (narrator, score %.3f) | recording %.3f-%.3f s "
                "(silent; Say status seen %.3f s, learner fed %.3f s) | replay %.3f-%.3f s "
                "(narrator, score %.3f) | learner's take %.3f-%.3f s (%.3f s long; speech "
                "%.3f-%.3f s, score %.3f); next cycle from %.3f s" % (
                    k, self.seconds(l_at), self.seconds(l_at + n), l_score,
                    self.seconds(l_at + n), self.seconds(r_at), self.at(say_status),
                    self.feed_time(say_status), self.seconds(r_at), self.seconds(r_at + n),
                    r_score, self.seconds(take_start), self.seconds(take_end),
                    (take_end - take_start) / cl.RATE, self.seconds(t_at),
                    self.seconds(take_end_of_speech), t_score, self.seconds(next_listen)))
        return lines

    def take_bounds(self, k, start, end):
        """First and last sample of the learner's take between start and end.
        The take is whole half-second buffers of the microphone, quiet ones
        included (the room tone makes them audible)."""
        sound = np.flatnonzero(np.abs(self.monitor_data[start:end]) > 2)
        if len(sound) == 0:
            raise cl.Failure("cycle %d: expected the learner's take after the narrator's "
                             "replay (%.3f..%.3f s); the monitor was silent" % (
                                 k, self.seconds(start), self.seconds(end)))
        first, last = start + int(sound[0]), start + int(sound[-1]) + 1
        length = (last - first) / cl.RATE
        off = length - 0.5 * round(length / 0.5)
        if round(length / 0.5) < 2 or abs(off) > TAKE_TOLERANCE:
            raise cl.Failure("cycle %d: expected the learner's take to last whole half-second "
                             "buffers (at least two), it lasted %.3f s (%.3f..%.3f s)" % (
                                 k, length, self.seconds(first), self.seconds(last)))
        return first, last

    def feed_time(self, after):
        fed = [t for t, what in self.events if what.startswith("learner speaks") and t >= after]
        return self.at(fed[0]) if fed else float("nan")

    def what_played(self, frame):
        """Which sound the monitor played in the 0.2 s before frame."""
        snippet = self.monitor_data[max(frame - int(0.2 * cl.RATE), 0):frame]
        if len(snippet) == 0 or self.silent(frame - len(snippet), frame):
            return "silence", 0.0
        _, narrator = cl.best_match(self.template, snippet)
        learner_full, _ = cl.read_wav(os.path.join(self.args.sounds, "learner-ref.wav"))
        _, learner = cl.best_match(learner_full, snippet)
        if max(narrator, learner) < SNIPPET_SCORE:
            return "something else", max(narrator, learner)
        return ("narrator", narrator) if narrator >= learner else ("learner", learner)

    def analyse_pauses(self):
        expected = {"listening": "narrator", "recording": "silence",
                    "the narrator's replay": "narrator", "the learner's take": "learner"}
        lines = []
        for phase, t, watch in self.pauses:
            click = self.monitor.frame_at(t)
            before, score = self.what_played(click)
            if before != expected[phase]:
                raise cl.Failure("Pause in %s: expected the monitor to play %s just before the "
                                 "click at %.3f s, it played %s (score %.2f)" % (
                                     phase, expected[phase], self.at(t), before, score))
            end = self.monitor.frame_at(t + watch)
            loud = np.flatnonzero(np.abs(self.monitor_data[click:end]) > self.loud)
            silent_after = (loud[-1] + 1) / cl.RATE if len(loud) else 0.0
            if silent_after > SILENT_AFTER_PAUSE:
                raise cl.Failure("Pause in %s at %.3f s: expected silence within %.1f s and "
                                 "until %.1f s after the click; sound went on %.3f s after it" % (
                                     phase, self.at(t), SILENT_AFTER_PAUSE, watch, silent_after))
            lines.append("pause in %s: click %.3f s, before it the monitor played %s%s; last "
                         "sound %.3f s after the click, then silent for %.1f s; status back to "
                         "Loop" % (
                             phase, self.at(t), before,
                             " (score %.2f)" % score if score else "", silent_after,
                             watch - silent_after))
        return lines

    def status_lines(self):
        return ["  %8.3f s  %s" % (self.at(t), what) for t, what in self.events]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--wid", required=True)
    parser.add_argument("--sounds", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    run = Run(args)
    try:
        run.open_recent_file()
        run.select_phrase()
        run.start_recording()
        run.press_loop("Loop pressed")
        run.full_cycle(1)
        run.full_cycle(2)
        run.pauses_in_each_phase()
    except cl.Failure:
        cl.screenshot("root", os.path.join(args.work, "failure.png"))
        if run.monitor is not None:
            run.stop_recording()
        raise
    finally:
        with open(os.path.join(args.work, "events.txt"), "w") as f:
            f.write("".join("%.3f %s\n" % e for e in run.events))
    run.stop_recording()
    lines = ["Timeline (seconds from the first Loop click; monitor of the default output):"]
    lines += run.analyse_cycles()
    lines += run.analyse_pauses()
    lines += ["Events (seen by the test):"] + run.status_lines()
    text = "\n".join(lines)
    print(text)
    with open(os.path.join(args.work, "timeline.txt"), "w") as f:
        f.write(text + "\n")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except cl.Failure as failure:
        print("[training] FAIL: %s" % failure, file=sys.stderr)
        sys.exit(1)
