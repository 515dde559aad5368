#!/usr/bin/python3
# The real program on a virtual display, a private session bus and a private
# PulseAudio server, driven the way a learner drives it.
#
# e2e.py STORY PATH-TO-sayalike     (STORY: session, no_audio)
#
# The story re-runs itself under xvfb-run and dbus-run-session; whatever the
# program writes (settings, temporary files) stays in $SAYALIKE_WORK/STORY.
# The status text and the message boxes are read over the accessibility bus;
# what the program plays is recorded from the monitor of the default output and
# told apart by pitch: the narrator's phrases are tones of 330, 440 and 550 Hz,
# the learner speaks at 1 kHz.
import os
import re
import shutil
import subprocess
import sys
import threading
import time
import wave

import numpy as np

PULSE_SERVER = os.path.dirname(os.path.abspath(__file__)) + "/../support/pulse-server"
FIRST_TEXT = ('Click the Open button to load an audio file or select a file from the '
              '"Recent Files" list above.')
LOADED_TEXT = "Drag your mouse through the oscillogram and select a particular part."
LOOP_TEXT = 'Click the "Loop" button to begin training.'
LISTEN_TEXT = 'Listen to the narrator. Click "Pause" button to stop the process.'
SAY_TEXT = 'Try to repeat what you have just heard. Click "Pause" button to stop the process.'
COMPARE_TEXT = ("Listen carefully how you and the narrator say the same phrase, check for "
                "pronunciation mistakes, compare both variants accurately.")
RATE, MIC_RATE = 44100, 16000
# The narrator's three phrases (pitch, seconds) after 0.5 s of silence, 1 s apart.
PHRASES = ((330, 0.6), (440, 1.2), (550, 0.6))
LEARNER_HZ, LEARNER_SECONDS = 1000, 1.2
PITCHES = {330: "a", 440: "N", 550: "c", LEARNER_HZ: "L"}
WINDOW = 0.02  # seconds a sound is classified by
# Placement, volumes and recent files the training starts with; the trained
# file is second in the list so opening it has to move it to the top.
PLACE = (40, 40, 1100, 520)
# The take 10 dB down, and the capture level at half (18 dB): about 28 dB
# below the narrator.
SPK_VOL, MIC_VOL = 100, 90


def expect(ok, text):
    if not ok:
        raise AssertionError(text)


def run(*command, timeout=60, check=True):
    return subprocess.run([str(c) for c in command], check=check, timeout=timeout,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True).stdout


def wait_until(what, probe, timeout):
    deadline = time.monotonic() + timeout
    while not (value := probe()):
        expect(time.monotonic() < deadline, "waited %.0f s for %s" % (timeout, what))
        time.sleep(0.01)
    return value


def write_wav(path, samples, rate, channels=1):
    with wave.open(path, "wb") as f:
        f.setparams((channels, 2, rate, 0, "NONE", None))
        f.writeframes(np.repeat(samples, channels).astype("<i2").tobytes())


def tone(hz, seconds, rate):
    t = np.arange(int(seconds * rate)) / rate
    return 16000 * np.sin(2 * np.pi * hz * t) * np.minimum(1, np.minimum(t, t[::-1]) / 0.01)


def prepare(work):
    # The narrator's file (and a copy), the learner's take, and settings that
    # list the copy first.
    sounds = work + "/sounds"
    os.makedirs(sounds)
    parts = [np.zeros(RATE // 2)] + [p for hz, s in PHRASES for p in (tone(hz, s, RATE),
                                                                       np.zeros(RATE))]
    write_wav(sounds + "/narrator.wav", np.concatenate(parts), RATE, 2)
    run("lame", "--quiet", "-b", "128", sounds + "/narrator.wav", sounds + "/narrator.mp3")
    shutil.copy(sounds + "/narrator.mp3", sounds + "/decoy.mp3")
    write_wav(sounds + "/learner.wav", np.concatenate(
        [np.zeros(MIC_RATE * 3 // 10), tone(LEARNER_HZ, LEARNER_SECONDS, MIC_RATE),
         np.zeros(MIC_RATE // 5)]), MIC_RATE)
    os.makedirs(work + "/config/Sayalike")
    with open(work + "/config/Sayalike/Level0.conf", "w") as f:
        f.write("[General]\nLeft=%d\nTop=%d\nWidth=%d\nHeight=%d\nSpkVolPos=%d\nMcVolPos=%d\n"
                "InputDeviceName=Test Microphone 2\n\n[Files]\nFile0=%s/decoy.mp3\n"
                "File1=%s/narrator.mp3\n" % (PLACE + (SPK_VOL, MIC_VOL, sounds, sounds)))
    return sounds


def start_pulse(work, mics):
    # A private server with `mics` microphones; returns what stops it.
    out = run(PULSE_SERVER, "start", work + "/pulse", "--mics", mics, "--owner", os.getpid())
    os.environ.update(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return lambda: run(PULSE_SERVER, "stop", work + "/pulse", timeout=30, check=False)


class Monitor:
    # Records the default output; frame n was played at t0 + n / RATE, t0
    # being the earliest any arrival allows.

    def __init__(self):
        self.proc = subprocess.Popen(["parec", "-d", "test_sink.monitor", "--latency-msec=20",
                                      "--format=s16le", "--rate=%d" % RATE, "--channels=1",
                                      "--raw"], stdout=subprocess.PIPE)
        self.sound, self.t0 = bytearray(), float("inf")
        threading.Thread(target=self._read, daemon=True).start()
        wait_until("the monitor's first sound", lambda: len(self.sound) > RATE // 5, 10)

    def _read(self):
        while data := os.read(self.proc.stdout.fileno(), 1 << 14):
            self.sound += data
            self.t0 = min(self.t0, time.monotonic() - len(self.sound) / 2 / RATE)

    def labels(self, t1, t2):
        # One letter per WINDOW between two times: '.' silence, a pitch's
        # letter, '?' anything else; and the level of each window.
        frame = lambda t: int((t - self.t0) * RATE)  # noqa: E731
        wait_until("the recording to reach %.1f s" % t2,
                   lambda: len(self.sound) > 2 * frame(t2), 10)
        n = int(WINDOW * RATE)
        first, count = frame(t1), (frame(t2) - frame(t1)) // n * n
        windows = np.frombuffer(bytes(self.sound[2 * first:2 * (first + count)]), "<i2").reshape(
            -1, n).astype(float)
        levels = np.sqrt(np.mean(windows ** 2, axis=1))
        peaks = np.argmax(np.abs(np.fft.rfft(windows, 8192, axis=1)), axis=1) * RATE / 8192
        near = [min(PITCHES, key=lambda hz: abs(hz - p)) for p in peaks]
        return "".join("." if lv < 50 else PITCHES[hz] if abs(hz - p) < 40 else "?"
                       for lv, p, hz in zip(levels, peaks, near)), levels


class App:
    def __init__(self, binary, work, name, *arguments, cwd=None):
        import pyatspi  # only where a display and a session bus exist
        self.atspi, self.label = pyatspi, None
        self.proc = subprocess.Popen([binary, *arguments], stdout=open(
            "%s/%s.log" % (work, name), "w"), stderr=subprocess.STDOUT, cwd=cwd)

    def nodes(self, node=None, depth=0):
        # The program's accessible objects, or those under node, depth first.
        for root in [a for a in self.atspi.Registry.getDesktop(0) if a is not None and
                     a.get_process_id() == self.proc.pid] if node is None else [node]:
            yield root
            for child in root if depth < 15 else []:
                if child is not None:
                    yield from self.nodes(child, depth + 1)

    def find(self, role, name=None, parent_role=None):
        return next((n for n in self.nodes() if n.getRoleName() == role and name in (None, n.name)
                     and parent_role in (None, n.parent.getRoleName())), None)

    def status(self):
        self.label = self.label or wait_until(
            "the status bar", lambda: self.find("label", None, "status bar"), 30)
        self.label.clearCache()  # the bus caches names; the status changes underneath
        return self.label.name

    def running(self):
        expect(self.proc.poll() is None, "the program ended with code %s" % self.proc.returncode)

    def wait_status(self, text, timeout=30):
        return wait_until("the status '%s'" % text, lambda: self.running() or (
            self.status() == text and time.monotonic()), timeout)

    def press(self, name):
        button = wait_until("a button '%s'" % name, lambda: self.find("push button", name), 10)
        t = time.monotonic()
        button.queryAction().doAction(0)
        return t

    def messages(self, timeout=60):
        # Answers every message box as a learner would until the program
        # ends; their titles and texts.
        seen, deadline = [], time.monotonic() + timeout
        while self.proc.poll() is None:
            expect(time.monotonic() < deadline, "still running after messages %s" % seen)
            expect(not self.find("filler", "Sayalike v1.3"), "a window opened after %s" % seen)
            box = self.find("alert") or self.find("dialog")
            ok = box and next((n for n in self.nodes(box) if n.name == "OK"), None)
            if ok:
                texts = [n.name for n in self.nodes(box) if n.getRoleName() == "label" and n.name]
                seen.append((box.name, " ".join(texts)))
                ok.queryAction().doAction(0)
                wait_until("the message to close", lambda: not box.getState().contains(
                    self.atspi.STATE_SHOWING) or self.proc.poll() is not None, 10)
            time.sleep(0.1)
        return seen

    def window(self):
        return wait_until("the main window", lambda: self.running() or run(
            "xdotool", "search", "--onlyvisible", "--name", "^Sayalike v1\\.3$",
            check=False).split(), 30)[0]

    def close(self, wid):
        # Asks to close as a window manager's close button does, so the
        # program's own close handling runs.
        from Xlib import X, display, protocol
        d = display.Display()
        window = d.create_resource_object("window", int(wid))
        atoms = [d.intern_atom(a) for a in ("WM_PROTOCOLS", "WM_DELETE_WINDOW")]
        window.send_event(protocol.event.ClientMessage(
            window=window, client_type=atoms[0], data=(32, [atoms[1], X.CurrentTime, 0, 0, 0])))
        d.sync()
        expect(self.proc.wait(20) == 0, "the program's exit code was %s" % self.proc.returncode)


def geometry(wid):
    values = dict(v.split("=") for v in run("xdotool", "getwindowgeometry", "--shell", wid).split())
    return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))


def settings_and_leftovers(work):
    # What the program stored; no temporary sound file may outlive it.
    left = [f for f in os.listdir(work + "/tmp") if f.startswith("PRR")]
    expect(not left, "temporary sound files left after exit: %s" % left)
    path = work + "/config/Sayalike/Level0.conf"
    with open(path) if os.path.exists(path) else open(os.devnull) as f:
        return dict(line.strip().split("=", 1) for line in f if "=" in line)



def train(app, sounds):
    item = app.find("list item", sounds + "/narrator.mp3").queryComponent().getExtents(0)
    run("xdotool", "mousemove", item.x + 40, item.y + item.height // 2, "click", "--repeat", "2",
        "--delay", "80", "1")
    app.wait_status(LOADED_TEXT)
    # A load shows 0.005 pixels a sample from column 0, above the scroll bar;
    # the middle phrase is selected with a quarter of a second on each side.
    bar = app.find("scroll bar", "Waveform position").queryComponent().getExtents(0)
    start = 0.5 + PHRASES[0][1] + 1.0
    x1, x2 = (bar.x + int((t * RATE) * 0.005) for t in (start - 0.25, start + PHRASES[1][1] + 0.25))
    steps = [a for i in range(1, 9)
             for a in ("mousemove", x1 + (x2 - x1) * i // 8, bar.y - 40, "sleep", "0.02")]
    run("xdotool", "mousemove", x1, bar.y - 40, "mousedown", "1", *steps, "mouseup", "1")
    app.wait_status(LOOP_TEXT)
    monitor, pauses = Monitor(), []
    feed = lambda: subprocess.Popen(["paplay", "-d", "mic_feed2", sounds + "/learner.wav"])

    def heard(since, letter):
        wait_until("%s on the output" % letter,
                   lambda: letter in monitor.labels(since, time.monotonic() - 0.05)[0], 10)
        time.sleep(0.1)  # well into it

    def pause(before, watch=1.5):
        pauses.append((app.press("Pause"), before, watch))
        app.wait_status(LOOP_TEXT)
        time.sleep(watch)

    try:
        begin = app.press("Loop")
        for _ in range(2):
            app.wait_status(LISTEN_TEXT)
            app.wait_status(SAY_TEXT)
            feed()
            app.wait_status(COMPARE_TEXT)
        third = app.wait_status(LISTEN_TEXT)
        heard(third, "N")
        pause("N")
        app.press("Loop")
        app.wait_status(SAY_TEXT)
        feed()
        time.sleep(1.0)  # the learner is half-way through the phrase
        pause(".", 3.0)  # longer than the take would have needed to end
        for letter in "NL":
            app.press("Loop")
            app.wait_status(SAY_TEXT)
            feed()
            heard(app.wait_status(COMPARE_TEXT), letter)
            pause(letter)
        # Two cycles: the phrase, silence while the learner speaks, the phrase
        # again and the learner's take; the third cycle may have begun.
        text, levels = monitor.labels(begin, third)
        # (letter, first window, last window + 1) of each sound lasting more
        # than 40 ms; shorter ones are a sound's edges.
        heard_runs = [(m[1], m.start(), m.end()) for m in re.finditer(r"([^.])\1{2,}", text)]
        expect("".join(r[0] for r in heard_runs) in ("NNLNNL", "NNLNNLN"),
               "expected the phrase, the phrase and the take twice, heard %s" % text)
        lengths = [((j - i) * WINDOW, PHRASES[1][1] if c == "N" else LEARNER_SECONDS)
                   for c, i, j in heard_runs[:6]]
        expect(all(abs(a - b) < 0.1 for a, b in lengths), "lengths %s: %s" % (lengths, text))
        level = {c: np.median([np.median(levels[i:j]) for d, i, j in heard_runs if d == c])
                 for c in "NL"}
        expect(12 < level["N"] / level["L"] < 48, "the narrator at %.0f and the take at %.0f, "
               "expected about 28 dB apart" % (level["N"], level["L"]))
        for t, before, watch in pauses:
            text, _ = monitor.labels(t - 0.1, t + watch)
            # Silent from 0.4 s after the click on, for as long as watched.
            expect((before * 5 if before == "." else before) in text[:5] and
                   text[int(0.5 / WINDOW):].strip(".") == "", "%s, then Pause: %s" % (before, text))
    finally:
        monitor.proc.terminate()


def session(binary, work):
    # Start-up where the settings say, opening from the recent list, the
    # training, close, and a restart where it was left with a file named on the
    # command line, relative to the working folder.
    sounds, stop_pulse, app = prepare(work), start_pulse(work, 2), None
    try:
        app = App(binary, work, "first-run")
        wid = app.window()
        wait_until("the stored placement %s" % (PLACE,), lambda: geometry(wid) == PLACE, 5)
        expect(app.status() == FIRST_TEXT, "first status: '%s'" % app.status())
        train(app, sounds)
        moved = (100, 150, 800, 500)
        run("xdotool", "windowmove", wid, *moved[:2], "windowsize", wid, *moved[2:])
        wait_until("the window moved", lambda: geometry(wid) == moved, 5)
        app.close(wid)
        stored = settings_and_leftovers(work)
        want = dict(Left="100", Top="150", Width="800", Height="500", SpkVolPos=str(SPK_VOL),
                    McVolPos=str(MIC_VOL), InputDeviceName="Test Microphone 2",
                    File0=sounds + "/narrator.mp3", File1=sounds + "/decoy.mp3")
        expect(want.items() <= stored.items(), "stored %s, expected %s" % (stored, want))
        app = App(binary, work, "second-run", "decoy.mp3", cwd=sounds)
        wid = app.window()
        wait_until("the window where it was left", lambda: geometry(wid) == moved, 5)
        app.wait_status(LOADED_TEXT)
        app.close(wid)
        expect(settings_and_leftovers(work)["File0"] == sounds + "/decoy.mp3",
               "the named file not first")
    finally:
        app and app.proc.kill()
        stop_pulse()


def no_audio(binary, work):
    # Without a sound server, and with one that has no microphone, the
    # learner is told why, no window opens and nothing is saved.
    os.makedirs(work + "/none")
    with open(work + "/none/client.conf", "w") as f:
        f.write("autospawn = no\n")
    os.environ.update(PULSE_SERVER="unix:%s/none/native" % work,
                      PULSE_CLIENTCONFIG=work + "/none/client.conf")
    # Each box's title, then words its text holds; the last box is the same.
    both = {"no-server": ["Error|CreateClassEnumerator|Connection refused",
                          "Error|m_MonikerList.EnumFilters()"],
            "no-microphone": ["Error|CreateClassEnumerator", "No audio capture hardware!|There "
                              "were no audio capture devices detected on this system."]}
    for name, expected in both.items():
        expected.append("Error|EnumInputDevices()")
        stop_pulse = start_pulse(work, 0) if name == "no-microphone" else lambda: None
        app = App(binary, work, name)
        try:
            seen = app.messages()
        finally:
            app.proc.kill()
            stop_pulse()
        expect(len(seen) == len(expected) and all(
            title == want.split("|")[0] and all(w in text for w in want.split("|")[1:])
            for (title, text), want in zip(seen, expected)),
            "%s: messages %s, expected %s" % (name, seen, expected))
        expect(app.proc.returncode == 0 and settings_and_leftovers(work) == {},
               "%s: exit code %s, or settings saved" % (name, app.proc.returncode))


def main(story, binary):
    work = os.path.join(os.environ.get("SAYALIKE_WORK") or os.environ.get("TMPDIR", "/tmp"),
                        story)
    if not os.environ.get("SAYALIKE_E2E_INSIDE"):
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        os.environ["SAYALIKE_E2E_INSIDE"] = "1"
        return subprocess.run(["env", "-u", "WAYLAND_DISPLAY", "-u", "SESSION_MANAGER", "xvfb-run",
                               "-a", "-e", work + "/xvfb.log", "-s", "-screen 0 1280x1024x24 "
                               "-noreset", "dbus-run-session", "--", "/usr/bin/python3",
                               __file__, story, os.path.abspath(binary)]).returncode
    for sub in ("config", "runtime", "tmp", "home"):
        os.makedirs(work + "/" + sub, mode=0o700)
    os.environ.update(XDG_CONFIG_HOME=work + "/config", XDG_RUNTIME_DIR=work + "/runtime",
                      TMPDIR=work + "/tmp", HOME=work + "/home", QT_QPA_PLATFORM="xcb",
                      QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    try:
        {"session": session, "no_audio": no_audio}[story](binary, work)
    except (AssertionError, subprocess.SubprocessError) as failure:
        print("[%s] FAIL: %s" % (story, failure), file=sys.stderr)
        for log in sorted(f for f in os.listdir(work) if f.endswith(".log")):
            lines = open(os.path.join(work, log)).readlines()[-20:]
            print("--- %s\n%s" % (log, "".join(lines)), file=sys.stderr)
        return 1
    print("[%s] passed" % story)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
