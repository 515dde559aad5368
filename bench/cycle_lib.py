#!/usr/bin/python3
"""What the cycle benchmark is built of: the sounds it plays, a recorder of a PulseAudio source with a wall-clock time base, a reader
of the program's status text over the accessibility bus, mouse clicks, and the
signal analysis that finds known sounds in a recording.

Every time in this module is time.monotonic(), the clock C++'s steady_clock
reads too, so programs of the same run can compare their time stamps.

Run as a program it makes the sounds: cycle_lib.py sounds FOLDER
"""
import json
import os
import subprocess
import sys
import threading
import time
import wave

import numpy as np

RATE = 44100
MIC_RATE = 16000
# The narrator's three phrases; the test selects the middle one.
PHRASES = ("Good morning.", "How are you today?", "See you later.")
LEARNER_TEXT = "How are you doing?"
LEAD_SECONDS = 0.5
GAP_SECONDS = 1.0
ROOM_SECONDS = 240

LOOP_TEXT = 'Click the "Loop" button to begin training.'
LOADED_TEXT = "Drag your mouse through the oscillogram and select a particular part."
LISTEN_TEXT = 'Listen to the narrator. Click "Pause" button to stop the process.'
SAY_TEXT = 'Try to repeat what you have just heard. Click "Pause" button to stop the process.'
COMPARE_TEXT = ("Listen carefully how you and the narrator say the same phrase, check for "
                "pronunciation mistakes, compare both variants accurately.")


class Failure(Exception):
    """A check failed; the text says what was expected and what was seen."""


def run_tool(command, timeout=120):
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            timeout=timeout, check=False)
    if result.returncode != 0:
        raise Failure("%s failed (%d): %s" % (command[0], result.returncode,
                                               result.stderr.decode(errors="replace").strip()))


# --- sounds ----------------------------------------------------------------------

def read_wav(path):
    """Samples of a 16-bit WAV file as float64, channels averaged; and its rate."""
    with wave.open(path, "rb") as f:
        if f.getsampwidth() != 2:
            raise Failure("%s: expected 16-bit samples, found %d bytes" % (path, f.getsampwidth()))
        data = np.frombuffer(f.readframes(f.getnframes()), dtype="<i2").astype(np.float64)
        channels = f.getnchannels()
        rate = f.getframerate()
    if channels > 1:
        data = data.reshape(-1, channels).mean(axis=1)
    return data, rate


def speak(path, text, voice, speed):
    raw = path + ".raw.wav"
    run_tool(["espeak-ng", "-v", voice, "-s", str(speed), "-w", raw, text])
    # espeak-ng pads its speech with silence; the phrases are timed without it.
    run_tool(["sox", raw, path, "silence", "1", "0.02", "0.5%",
              "reverse", "silence", "1", "0.02", "0.5%", "reverse"])
    os.remove(raw)


def decode_like_the_program(mp3, wav):
    """The MP3 decoded by GStreamer as the program decodes it, so that sample
    positions in the reference are the program's own (encoder delay included)."""
    run_tool(["gst-launch-1.0", "-q", "filesrc", "location=" + mp3, "!", "decodebin", "!",
              "audioconvert", "!", "audioresample", "!",
              "audio/x-raw,format=S16LE,channels=1,rate=%d" % RATE, "!", "wavenc", "!",
              "filesink", "location=" + wav])


def low_noise(seconds, rms, seed):
    """Noise below 2 kHz at the microphone's rate: it survives the resampling
    to the output unchanged and matches nothing but itself."""
    rng = np.random.default_rng(seed)
    n = int(seconds * MIC_RATE)
    spectrum = np.fft.rfft(rng.standard_normal(n))
    spectrum[int(2000 * n / MIC_RATE):] = 0
    noise = np.fft.irfft(spectrum, n)
    noise *= rms / np.sqrt(np.mean(noise ** 2))
    fade = int(0.01 * MIC_RATE)
    noise[:fade] *= np.linspace(0, 1, fade)
    noise[-fade:] *= np.linspace(1, 0, fade)
    return noise


def make_room_tone(path, seconds):
    """A quiet room for the microphone: far below the voice test's threshold
    (a mean of 58 for 16-bit mono) but not digital silence, so that the quiet
    parts of the learner's take are heard on the output and the take's length
    can be measured there."""
    write_wav(path, low_noise(seconds, 40, 7), MIC_RATE)


def make_sounds(folder):
    """Writes into FOLDER: narrator.mp3 (the phrases, 1 s apart, 44.1 kHz
    stereo), narrator-ref.wav (it decoded, mono), learner.wav (another voice,
    16 kHz mono, the microphone's format), learner-ref.wav (the same at 44.1
    kHz), room.wav (a quiet room for the microphone) and sounds.json (the
    phrases' spans in the decoded reference)."""
    os.makedirs(folder, exist_ok=True)
    parts = []
    for i, text in enumerate(PHRASES):
        part = os.path.join(folder, "phrase%d.wav" % (i + 1))
        speak(part, text, "en-us", 160)
        parts.append(part)
    lead = os.path.join(folder, "lead.wav")
    gap = os.path.join(folder, "gap.wav")
    run_tool(["sox", "-n", "-r", "22050", "-c", "1", "-b", "16", lead, "trim", "0",
              str(LEAD_SECONDS)])
    run_tool(["sox", "-n", "-r", "22050", "-c", "1", "-b", "16", gap, "trim", "0",
              str(GAP_SECONDS)])
    sequence = [lead]
    for part in parts:
        sequence += [part, gap]
    narrator_wav = os.path.join(folder, "narrator.wav")
    run_tool(["sox"] + sequence + ["-r", str(RATE), "-c", "2", narrator_wav])
    narrator = os.path.join(folder, "narrator.mp3")
    run_tool(["lame", "--quiet", "-b", "128", narrator_wav, narrator])
    decode_like_the_program(narrator, os.path.join(folder, "narrator-ref.wav"))

    learner_raw = os.path.join(folder, "learner-speech.wav")
    speak(learner_raw, LEARNER_TEXT, "en-gb+f3", 150)
    # A little silence on both sides, as a learner leaves it.
    learner = os.path.join(folder, "learner.wav")
    run_tool(["sox", learner_raw, "-r", str(MIC_RATE), "-c", "1", "-b", "16", learner,
              "pad", "0.3", "0.2"])
    run_tool(["sox", learner, "-r", str(RATE), os.path.join(folder, "learner-ref.wav")])
    make_room_tone(os.path.join(folder, "room.wav"), ROOM_SECONDS)

    reference, _ = read_wav(os.path.join(folder, "narrator-ref.wav"))
    spans = loud_spans(reference, RATE, min_gap=0.4)
    if len(spans) != len(PHRASES):
        raise Failure("the decoded narrator file should hold %d phrases, found %d: %s" %
                      (len(PHRASES), len(spans), spans))
    learner_data, _ = read_wav(os.path.join(folder, "learner-ref.wav"))
    info = {"phrases": [[s / RATE, e / RATE] for s, e in spans],
            "narrator_seconds": len(reference) / RATE,
            "learner_speech": [[s / RATE, e / RATE]
                               for s, e in loud_spans(learner_data, RATE, min_gap=0.4)]}
    with open(os.path.join(folder, "sounds.json"), "w") as f:
        json.dump(info, f, indent=1)
    return info


# --- signal analysis -------------------------------------------------------------

def frame_levels(signal, rate, window=0.01):
    """RMS of consecutive windows."""
    n = max(1, int(rate * window))
    usable = len(signal) // n * n
    if usable == 0:
        return np.zeros(0)
    return np.sqrt(np.mean(signal[:usable].reshape(-1, n) ** 2, axis=1))


def loud_spans(signal, rate, min_gap=0.3, threshold=None, window=0.01):
    """[start, end) sample spans where the signal is loud, gaps shorter than
    min_gap seconds bridged. The threshold defaults to 2 % of the loudest
    window's RMS."""
    levels = frame_levels(signal, rate, window)
    if len(levels) == 0:
        return []
    if threshold is None:
        threshold = 0.02 * levels.max()
    n = int(rate * window)
    loud = np.flatnonzero(levels > max(threshold, 1e-9))
    spans = []
    for index in loud:
        start, end = index * n, (index + 1) * n
        if spans and start - spans[-1][1] <= min_gap * rate:
            spans[-1][1] = end
        else:
            spans.append([start, end])
    return [(int(s), int(e)) for s, e in spans]


def normalized_xcorr(signal, template):
    """Normalised cross-correlation of template at every offset of signal
    (1.0: the same sound, at any level)."""
    n, m = len(signal), len(template)
    if m == 0 or n < m:
        return np.zeros(0)
    template = template - template.mean()
    size = 1 << int(np.ceil(np.log2(n + m)))
    product = np.fft.irfft(np.fft.rfft(signal, size) * np.conj(np.fft.rfft(template, size)),
                           size)[: n - m + 1]
    cumulative = np.concatenate(([0.0], np.cumsum(signal)))
    cumulative2 = np.concatenate(([0.0], np.cumsum(signal * signal)))
    window_sum = cumulative[m:] - cumulative[:-m]
    window_energy = cumulative2[m:] - cumulative2[:-m] - window_sum ** 2 / m
    denominator = np.sqrt(np.maximum(window_energy, 0) * np.sum(template * template))
    # Silent windows correlate with nothing.
    floor = 1e-6 * max(denominator.max(), 1e-9)
    return np.where(denominator > floor, product / np.maximum(denominator, floor), 0.0)


def find_occurrences(signal, template, threshold):
    """Offsets (with their scores) where template occurs in signal, best first
    within each stretch, occurrences at least a template length apart."""
    scores = normalized_xcorr(signal, template)
    found = []
    candidates = np.flatnonzero(scores >= threshold)
    m = len(template)
    i = 0
    while i < len(candidates):
        group_end = i
        while group_end + 1 < len(candidates) and candidates[group_end + 1] - candidates[i] < m:
            group_end += 1
        group = candidates[i:group_end + 1]
        best = group[np.argmax(scores[group])]
        found.append((int(best), float(scores[best])))
        i = group_end + 1
    return found


def best_match(signal, template):
    scores = normalized_xcorr(signal, template)
    if len(scores) == 0:
        return -1, 0.0
    best = int(np.argmax(scores))
    return best, float(scores[best])


# --- recording a source ----------------------------------------------------------

class Recorder:
    """Records a PulseAudio source with parec (16-bit mono) on a thread of its
    own, and keeps the time base of the stream: frame n was recorded at
    t0 + n / speed. A source that never stops (a monitor of a sink kept busy,
    a clock-driven microphone) delivers frames steadily, but a virtual sink's
    pace can differ from the clock's by a few hundred parts per million, so
    the speed is fitted to the arrivals (frames so far against arrival time),
    and t0 is the earliest any frame could have been recorded: the lower
    envelope of the arrivals."""

    def __init__(self, device, rate, raw_path=None):
        self.device = device
        self.rate = rate
        self.raw_path = raw_path
        self._chunks = []
        self._frames = 0
        self._arrivals = []  # (frames so far, time)
        self._fit = None  # (frames when fitted, t0, frames per second)
        self._lock = threading.Lock()
        self._partial = b""
        self.process = subprocess.Popen(
            ["parec", "-d", device, "--latency-msec=20", "--format=s16le",
             "--rate=%d" % rate, "--channels=1", "--raw"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()

    def _read(self):
        fd = self.process.stdout.fileno()
        while True:
            data = os.read(fd, 1 << 16)
            now = time.monotonic()
            if not data:
                return
            data = self._partial + data
            usable = len(data) // 2 * 2
            self._partial = data[usable:]
            samples = np.frombuffer(data[:usable], dtype="<i2").astype(np.float64)
            with self._lock:
                self._chunks.append(samples)
                self._frames += len(samples)
                self._arrivals.append((self._frames, now))

    def _time_base(self):
        with self._lock:
            frames = self._frames
            if self._fit is not None and frames - self._fit[0] < self.rate // 2:
                return self._fit[1], self._fit[2]
            arrivals = np.array(self._arrivals, dtype=np.float64)
        if len(arrivals) == 0:
            return float("inf"), float(self.rate)
        n, t = arrivals[:, 0], arrivals[:, 1]
        speed = float(self.rate)
        # Over a second or more the fitted pace is better than the nominal one.
        if t[-1] - t[0] > 1.0:
            speed = 1.0 / np.polyfit(n, t, 1)[0]
        t0 = float(np.min(t - n / speed))
        with self._lock:
            self._fit = (frames, t0, speed)
        return t0, speed

    def wait_started(self, timeout=10.0):
        deadline = time.monotonic() + timeout
        while self.frames() < self.rate // 10:
            if self.process.poll() is not None:
                raise Failure("parec on %s ended: %s" % (
                    self.device, self.process.stderr.read().decode(errors="replace").strip()))
            if time.monotonic() > deadline:
                raise Failure("parec on %s delivered no sound within %.0f s" %
                              (self.device, timeout))
            time.sleep(0.02)

    def frames(self):
        with self._lock:
            return self._frames

    def t0(self):
        return self._time_base()[0]

    def speed(self):
        """Frames per second of the clock."""
        return self._time_base()[1]

    def time_of(self, frame):
        t0, speed = self._time_base()
        return t0 + frame / speed

    def frame_at(self, t):
        t0, speed = self._time_base()
        return int(round((t - t0) * speed))

    def samples(self, start=0, end=None):
        with self._lock:
            data = np.concatenate(self._chunks) if self._chunks else np.zeros(0)
            self._chunks = [data]
        return data[start:end]

    def wait_until_frame(self, frame, timeout):
        deadline = time.monotonic() + timeout
        while self.frames() < frame:
            if time.monotonic() > deadline:
                raise Failure("the recording of %s stopped growing" % self.device)
            time.sleep(0.005)

    def wait_loud(self, since_frame, threshold, timeout, window=0.01):
        """Waits until a window after since_frame has an RMS above threshold;
        returns its first frame, or None when the time runs out."""
        deadline = time.monotonic() + timeout
        n = int(self.rate * window)
        position = since_frame
        while time.monotonic() < deadline:
            available = self.frames()
            if available >= position + n:
                chunk = self.samples(position, available)
                levels = frame_levels(chunk, self.rate, window)
                loud = np.flatnonzero(levels > threshold)
                if len(loud):
                    return position + int(loud[0]) * n
                position += len(levels) * n
            time.sleep(0.005)
        return None

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self._thread.join(timeout=5)
        with self._lock:
            self._fit = None
        data = self.samples()
        if self.raw_path:
            data.astype("<i2").tofile(self.raw_path)
        return data


def write_wav(path, samples, rate):
    with wave.open(path, "wb") as f:
        f.setnchannels(1)
        f.setsampwidth(2)
        f.setframerate(rate)
        f.writeframes(np.clip(samples, -32768, 32767).astype("<i2").tobytes())


# --- the program's window ----------------------------------------------------------

class StatusWatcher:
    """Reads the text of the program's status bar over the accessibility bus.
    While the program's UI thread is busy (a capture graph starting), a read
    waits for it, so a text seen is a text whose entry action has finished."""

    def __init__(self, pid, timeout=10.0):
        import pyatspi  # only where a display and a session bus exist
        self._pyatspi = pyatspi
        self.pid = pid
        self.changes = []  # (time seen, text)
        self._label = None
        deadline = time.monotonic() + timeout
        while self._label is None:
            self._label = self._find_label()
            if self._label is None:
                if time.monotonic() > deadline:
                    raise Failure("no status text of process %d on the accessibility bus "
                                  "after %.0f s" % (pid, timeout))
                time.sleep(0.2)

    def _find_label(self):
        desktop = self._pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            try:
                app = desktop.getChildAtIndex(index)
                if app is None or app.get_process_id() != self.pid:
                    continue
                found = self._search(app, 0)
                if found is not None:
                    return found
            except Exception:  # an application may leave the bus while we look
                continue
        return None

    def _search(self, node, depth):
        if node is None or depth > 12:
            return None
        if node.getRoleName() == "label" and node.parent is not None and \
                node.parent.getRoleName() == "status bar":
            return node
        for index in range(node.childCount):
            found = self._search(node.getChildAtIndex(index), depth + 1)
            if found is not None:
                return found
        return None

    def text(self):
        # Names are cached by the accessibility library; the status changes
        # without the cache hearing of it unless events are listened to.
        try:
            self._label.clearCache()
        except Exception:
            pass
        text = self._label.name or ""
        now = time.monotonic()
        if not self.changes or self.changes[-1][1] != text:
            self.changes.append((now, text))
        return text

    def messages(self):
        """Texts of the message boxes the program shows."""
        texts = []
        app = self._label.getApplication()
        for index in range(app.childCount):
            try:
                window = app.getChildAtIndex(index)
                if window.getRoleName() not in ("alert", "dialog") or \
                        not window.getState().contains(self._pyatspi.STATE_SHOWING):
                    continue
                text = " ".join(self._labels(window, 0))
                if text:
                    texts.append(text)
            except Exception:
                continue
        return texts

    def _labels(self, node, depth):
        if node is None or depth > 6:
            return []
        found = [node.name] if node.getRoleName() == "label" and node.name else []
        for index in range(node.childCount):
            found += self._labels(node.getChildAtIndex(index), depth + 1)
        return found

    def wait_for(self, expected, timeout, poll=0.01):
        """Waits until the status is one of expected (a text or a tuple of
        texts); returns the time it was first seen. A message box ends the
        wait: nobody is there to answer it."""
        wanted = (expected,) if isinstance(expected, str) else tuple(expected)
        deadline = time.monotonic() + timeout
        next_look = time.monotonic() + 0.5
        while True:
            text = self.text()
            if text in wanted:
                return self.changes[-1][0] if self.changes[-1][1] == text else time.monotonic()
            now = time.monotonic()
            if now > next_look:
                next_look = now + 0.5
                shown = self.messages()
                if shown:
                    raise Failure("status text: expected '%s'; the program showed a message "
                                  "instead: %s" % ("' or '".join(wanted), " | ".join(shown)))
            if now > deadline:
                raise Failure("status text: expected '%s' within %.0f s; it is '%s'" %
                              ("' or '".join(wanted), timeout, text))
            time.sleep(poll)


def xdotool(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], check=True, timeout=10,
                   stdout=subprocess.DEVNULL)


def click(wid, x, y):
    """Clicks at window coordinates; returns the time just before the click."""
    xdotool("mousemove", "--window", wid, x, y)
    t = time.monotonic()
    xdotool("click", "1")
    return t


def drag(wid, y, x1, x2, steps=8):
    xdotool("mousemove", "--window", wid, x1, y)
    xdotool("mousedown", "1")
    for i in range(1, steps + 1):
        xdotool("mousemove", "--window", wid, x1 + (x2 - x1) * i // steps, y)
        time.sleep(0.02)
    xdotool("mouseup", "1")


def window_size(wid):
    out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(wid)], check=True,
                         timeout=10, stdout=subprocess.PIPE, text=True).stdout
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    return int(values["WIDTH"]), int(values["HEIGHT"])


def screenshot(wid, path):
    subprocess.run(["import", "-window", str(wid), path], check=True, timeout=20,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


def mean_colour(path, x, y, size):
    """Mean red, green and blue (0..255) of a size x size square of a picture."""
    out = subprocess.run(
        ["convert", path, "-crop", "%dx%d+%d+%d" % (size, size, x, y), "+repage",
         "-format", "%[fx:255*mean.r] %[fx:255*mean.g] %[fx:255*mean.b]", "info:"],
        check=True, timeout=20, stdout=subprocess.PIPE, text=True).stdout.split()
    return tuple(float(v) for v in out)


class Layout:
    """Where the main window puts things, from its client size: the five big
    buttons 45 x 45 at 47 pixels above the bottom of the oscillogram area (Play
    at x 30, Loop at 75), the two lamps in the header, and the waveform inside
    30-pixel side margins, 40 pixels below the top, 50 pixels above the bottom,
    under a 20-pixel time axis and above an 18-pixel scroll bar."""

    STATUS_BAR = 22
    RECENT_LIST = 100
    RECENT_LABEL = 13
    SEPARATOR = 2

    def __init__(self, width, height):
        self.width, self.height = width, height
        list_top = height - self.STATUS_BAR - self.RECENT_LIST
        label_top = list_top - self.RECENT_LABEL - 5
        separator_top = label_top - self.SEPARATOR - 5
        bottom = separator_top - 10
        self.recent_first_item = (60, list_top + 10)
        self.play = (30 + 22, bottom - 47 + 22)
        self.loop = (75 + 22, bottom - 47 + 22)
        self.listen_lamp = (width - 25 - 140, 15)
        self.say_lamp = (width - 25 - 140 + 65, 15)
        # Column 0 of the waveform is its left frame line at x 30.
        self.wave_left = 30
        self.wave_right = width - 30
        self.wave_top = 40 + 20
        self.wave_bottom = bottom - 50 - 18
        self.wave_middle = (self.wave_top + self.wave_bottom) // 2

    def column_x(self, column):
        return self.wave_left + column


def lamp_lit(shot, position):
    r, g, _ = mean_colour(shot, position[0] + 5, position[1] + 5, 6)
    return g - r > 40


def main(argv):
    if len(argv) == 3 and argv[1] == "sounds":
        info = make_sounds(argv[2])
        print(json.dumps(info))
        return 0
    print("usage: cycle_lib.py sounds FOLDER", file=sys.stderr)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except Failure as failure:
        print("cycle_lib: %s" % failure, file=sys.stderr)
        sys.exit(1)
