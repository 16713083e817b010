#!/usr/bin/env python3
"""The player program vinto as a person meets it: its dialog in a window under
a virtual X display (Xvfb, driven with xdotool), in a pseudo-terminal, or
behind a pipe. It ends with exit status 0 within 2 s of the close, nothing on
standard error (but a line when there is no audio device).
usage: program_test.py --program PATH --silent-program PATH --close-tool PATH [--screenshot PNG] CASE
Exit status 0 passed, 1 failed, 77 skipped (a tool is missing)."""
import argparse, fcntl, os, pty, select, shutil, subprocess, sys, tempfile, termios, time


def check(condition, message):
    if not condition:
        sys.exit(print(f"FAILED: {message}") or 1)


def start(program, env, **streams):
    """The program without display, real audio device or accessibility bus, but what env adds."""
    base = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    return subprocess.Popen([program], env=dict(base, SDL_AUDIODRIVER="dummy", NO_AT_BRIDGE="1") | env,
                            stderr=subprocess.PIPE, **streams)


def keeps_running(process, seconds, why):
    try:
        check(process.wait(timeout=seconds) is None, f"the program ended after {why}")
    except subprocess.TimeoutExpired:
        pass


def ends(process, why, says_no_audio=False):
    try:
        code = process.wait(timeout=2)
    except subprocess.TimeoutExpired:
        code = f"none: it still runs 2 s"
    errors = process.stderr.read().decode(errors="replace").splitlines()
    check(code == 0, f"exit code {code} after {why}")
    check(len(errors) == 1 and "audio" in errors[0] if says_no_audio else not errors, f"standard error: {errors!r}")


def x11(steps):
    """A case: the program on an Xvfb display of its own, then steps(x, process, window), x running xdotool there."""
    def case(a):
        if not (shutil.which("Xvfb") and shutil.which("xdotool")):
            sys.exit(print("skipped: Xvfb or xdotool is missing") or 77)
        read_end, write_end = os.pipe()
        server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten",
                                   "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = os.read(read_end, 16).decode().strip() if select.select([read_end], [], [], 10)[0] else ""
        x = lambda *words: subprocess.run(["xdotool", *map(str, words)], env=x.env, capture_output=True, text=True,
                                          timeout=10).stdout
        x.env = dict(os.environ, DISPLAY=":" + number)
        x.screenshot, x.close_tool = a.screenshot, a.close_tool
        process = start(a.program, {"DISPLAY": x.env["DISPLAY"]}, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        try:
            check(number, "Xvfb did not start")
            for _ in range(50):
                check(process.poll() is None, f"the program ended at once with code {process.returncode}")
                time.sleep(0.1)
                found = x("search", "--onlyvisible", "--pid", process.pid).split()
                if found:
                    break
            check(found, "no window appeared within five seconds")
            steps(x, process, found[0])
        finally:
            process.kill(), server.kill(), process.wait(), server.wait()
    return case


def geometry(x, window):
    values = dict(line.split("=") for line in x("getwindowgeometry", "--shell", window).split())
    return [int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT")]


def centred(x, process, window):
    left, top, width, height = geometry(x, window)
    screen_width, screen_height = map(int, x("getdisplaygeometry").split())
    check(abs(left - (screen_width - width) // 2) <= 1 and abs(top - (screen_height - height) // 2) <= 1,
          f"window at {left},{top} size {width}x{height} is not centred")
    # 153 x 50 dialog units: about three times as wide as high, two lines of 8 pt text high.
    check(2.4 <= width / height <= 3.8 and 60 <= height <= 160, f"size {width}x{height} is not the dialog's")
    if x.screenshot and shutil.which("import"):
        subprocess.run(["import", "-window", window, x.screenshot], env=x.env, timeout=20)


def click_close(x, window):  # the button spans the lower half of the dialog (25..44 of 50 units)
    width, height = geometry(x, window)[2:]
    x("mousemove", "--window", window, width // 2, height * 7 // 10, "click", "1")


def keys(x, window, *names):
    x("windowfocus", "--sync", window, "key", "--delay", "50", *names)


def escape_then_close(x, process, window):
    keys(x, window, "Escape")
    keeps_running(process, 1, "Escape")
    keys(x, window, "Return")  # no button has the focus: IDOK, also ignored
    keeps_running(process, 1, "Enter without focus")
    click_close(x, window)
    ends(process, "a click on close after Escape and Enter")


def window_manager_close(x, process, window):
    if not x.close_tool:
        sys.exit(print("skipped: the X11 close tool was not built (no Xlib headers)") or 77)
    subprocess.run([x.close_tool, window], env=x.env, check=True, timeout=10)
    ends(process, "the window manager's close")


def tty(typed, why):
    """A case: the program in a pseudo-terminal of its own (its controlling terminal), the
    dialog shown, bytes typed (a number: a pause in which it runs on); the terminal's mode restored."""
    def case(a):
        master, slave = pty.openpty()
        mode_before = termios.tcgetattr(slave)
        process = start(a.program, {}, stdin=slave, stdout=slave,
                        preexec_fn=lambda: (os.setsid(), fcntl.ioctl(slave, termios.TIOCSCTTY, 0)))
        try:
            screen, deadline = b"", time.monotonic() + 5
            while b"[ close ]" not in screen and time.monotonic() < deadline:
                screen += os.read(master, 4096) if select.select([master], [], [], 0.1)[0] else b""
            check(b"- vinto - talbet -" in screen and b"[ close ]" in screen, f"the dialog is not shown: {screen!r}")
            for step in typed:
                os.write(master, step) if isinstance(step, bytes) else keeps_running(process, step, f"{typed!r}")
            ends(process, why)
            check(termios.tcgetattr(slave) == mode_before, "the terminal's mode was not restored")
        finally:
            process.kill(), process.wait(), os.close(master), os.close(slave)
    return case


def piped(program, env, why, says_no_audio):
    """A case: with a pipe as input the program runs on for a second, shows the title and ends on Enter."""
    def case(a):
        process = start(getattr(a, program), env, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            keeps_running(process, 1, why)
            process.stdin.write(b"\n"), process.stdin.flush()
            ends(process, f"Enter after {why}", says_no_audio)
            check(b"- vinto - talbet -" in process.stdout.read(), "the title line was not shown")
        finally:
            process.kill(), process.wait()
    return case


NO_ALSA_DEVICES = tempfile.NamedTemporaryFile(suffix=".conf")  # ALSA without any device
CASES = {
    "x11_centred": x11(centred),
    "x11_close_button": x11(lambda x, p, w: (click_close(x, w), ends(p, "a click on close"))),
    "x11_window_close": x11(window_manager_close),
    "x11_escape_ignored": x11(escape_then_close),
    "x11_keyboard": x11(lambda x, p, w: (keys(x, w, "Tab", "space"), ends(p, "Tab and Space"))),
    "tty_enter": tty([b"\r"], "Enter"),
    "tty_interrupt": tty([b"\x03"], "Ctrl-C"),
    "tty_end_of_input": tty([b"\x04"], "Ctrl-D"),
    # Escape alone, then the up arrow's sequence (not an Escape) and other keys.
    "tty_escape_ignored": tty([b"\x1b", 0.5, b"\x1b[A", b"q ", 0.5, b"\r"], "Enter after Escape"),
    "no_audio_device": piped("program", {"SDL_AUDIODRIVER": "no-such-audio-driver"}, "a failed audio start", True),
    "no_alsa_device": piped("program", {"SDL_AUDIODRIVER": "alsa", "ALSA_CONFIG_PATH": NO_ALSA_DEVICES.name},
                            "a failed ALSA start", True),
    "silent_player": piped("silent_program", {}, "a song that does not load", False),
}

if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("program", "silent-program", "close-tool", "screenshot"):
        parser.add_argument("--" + option, default="")
    parser.add_argument("case", choices=sorted(CASES))
    arguments = parser.parse_args()
    CASES[arguments.case](arguments)
    print("passed")
