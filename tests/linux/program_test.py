#!/usr/bin/env python3
"""The player program vinto as a person meets it: each close it knows ends it with exit status 0 within 2 s and
nothing on standard error (but a line when there is no audio device). Cases: x11 (under Xvfb, driven by xdotool),
tty (in a pseudo-terminal), piped (behind a pipe).
usage: program_test.py PROGRAM SILENT_PROGRAM CLOSE_TOOL SCREENSHOT CASE   (exit status 77: skipped)"""
import fcntl, os, pty, select, shutil, subprocess, sys, tempfile, termios, time

program, silent_program, close_tool, screenshot, case = sys.argv[1:]


def check(condition, message):
    if not condition:
        sys.exit(print(f"FAILED: {message}") or 1)


def start(path, env, **streams):  # without display, real audio device or accessibility bus, but what env adds
    base = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    return subprocess.Popen([path], env=dict(base, SDL_AUDIODRIVER="dummy", NO_AT_BRIDGE="1") | env,
                            stderr=subprocess.PIPE, **streams)


def runs_on(process, seconds, why):
    time.sleep(seconds)
    check(process.poll() is None, f"the program ended after {why}")


def ends(process, why, says_no_audio=False):
    try:
        code = process.wait(timeout=2)
    except subprocess.TimeoutExpired:
        code = "none: it still runs 2 s"
    errors = process.stderr.read().decode(errors="replace").splitlines()
    check(code == 0, f"exit code {code} after {why}")
    check(len(errors) == 1 and "audio" in errors[0] if says_no_audio else not errors, f"standard error: {errors!r}")


if case == "x11":
    if not (shutil.which("Xvfb") and shutil.which("xdotool") and close_tool):
        sys.exit(print("skipped: Xvfb, xdotool or the X11 close tool (Xlib headers) is missing") or 77)
    server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)  # says its display number
    env = dict(os.environ, DISPLAY=":" + server.stdout.readline().decode().strip())
    x = lambda *words: subprocess.run(["xdotool", *map(str, words)], env=env, capture_output=True, text=True, timeout=10).stdout
    click = lambda w: x("mousemove", "--window", w, width // 2, height * 7 // 10, "click", "1")  # close: 25..44 of 50 units
    keys = lambda w, *names: x("windowfocus", "--sync", w, "key", "--delay", "50", *names)
    try:
        for why, close in [("Tab and Space", lambda w: keys(w, "Tab", "space")), ("a click on close", click),
                           ("the window manager's close", lambda w: subprocess.run([close_tool, w], env=env, timeout=10))]:
            process = start(program, {"DISPLAY": env["DISPLAY"]}, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
            for _ in range(50):
                check(process.poll() is None, f"the program ended at once with code {process.returncode}")
                time.sleep(0.1)
                if window := (x("search", "--onlyvisible", "--pid", process.pid).split() or [""])[0]:
                    break
            check(window, "no window appeared within five seconds")
            values = dict(line.split("=") for line in x("getwindowgeometry", "--shell", window).split())
            left, top, width, height = (int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
            check(abs(left - (1024 - width) // 2) <= 1 and abs(top - (768 - height) // 2) <= 1 and  # 153 x 50 dialog units
                  2.4 <= width / height <= 3.8 and 60 <= height <= 160, f"{width}x{height} at {left},{top}: not centred or not the dialog")
            if close == click:
                if screenshot and shutil.which("import"):
                    subprocess.run(["import", "-window", window, screenshot], env=env, timeout=20)
                keys(window, "Escape")
                runs_on(process, 1, "Escape")
                keys(window, "Return")  # no button has the focus: IDOK, also ignored
                runs_on(process, 1, "Enter without focus")
            close(window)
            ends(process, why)
            process.kill(), process.wait()
    finally:
        server.kill(), server.wait()
elif case == "tty":
    # Escape alone, then the up arrow's sequence (not an Escape) and other keys; a number: a pause.
    for typed in [b"\x1b", 0.5, b"\x1b[A", b"q ", 0.5, b"\r"], [b"\x03"], [b"\x04"]:
        master, slave = pty.openpty()
        mode_before = termios.tcgetattr(slave)
        process = start(program, {}, stdin=slave, stdout=slave, preexec_fn=lambda: (os.setsid(), fcntl.ioctl(slave, termios.TIOCSCTTY, 0)))
        screen, deadline = b"", time.monotonic() + 5
        while b"[ close ]" not in screen and time.monotonic() < deadline:
            screen += os.read(master, 4096) if select.select([master], [], [], 0.1)[0] else b""
        check(b"- vinto - talbet -" in screen and b"[ close ]" in screen, f"the dialog is not shown: {screen!r}")
        for step in typed:
            os.write(master, step) if isinstance(step, bytes) else runs_on(process, step, f"{typed!r}")
        ends(process, repr(typed))
        check(termios.tcgetattr(slave) == mode_before, "the terminal's mode was not restored")
        process.kill(), process.wait(), os.close(master), os.close(slave)
else:
    no_alsa = tempfile.NamedTemporaryFile(suffix=".conf")  # ALSA without any device
    for path, env, why, says_no_audio in [
            (program, {"SDL_AUDIODRIVER": "no-such-audio-driver"}, "a failed audio start", True),
            (program, {"SDL_AUDIODRIVER": "alsa", "ALSA_CONFIG_PATH": no_alsa.name}, "a failed ALSA start", True),
            (silent_program, {}, "a song that does not load", False), (silent_program, {}, "the end of input", False)]:
        process = start(path, env, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        runs_on(process, 1, why)
        process.stdin.close() if why == "the end of input" else (process.stdin.write(b"\n"), process.stdin.flush())
        ends(process, f"Enter after {why}", says_no_audio)
        check(b"- vinto - talbet -" in process.stdout.read(), "the title line was not shown")
        process.kill(), process.wait()
print("passed")
