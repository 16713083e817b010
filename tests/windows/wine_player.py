#!/usr/bin/env python3
"""The Windows build under Wine on a virtual display, in a fresh Wine prefix:
  dialog   appears centred (screenshot in --out); Escape leaves it open; a click
           on close and WM_CLOSE end it with exit code 0 within 2 s while the
           music plays; with a song that does not load and without a sound
           device it shows, plays nothing and closes the same
  capture  its sound, through an ALSA file output, equals vinto-render's rendering
  pitch    the pitch probe prints the same natively and under Wine
usage: wine_player.py MODE --out DIR [--exe --send --unplayable --render --song --native-probe --windows-probe]
Prints a line per check; the exit code is 1 when any failed."""
import argparse, os, shutil, subprocess, sys, tempfile, time

failures = []


def check(ok, text):
    print(("ok    " if ok else "FAIL  ") + text, flush=True)
    failures.extend([] if ok else [text])


class Session:
    """Xvfb and a Wine prefix under a temporary HOME whose default ALSA output writes raw sound to a file."""

    def __init__(self, sound):
        self.root = tempfile.mkdtemp(prefix="vinto-wine-")
        self.sound = sound or os.path.join(self.root, "sound.raw")
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten",
                                      "tcp"], pass_fds=[write_fd], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            display = f.readline().strip()
        os.makedirs(os.path.join(self.root, "home"))
        with open(os.path.join(self.root, "home", ".asoundrc"), "w") as f:
            f.write('pcm.!default { type file slave.pcm "null" file "%s" format "raw" }\n' % self.sound)
        self.wine = os.environ.get("VINTO_WINE") or shutil.which("wine64") or "/usr/lib/wine/wine64"
        server = os.path.join(os.path.dirname(self.wine), "wineserver")
        self.server = server if os.access(server, os.X_OK) else "wineserver"
        self.env = dict(os.environ, DISPLAY=":" + display, HOME=os.path.join(self.root, "home"), WINEDEBUG="-all",
                        WINEPREFIX=os.path.join(self.root, "prefix"), WINEDLLOVERRIDES="mscoree,mshtml=",
                        XDG_RUNTIME_DIR=self.root)
        self.env.pop("PULSE_SERVER", None)
        self.run(["wineboot", "-i"])
        # Without a window manager Wine would wait two seconds for one on every window.
        self.run(["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"])
        self.audio("alsa")

    def audio(self, driver):  # "": no sound device
        self.run(["reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Audio", "/d", driver, "/f"])
        subprocess.run([self.server, "-w"], env=self.env, timeout=120)

    def run(self, args, timeout=120):
        return subprocess.run([self.wine, *map(str, args)], env=self.env, timeout=timeout, text=True,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *map(str, args)], env=self.env, text=True, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL).stdout

    def start(self, exe):
        """(process, window id or None) of exe, its dialog painted."""
        process = subprocess.Popen([self.wine, exe], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(300):
            found = self.xdotool("search", "--onlyvisible", "--classname", os.path.basename(exe)).split()
            if found or process.poll() is not None:
                time.sleep(0.5)
                return process, (found or [None])[0]
            time.sleep(0.1)
        return process, None

    def ends(self, process, action, what, send):
        """Runs action; checks that the process then ends with exit code 0 within 2 s."""
        started = time.monotonic()
        action()
        try:
            code = process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            code = None
        seconds = time.monotonic() - started
        check(code == 0 and seconds <= 2, "%s: exit code %s after %.2f s" % (what, code, seconds))
        if process.poll() is None:
            self.run([send, "post", 0x10, 0], 60)  # WM_CLOSE
            process.kill()

    def click_close(self, send):
        rect = self.run([send, "rect", 1003], 60).stdout.split()  # the close button
        if len(rect) == 4:
            left, top, right, bottom = map(int, rect)
            self.xdotool("mousemove", (left + right) // 2, (top + bottom) // 2, "click", 1)

    def close(self):
        subprocess.run([self.server, "-k"], env=self.env, timeout=60)
        self.xvfb.terminate()
        self.xvfb.wait()
        shutil.rmtree(self.root, ignore_errors=True)


def dialog(a, s):
    process, window = s.start(a.exe)
    check(window is not None, "the dialog appears")
    shape = dict(line.split("=") for line in s.xdotool("getwindowgeometry", "--shell", window).split()) if window else {}
    x, y, w, h = (int(shape.get(k, -99)) for k in ("X", "Y", "WIDTH", "HEIGHT"))
    check(abs(x + w / 2 - 512) <= 1 and abs(y + h / 2 - 384) <= 1, "centred: %dx%d at %d,%d on 1024x768" % (w, h, x, y))
    subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w + 80, h + 80, x - 40, y - 40),
                    os.path.join(a.out, "vinto-dialog.png")], env=s.env)
    s.xdotool("windowfocus", "--sync", window, "key", "Escape")
    for command in (2, 1 << 16 | 1003):  # IDCANCEL, and close with a notification code that is no click
        s.run([a.send, "post", 0x111, command], 60)  # WM_COMMAND
    time.sleep(1)
    check(process.poll() is None, "Escape, IDCANCEL and a close command that is no click leave it open")
    s.ends(process, lambda: s.click_close(a.send), "a click on close ends it", a.send)
    process, _ = s.start(a.exe)
    s.ends(process, lambda: s.run([a.send, "post", 0x10, 0], 60), "WM_CLOSE ends it", a.send)
    check(os.path.exists(s.sound) and os.path.getsize(s.sound) > 0, "the music played meanwhile")
    # Failures are not shown: a silent player whose dialog behaves as usual.
    for what, exe, driver in (("a song that is no XM module", a.unplayable, "alsa"), ("no sound device", a.exe, "")):
        if not exe:
            continue
        s.audio(driver)
        if os.path.exists(s.sound):
            os.remove(s.sound)
        process, window = s.start(exe)
        check(window is not None, "with %s the dialog shows" % what)
        time.sleep(1)
        s.ends(process, lambda: s.click_close(a.send), "and closes", a.send)
        check(not os.path.exists(s.sound), "and plays nothing")


def capture(a, s):
    process, window = s.start(a.exe)
    check(window is not None, "the player runs")
    time.sleep(5)
    s.ends(process, lambda: s.run([a.send, "post", 0x10, 0], 60), "WM_CLOSE while playing", a.send)
    s.close()
    captured = open(s.sound, "rb").read() if os.path.exists(s.sound) else b""
    frames = len(captured) // 4
    check(frames > 44100, "captured %d frames" % frames)
    rendered_path = os.path.join(a.out, "vinto-capture-render.raw")
    subprocess.run([a.render, "--mode", "exact", "--frames", str(frames), a.song, rendered_path], check=True,
                   stderr=subprocess.DEVNULL)
    rendered = open(rendered_path, "rb").read()
    # The output path may put silence before the program's first frame.
    lead = (len(captured) - len(captured.lstrip(b"\0"))) // 4 - (len(rendered) - len(rendered.lstrip(b"\0"))) // 4
    body = captured[4 * max(lead, 0):4 * frames]
    check(lead >= 0 and captured.strip(b"\0") and rendered.strip(b"\0"), "sound, after %d frames of silence" % lead)
    check(body == rendered[:len(body)], "the %d captured frames equal vinto-render's, bit for bit" % (len(body) // 4))


def pitch(a, s):
    native = subprocess.run([a.native_probe], check=True, stdout=subprocess.PIPE, text=True).stdout
    windows = s.run([a.windows_probe], 600).stdout.replace("\r", "")
    print(native + windows, end="")
    check(native == windows and native.count("\n") == 3, "the pitch computations agree")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["dialog", "capture", "pitch"])
    for option in ("out", "exe", "send", "unplayable", "render", "song", "native-probe", "windows-probe"):
        parser.add_argument("--" + option, type=os.path.abspath)
    a = parser.parse_args()
    os.makedirs(a.out, exist_ok=True)
    sound = os.path.join(a.out, "vinto-capture.raw") if a.mode == "capture" else None
    if sound and os.path.exists(sound):
        os.remove(sound)
    session = Session(sound)
    try:
        {"dialog": dialog, "capture": capture, "pitch": pitch}[a.mode](a, session)
    finally:
        session.close()
    print("%d checks failed" % len(failures) if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
