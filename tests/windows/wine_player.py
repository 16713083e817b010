#!/usr/bin/env python3
"""Runs the Windows build under Wine on a virtual display, each time in a fresh
Wine prefix under a temporary HOME, and checks it as a person would use it.

  dialog   the dialog appears centred (a screenshot is saved in --out), Escape
           and foreign commands leave it open, a click on "close" and a
           WM_CLOSE end the process with exit code 0 within two seconds, all
           while the music plays; with a song that does not load and without
           a sound device the dialog behaves the same and nothing is heard
  capture  the program's sound, captured through an ALSA file output, equals
           vinto-render's rendering of the same song
  pitch    the pitch probe gives the same results natively and under Wine

usage: wine_player.py dialog  --exe vinto.exe --send vinto-send.exe --out DIR
                              [--unplayable vinto-unplayable.exe]
       wine_player.py capture --exe vinto.exe --send vinto-send.exe --out DIR
                              --render vinto-render --song song.xm [--seconds N]
       wine_player.py pitch   --native-probe PROGRAM --windows-probe PROGRAM.exe --out DIR
Each check prints one line; the exit code is 1 when any failed."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

SCREEN = (1024, 768)
WM_CLOSE = 0x0010
WM_COMMAND = 0x0111
IDC_CLOSE = 1003
IDCANCEL = 2
CLOSE_LIMIT = 2.0  # seconds from the close to the end of the process
ASOUNDRC = """# The default output writes what it is given, untouched, to a file.
pcm.!default {
    type file
    slave.pcm "null"
    file "%s"
    format "raw"
}
"""


def find_wine():
    for path in (os.environ.get("VINTO_WINE", ""), "/usr/lib/wine/wine64", shutil.which("wine64") or "",
                 shutil.which("wine") or ""):
        if path and os.access(path, os.X_OK):
            return path
    sys.exit("wine64 not found")


def find_wineserver(wine):
    beside = os.path.join(os.path.dirname(wine), "wineserver")
    return beside if os.access(beside, os.X_OK) else (shutil.which("wineserver") or "wineserver")


class Session:
    """A virtual display and a fresh Wine prefix under a temporary HOME."""

    def __init__(self, out_dir, sound_file=None):
        self.wine = find_wine()
        self.wineserver = find_wineserver(self.wine)
        self.root = tempfile.mkdtemp(prefix="vinto-wine-")
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "%dx%dx24" % SCREEN, "-nolisten", "tcp"],
            pass_fds=[write_fd], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            display = f.readline().strip()
        if not display:
            raise RuntimeError("Xvfb did not start")
        home = os.path.join(self.root, "home")
        os.makedirs(home)
        # The default sound output writes to a file: the program plays as it
        # would on a machine with a sound card, and what it plays can be read.
        self.sound_file = sound_file or os.path.join(self.root, "sound.raw")
        with open(os.path.join(home, ".asoundrc"), "w") as f:
            f.write(ASOUNDRC % self.sound_file)
        self.env = dict(os.environ, DISPLAY=":" + display, HOME=home, WINEPREFIX=os.path.join(self.root, "prefix"),
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", XDG_RUNTIME_DIR=self.root)
        self.env.pop("PULSE_SERVER", None)
        self.out_dir = out_dir
        started = time.monotonic()
        self.run_wine(["wineboot", "-i"])
        subprocess.run([self.wineserver, "-w"], env=self.env, timeout=120)
        # Without a window manager, Wine would wait two seconds for one to
        # acknowledge each hidden window: let Wine place the windows itself.
        self.run_wine(["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"])
        self.set_audio("alsa")
        print("      wine prefix ready in %.1f s on display :%s" % (time.monotonic() - started, display))

    def set_audio(self, driver):
        """Chooses Wine's sound driver; "" leaves it without any sound device."""
        self.run_wine(["reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Audio", "/d", driver, "/f"])
        subprocess.run([self.wineserver, "-w"], env=self.env, timeout=120)

    def sound_bytes(self):
        return os.path.getsize(self.sound_file) if os.path.exists(self.sound_file) else 0

    def run_wine(self, args, timeout=120):
        return subprocess.run([self.wine] + args, env=self.env, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    def start(self, exe):
        return subprocess.Popen([self.wine, exe], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def xdotool(self, *args):
        return subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True).stdout

    def close(self):
        subprocess.run([self.wineserver, "-k"], env=self.env, timeout=60)
        self.xvfb.terminate()
        self.xvfb.wait()
        shutil.rmtree(self.root, ignore_errors=True)


class Checks:
    def __init__(self):
        self.failed = 0

    def __call__(self, ok, text):
        print(("ok    " if ok else "FAIL  ") + text, flush=True)
        self.failed += 0 if ok else 1


class Player:
    """One run of vinto.exe in a session."""

    def __init__(self, session, exe, send):
        self.session, self.send = session, send
        self.name = os.path.basename(exe)
        self.process = session.start(exe)
        self.window = None
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and self.process.poll() is None:
            found = session.xdotool("search", "--onlyvisible", "--classname", self.name).split()
            if found:
                self.window = found[0]
                break
            time.sleep(0.1)
        time.sleep(0.5)  # let the dialog paint

    def geometry(self):
        values = {}
        for line in self.session.xdotool("getwindowgeometry", "--shell", self.window).splitlines():
            key, _, value = line.partition("=")
            values[key] = int(value)
        return values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]

    def visible(self):
        return self.name and bool(self.session.xdotool("search", "--onlyvisible", "--classname", self.name).split())

    def tool(self, *args):
        return self.session.run_wine([self.send] + [str(a) for a in args], timeout=60)

    def wait_exit(self, limit, started=None):
        """(exit code or None, seconds since started) of the process ending within limit seconds."""
        started = time.monotonic() if started is None else started
        try:
            code = self.process.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            code = None
        return code, time.monotonic() - started

    def still_open(self, seconds=1.0):
        time.sleep(seconds)
        return self.process.poll() is None and self.visible()

    def end(self):
        if self.process.poll() is None:
            self.tool("post", WM_CLOSE, 0)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def dialog_checks(args, check):
    session = Session(args.out)
    try:
        player = Player(session, args.exe, args.send)
        check(player.window is not None, "the dialog appears")
        if player.window is None:
            player.end()
            return
        x, y, width, height = player.geometry()
        centre_x, centre_y = x + width / 2, y + height / 2
        check(abs(centre_x - SCREEN[0] / 2) <= 1 and abs(centre_y - SCREEN[1] / 2) <= 1,
              "centred: %dx%d at %d,%d on a %dx%d screen" % (width, height, x, y, *SCREEN))
        os.makedirs(args.out, exist_ok=True)
        shot = os.path.join(args.out, "vinto-dialog.png")
        subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (width + 80, height + 80, x - 40, y - 40),
                        shot], env=session.env, check=False)
        print("      screenshot " + shot)

        def running(player):
            # A check that failed ended the process: the next one gets a new one.
            if player.process.poll() is None:
                return player
            player.end()
            return Player(session, args.exe, args.send)

        session.xdotool("windowfocus", "--sync", player.window)
        session.xdotool("key", "Escape")
        check(player.still_open(), "Escape leaves the dialog open")
        player = running(player)
        check(player.tool("post", WM_COMMAND, IDCANCEL).returncode == 0 and player.still_open(),
              "WM_COMMAND IDCANCEL leaves it open")
        player = running(player)
        check(player.tool("post", WM_COMMAND, (1 << 16) | IDC_CLOSE).returncode == 0 and player.still_open(),
              "WM_COMMAND for close with notification code 1 leaves it open")
        player = running(player)
        # The keyboard does reach the dialog: space presses the focused button.
        session.xdotool("windowfocus", "--sync", player.window)
        session.xdotool("key", "space")
        code, seconds = player.wait_exit(5)
        check(code == 0, "space on the focused close button ends it (exit code %s)" % code)
        player.end()

        player = Player(session, args.exe, args.send)
        rect = player.tool("rect", IDC_CLOSE).stdout.split()
        if len(rect) == 4:
            left, top, right, bottom = map(int, rect)
            session.xdotool("mousemove", (left + right) // 2, (top + bottom) // 2)
            started = time.monotonic()
            session.xdotool("click", 1)
            code, seconds = player.wait_exit(10, started)
            check(code == 0 and seconds <= CLOSE_LIMIT,
                  "a click on close ends it: exit code %s after %.2f s" % (code, seconds))
        else:
            check(False, "the close button's rectangle is known")
        player.end()

        player = Player(session, args.exe, args.send)
        started = time.monotonic()
        player.tool("post", WM_CLOSE, 0)
        code, seconds = player.wait_exit(10, started)
        check(code == 0 and seconds <= CLOSE_LIMIT, "WM_CLOSE ends it: exit code %s after %.2f s" % (code, seconds))
        player.end()
        check(session.sound_bytes() > 0, "the music played meanwhile (%d bytes of sound)" % session.sound_bytes())

        # Failures are not shown: a song that does not load and a missing sound
        # device leave a silent player whose dialog behaves as usual.
        silent_runs = [("a song that is no XM module", args.unplayable, "alsa"),
                       ("no sound device", args.exe, "")]
        for what, exe, driver in silent_runs:
            if not exe:
                continue
            session.set_audio(driver)
            if os.path.exists(session.sound_file):
                os.remove(session.sound_file)
            player = Player(session, exe, args.send)
            time.sleep(1)
            rect = player.tool("rect", IDC_CLOSE).stdout.split() if player.window else []
            if len(rect) == 4:
                left, top, right, bottom = map(int, rect)
                session.xdotool("mousemove", (left + right) // 2, (top + bottom) // 2)
                started = time.monotonic()
                session.xdotool("click", 1)
                code, seconds = player.wait_exit(10, started)
            else:
                code, seconds = None, 0.0
            # The file output creates its file when a sound stream opens.
            check(player.window is not None and code == 0 and seconds <= CLOSE_LIMIT and
                  not os.path.exists(session.sound_file),
                  "with %s the dialog shows, plays nothing and closes: exit code %s after %.2f s" %
                  (what, code, seconds))
            player.end()
    finally:
        session.close()


FRAME_BYTES = 4  # 16-bit stereo


def first_sound(data):
    """Index of the first frame that is not silent, or None."""
    for i in range(0, len(data) - FRAME_BYTES + 1, FRAME_BYTES):
        if data[i:i + FRAME_BYTES] != b"\0" * FRAME_BYTES:
            return i // FRAME_BYTES
    return None


def capture_checks(args, check):
    """Captures the player's output through ALSA and compares it with vinto-render."""
    os.makedirs(args.out, exist_ok=True)
    captured_path = os.path.join(args.out, "vinto-capture.raw")
    if os.path.exists(captured_path):
        os.remove(captured_path)
    session = Session(args.out, sound_file=captured_path)
    try:
        player = Player(session, args.exe, args.send)
        check(player.window is not None, "the player runs")
        time.sleep(args.seconds)
        started = time.monotonic()
        player.tool("post", WM_CLOSE, 0)
        code, seconds = player.wait_exit(10, started)
        check(code == 0 and seconds <= CLOSE_LIMIT,
              "WM_CLOSE while playing ends it: exit code %s after %.2f s" % (code, seconds))
        player.end()
    finally:
        session.close()

    captured = open(captured_path, "rb").read() if os.path.exists(captured_path) else b""
    frames = len(captured) // FRAME_BYTES
    captured = captured[:frames * FRAME_BYTES]
    check(frames > 44100, "captured %d frames (%.1f s of sound in %.1f s of playing)" %
          (frames, frames / 44100, args.seconds))
    if frames <= 44100:
        return
    rendered_path = os.path.join(args.out, "vinto-capture-render.raw")
    subprocess.run([args.render, "--mode", "exact", "--frames", str(frames), args.song, rendered_path], check=True,
                   stderr=subprocess.DEVNULL)
    rendered = open(rendered_path, "rb").read()
    sound_captured, sound_rendered = first_sound(captured), first_sound(rendered)
    if sound_captured is None or sound_rendered is None:
        check(False, "both have sound (captured from frame %s, rendered from frame %s)" %
              (sound_captured, sound_rendered))
        return
    # Whatever the output path puts before the program's first frame.
    lead = sound_captured - sound_rendered
    print("      Wine's output starts %d frames (%.1f ms) before the program's first frame" %
          (lead, lead * 1000 / 44100))
    check(lead >= 0 and captured[:lead * FRAME_BYTES] == b"\0" * (lead * FRAME_BYTES),
          "only silence before the program's first frame")
    body = captured[max(lead, 0) * FRAME_BYTES:]
    same = body == rendered[:len(body)]
    if not same:
        first = next(i for i in range(0, len(body), FRAME_BYTES) if body[i:i + FRAME_BYTES] != rendered[i:i + FRAME_BYTES])
        print("      first differing frame %d of %d" % (first // FRAME_BYTES, len(body) // FRAME_BYTES))
    check(same, "the %d captured frames equal vinto-render's rendering, bit for bit" % (len(body) // FRAME_BYTES))


def pitch_checks(args, check):
    """Runs the pitch probe natively and under Wine and compares the results line by line."""
    native = subprocess.run([args.native_probe], check=True, stdout=subprocess.PIPE).stdout.decode().splitlines()
    session = Session(args.out)
    try:
        result = session.run_wine([args.windows_probe], timeout=600)
    finally:
        session.close()
    windows = result.stdout.replace("\r", "").splitlines()
    check(result.returncode == 0 and len(windows) == len(native) and len(native) > 40000,
          "both probes ran: %d and %d lines" % (len(native), len(windows)))
    differing = [(a, b) for a, b in zip(native, windows) if a != b]
    for a, b in differing[:10]:
        print("      linux %-30s windows %s" % (a, b))
    check(not differing, "LinearFrequency and AmigaNotePeriod agree over the whole input range (%d differ)" %
          len(differing))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["dialog", "capture", "pitch"])
    parser.add_argument("--exe")
    parser.add_argument("--send")
    parser.add_argument("--unplayable", help="vinto.exe with a song that does not load")
    parser.add_argument("--out", required=True)
    parser.add_argument("--render")
    parser.add_argument("--song")
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--native-probe")
    parser.add_argument("--windows-probe")
    args = parser.parse_args()
    for name in ("exe", "send", "unplayable", "out", "render", "song", "native_probe", "windows_probe"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    check = Checks()
    {"dialog": dialog_checks, "capture": capture_checks, "pitch": pitch_checks}[args.mode](args, check)
    print("%d checks failed" % check.failed if check.failed else "all checks passed")
    return 1 if check.failed else 0


if __name__ == "__main__":
    sys.exit(main())
