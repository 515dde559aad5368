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
import os, re, shutil, subprocess, sys, threading, time, wave, numpy as np  # noqa: E401

PULSE_SERVER = os.path.dirname(os.path.abspath(__file__)) + "/../support/pulse-server"
FIRST_TEXT = ('Click the Open button to load an audio file or select a file from the '
              '"Recent Files" list above.')
LOADED_TEXT = "Drag your mouse through the oscillogram and select a particular part."
LOOP_TEXT = 'Click the "Loop" button to begin training.'
LISTEN_TEXT = 'Listen to the narrator. Click "Pause" button to stop the process.'
SAY_TEXT = 'Try to repeat what you have just heard. Click "Pause" button to stop the process.'
COMPARE_TEXT = ("Listen carefully how you and the narrator say the same phrase, check for "
                "pronunciation mistakes, compare both variants accurately.")
# The narrator's three phrases (pitch, seconds) after 0.5 s of silence, 1 s
# apart; sounds are classified in windows of 20 ms.
RATE, MIC_RATE, WINDOW, PHRASES = 44100, 16000, 0.02, ((330, 0.6), (440, 1.2), (550, 0.6))
LEARNER, PITCHES = (1000, 1.2), {330: "a", 440: "N", 550: "c", 1000: "L"}
# Placement and volumes the training starts with: the take 10 dB down, and the
# capture level at half (18 dB), about 28 dB below the narrator.
PLACE, SPK_VOL, MIC_VOL = (40, 40, 1100, 520), 100, 90


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


def write_wav(path, rate, channels, *parts):
    # Tones (pitch, seconds) one after another, softened at their edges; pitch 0 is silence.
    samples = np.concatenate([16000 * np.sin(2 * np.pi * hz * t) * np.minimum(1, np.minimum(
        t, t[::-1]) / 0.01) for hz, s in parts for t in [np.arange(int(s * rate)) / rate]])
    with wave.open(path, "wb") as f:
        f.setparams((channels, 2, rate, 0, "NONE", None))
        f.writeframes(np.repeat(samples, channels).astype("<i2").tobytes())


def prepare(work):
    # The narrator's file (and a copy), the learner's take, and settings that
    # list the copy first, so opening the narrator has to move it to the top.
    sounds = work + "/sounds"
    write_wav(sounds + "/narrator.wav", RATE, 2, (0, 0.5),
              *[p for t in PHRASES for p in (t, (0, 1))])
    run("lame", "--quiet", "-b", "128", sounds + "/narrator.wav", sounds + "/narrator.mp3")
    shutil.copy(sounds + "/narrator.mp3", sounds + "/decoy.mp3")
    write_wav(sounds + "/learner.wav", MIC_RATE, 1, (0, 0.3), LEARNER, (0, 0.2))
    open(work + "/config/Sayalike/Level0.conf", "w").write(
        "[General]\nLeft=%d\nTop=%d\nWidth=%d\nHeight=%d\nSpkVolPos=%d\nMcVolPos=%d\nInputDevice"
        "Name=Test Microphone 2\n\n[Files]\nFile0=%s/decoy.mp3\nFile1=%s/narrator.mp3\n"
        % (PLACE + (SPK_VOL, MIC_VOL, sounds, sounds)))
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
        self.proc = subprocess.Popen(("parec -d test_sink.monitor --latency-msec=20 --format=s16le "
                                      "--rate=%d --channels=1 --raw" % RATE).split(), stdout=-1)
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
        first, last = (int((t - self.t0) * RATE) for t in (t1, t2))
        wait_until("the recording to reach %.1f s" % t2, lambda: len(self.sound) > 2 * last, 10)
        n = int(WINDOW * RATE)
        windows = np.frombuffer(bytes(self.sound[2 * first:2 * (first + (last - first) // n * n)]),
                                "<i2").reshape(-1, n).astype(float)
        levels = np.sqrt(np.mean(windows ** 2, axis=1))
        peaks = np.argmax(np.abs(np.fft.rfft(windows, 8192, axis=1)), axis=1) * RATE / 8192
        near = [min(PITCHES, key=lambda hz: abs(hz - p)) for p in peaks]
        return "".join("." if lv < 50 else PITCHES[hz] if abs(hz - p) < 40 else "?"
                       for lv, p, hz in zip(levels, peaks, near)), levels


class App:
    def __init__(self, binary, work, name, *arguments, cwd=None):
        import pyatspi  # only where a display and a session bus exist
        self.atspi, self.label, self.work = pyatspi, None, work
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
        return next((n for n in self.nodes() if n.getRoleName() == role and name in (
            None, n.name) and parent_role in (None, n.parent.getRoleName())), None)

    def wait(self, what, probe, timeout=30):
        return wait_until(what, lambda: expect(self.proc.poll() is None, "the program ended: %s"
                                               % self.proc.returncode) or probe(), timeout)

    def status(self, text=None):
        self.label = self.label or self.wait("the status bar",
                                             lambda: self.find("label", None, "status bar"))
        self.label.clearCache()  # the bus caches names; the status changes underneath
        return self.label.name if text is None else self.wait(
            "the status '%s'" % text, lambda: self.status() == text and time.monotonic())

    def press(self, name):
        button = self.wait("a button '%s'" % name, lambda: self.find("push button", name), 10)
        t = time.monotonic()
        button.queryAction().doAction(0)
        return t

    def messages(self, timeout=60):
        # Answers every message box as a learner would until the program
        # ends; their titles and texts.
        seen, deadline = [], time.monotonic() + timeout
        while self.proc.poll() is None:
            expect(time.monotonic() < deadline and not self.find("filler", "Sayalike v1.3"),
                   "still running, or a window opened, after messages %s" % seen)
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

    def window(self, place):
        self.wid = self.wait("the main window", lambda: run(
            "xdotool", "search", "--onlyvisible", "--name", "^Sayalike v1\\.3$", check=False
        ).split())[0]
        self.wait("the placement %s" % (place,), lambda: tuple(int(v.split("=")[1]) for v in run(
            "xdotool", "getwindowgeometry", "--shell", self.wid).split()[1:5]) == place, 5)

    def close(self):
        # Asks to close as a window manager's close button does, so the
        # program's own close handling runs; what it stored.
        from Xlib import X, display, protocol
        d = display.Display()
        w, atom = d.create_resource_object("window", int(self.wid)), d.intern_atom
        w.send_event(protocol.event.ClientMessage(window=w, client_type=atom("WM_PROTOCOLS"), data=(
            32, [atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])))
        d.sync()
        expect(self.proc.wait(20) == 0, "the program's exit code was %s" % self.proc.returncode)
        return stored(self.work)


def stored(work):
    # What the program stored; no temporary sound file may outlive it.
    left = [f for f in os.listdir(work + "/tmp") if f.startswith("PRR")]
    expect(not left, "temporary sound files left after exit: %s" % left)
    path = work + "/config/Sayalike/Level0.conf"
    return dict(line.strip().split("=", 1) for line in (open(path) if os.path.exists(path) else [])
                if "=" in line)


def train(app, sounds):
    item = app.find("list item", sounds + "/narrator.mp3").queryComponent().getExtents(0)
    run("xdotool", "mousemove", item.x + 40, item.y + item.height // 2, "click", "--repeat", "2",
        "--delay", "80", "1")
    app.status(LOADED_TEXT)
    # A load shows 0.005 pixels a sample from column 0, above the scroll bar;
    # the middle phrase (from 2.1 s) is selected with a quarter of a second on each side.
    bar = app.find("scroll bar", "Waveform position").queryComponent().getExtents(0)
    x1, x2 = (bar.x + int((t * RATE) * 0.005) for t in (2.1 - 0.25, 2.1 + PHRASES[1][1] + 0.25))
    steps = [a for i in range(1, 9)
             for a in ("mousemove", x1 + (x2 - x1) * i // 8, bar.y - 40, "sleep", "0.02")]
    run("xdotool", "mousemove", x1, bar.y - 40, "mousedown", "1", *steps, "mouseup", "1")
    app.status(LOOP_TEXT)
    monitor, pauses = Monitor(), []

    def step(press, text, letter=None):
        # Loop (or not) to a phase and speak in it; given a letter, hear it
        # well begun and Pause ('.': the learner half-way through the phrase,
        # and watched for longer than the take would have needed to end).
        t = (app.press("Loop") if press else 0, app.status(text))[1]
        if text == SAY_TEXT:
            subprocess.Popen(["paplay", "-d", "mic_feed2", sounds + "/learner.wav"])
        if letter and letter != ".":
            wait_until("%s on the output" % letter, lambda: letter in monitor.labels(
                t, time.monotonic() - 0.05)[0], 10)
        if letter:
            time.sleep(0.1 if letter != "." else 1.0)
            pauses.append((app.press("Pause"), letter, 1.5 if letter != "." else 3.0))
            app.status(LOOP_TEXT)
            time.sleep(pauses[-1][2])
        return t

    try:
        begin = app.press("Loop")
        for _ in range(2):
            step(False, LISTEN_TEXT), step(False, SAY_TEXT), step(False, COMPARE_TEXT)
        third = step(False, LISTEN_TEXT, "N")
        step(True, SAY_TEXT, ".")
        for letter in "NL":
            step(True, SAY_TEXT), step(False, COMPARE_TEXT, letter)
        # Two cycles: the phrase, silence while the learner speaks, the phrase
        # again and the learner's take; the third cycle may have begun.
        text, levels = monitor.labels(begin, third)
        # (letter, first window, last window + 1) of each sound lasting more
        # than 40 ms; shorter ones are a sound's edges.
        runs = [(m[1], m.start(), m.end()) for m in re.finditer(r"([^.])\1{2,}", text)]
        expect("".join(r[0] for r in runs) in ("NNLNNL", "NNLNNLN"),
               "expected the phrase, the phrase and the take twice, heard %s" % text)
        lengths = [((j - i) * WINDOW, PHRASES[1][1] if c == "N" else LEARNER[1])
                   for c, i, j in runs[:6]]
        expect(all(abs(a - b) < 0.1 for a, b in lengths), "lengths %s: %s" % (lengths, text))
        level = {c: np.median([np.median(levels[i:j]) for d, i, j in runs if d == c]) for c in "NL"}
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
        app, moved = App(binary, work, "first-run"), (100, 150, 800, 500)
        app.window(PLACE)
        expect(app.status() == FIRST_TEXT, "first status: '%s'" % app.status())
        train(app, sounds)
        run("xdotool", "windowmove", app.wid, *moved[:2], "windowsize", app.wid, *moved[2:])
        app.window(moved)
        want = dict(zip(("Left", "Top", "Width", "Height", "SpkVolPos", "McVolPos"),
                        map(str, moved + (SPK_VOL, MIC_VOL))), InputDeviceName="Test Microphone 2",
                    File0=sounds + "/narrator.mp3", File1=sounds + "/decoy.mp3")
        got = app.close()
        expect(want.items() <= got.items(), "stored %s, expected %s" % (got, want))
        app = App(binary, work, "second-run", "decoy.mp3", cwd=sounds)
        app.window(moved)
        app.status(LOADED_TEXT)
        expect(app.close()["File0"] == sounds + "/decoy.mp3", "the named file not first")
    finally:
        app and app.proc.kill()
        stop_pulse()


def no_audio(binary, work):
    # Without a sound server, and with one that has no microphone, the
    # learner is told why, no window opens and nothing is saved.
    open(work + "/client.conf", "w").write("autospawn = no\n")
    os.environ.update(PULSE_SERVER="unix:%s/none" % work, PULSE_CLIENTCONFIG=work + "/client.conf")
    # Each box's title, then words its text holds; the last box is the same.
    for name, mics, expected in (
            ("no-server", None, ["Error|CreateClassEnumerator|Connection refused",
                                 "Error|m_MonikerList.EnumFilters()"]),
            ("no-microphone", 0, ["Error|CreateClassEnumerator", "No audio capture hardware!|"
                                  "There were no audio capture devices detected on this system."])):
        stop_pulse = start_pulse(work, mics) if mics is not None else lambda: None
        app = App(binary, work, name)
        try:
            seen = app.messages()
        finally:
            app.proc.kill()
            stop_pulse()
        expect(len(seen) == len(expected) + 1 and all(
            title == want.split("|")[0] and all(w in text for w in want.split("|")[1:])
            for (title, text), want in zip(seen, expected + ["Error|EnumInputDevices()"])),
            "%s: messages %s, expected %s" % (name, seen, expected))
        expect(app.proc.returncode == 0 and stored(work) == {},
               "%s: exit code %s, or settings saved" % (name, app.proc.returncode))


def main(story, binary):
    work = os.path.join(os.environ.get("SAYALIKE_WORK") or os.environ.get("TMPDIR", "/tmp"), story)
    if not os.environ.get("SAYALIKE_E2E_INSIDE"):
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        os.environ["SAYALIKE_E2E_INSIDE"] = "1"
        return subprocess.run(["env", "-u", "WAYLAND_DISPLAY", "-u", "SESSION_MANAGER", "xvfb-run",
                               "-a", "-e", work + "/xvfb.log", "-s", "-screen 0 1280x1024x24 "
                               "-noreset", "dbus-run-session", "--", "/usr/bin/python3",
                               __file__, story, os.path.abspath(binary)]).returncode
    [os.makedirs(work + "/" + d, 0o700) for d in "config/Sayalike sounds runtime tmp home".split()]
    os.environ.update(XDG_CONFIG_HOME=work + "/config", XDG_RUNTIME_DIR=work + "/runtime",
                      TMPDIR=work + "/tmp", HOME=work + "/home", QT_QPA_PLATFORM="xcb",
                      QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    try:
        {"session": session, "no_audio": no_audio}[story](binary, work)
    except (AssertionError, subprocess.SubprocessError) as failure:
        print("[%s] FAIL: %s" % (story, failure), file=sys.stderr)
        logs = sorted(os.path.join(work, f) for f in os.listdir(work) if f.endswith(".log"))
        print(run("tail", "-n", "20", *logs, check=False), file=sys.stderr)
        return 1
    return print("[%s] passed" % story) or 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
