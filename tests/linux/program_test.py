#!/usr/bin/env python3
"""Tests of the player program vinto as a person meets it: its dialog in a
window under a virtual X display (Xvfb, driven with xdotool), and in a
terminal (a pseudo-terminal) or behind a pipe when there is no display.

Usage: program_test.py --program PATH --silent-program PATH --close-tool PATH
       [--screenshot PNG] CASE
Exit status 0 passed, 1 failed, 77 skipped (a tool is missing)."""

import argparse
import fcntl
import os
import pty
import select
import shutil
import subprocess
import sys
import tempfile
import termios
import time

SKIP = 77
TITLE = b"- vinto - talbet -"


class Failure(Exception):
    pass


class Skipped(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def environment(**changes):
    """The environment of a run: no display, no real audio device, no accessibility bus."""
    env = {name: value for name, value in os.environ.items() if name not in ("DISPLAY", "WAYLAND_DISPLAY")}
    return dict(env, SDL_AUDIODRIVER="dummy", NO_AT_BRIDGE="1") | changes


def expect_running(process, seconds, why):
    try:
        process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        return
    raise Failure(f"the program ended after {why}")


def expect_exit_zero(process, why):
    """The program ends with status 0 within two seconds."""
    try:
        code = process.wait(timeout=2)
    except subprocess.TimeoutExpired:
        raise Failure(f"the program still runs 2 s after {why}")
    check(code == 0, f"exit code {code} after {why}")


def stop(process):
    if process.poll() is None:
        process.kill()
        process.wait()


# ---------------------------------------------------------------- X display

def xdotool(display, *words):
    return subprocess.run(["xdotool", *map(str, words)], env=display, capture_output=True, text=True,
                          timeout=10).stdout


def x11_case(arguments, action):
    """Runs the program on an Xvfb display of its own and calls
    action(display, process, window): display is the environment naming it."""
    for tool in ("Xvfb", "xdotool"):
        if not shutil.which(tool):
            raise Skipped(f"{tool} is not installed")
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    process = None
    try:
        number = b""
        while not number.endswith(b"\n") and select.select([read_end], [], [], 10)[0]:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        if not number.strip():
            raise Skipped("Xvfb did not start")
        display = dict(os.environ, DISPLAY=":" + number.decode().strip())
        process = subprocess.Popen([arguments.program], env=environment(DISPLAY=display["DISPLAY"]),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        deadline, found = time.monotonic() + 5, []
        while not found and time.monotonic() < deadline:
            check(process.poll() is None, f"the program ended at once with code {process.returncode}")
            time.sleep(0.1)
            found = xdotool(display, "search", "--onlyvisible", "--pid", process.pid).split()
        check(found, "no window appeared within five seconds")
        action(display, process, found[0])
        if process.poll() is not None:
            errors = process.stderr.read()
            check(errors == b"", f"unexpected standard error: {errors!r}")
    finally:
        if process:
            stop(process)
        stop(server)
        os.close(read_end)


def geometry(display, window):
    values = dict(line.split("=") for line in xdotool(display, "getwindowgeometry", "--shell", window).split())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def click_close(display, window):
    # The button spans the lower half of the dialog (25..44 of 50 units).
    _, _, width, height = geometry(display, window)
    xdotool(display, "mousemove", "--window", window, width // 2, height * 7 // 10, "click", "1")


def keys(display, window, *names):
    xdotool(display, "windowfocus", "--sync", window)
    xdotool(display, "key", "--delay", "50", *names)


def x11_centred(arguments):
    def action(display, process, window):
        x, y, width, height = geometry(display, window)
        screen_width, screen_height = map(int, xdotool(display, "getdisplaygeometry").split())
        check(abs(x - (screen_width - width) // 2) <= 1 and abs(y - (screen_height - height) // 2) <= 1,
              f"window at {x},{y} size {width}x{height} is not centred on {screen_width}x{screen_height}")
        # 153 x 50 dialog units: about three times as wide as high, and large
        # enough for its 8 pt text.
        check(2.4 <= width / height <= 3.8, f"size {width}x{height} does not have the dialog's shape")
        check(60 <= height <= 160, f"height {height} is not that of two lines of 8 pt text")
        if arguments.screenshot and shutil.which("import"):
            subprocess.run(["import", "-window", window, arguments.screenshot], env=display, timeout=20)
    x11_case(arguments, action)


def x11_closed(how):
    """A case: how(arguments, display, process, window) closes the window,
    after which the program ends with status 0."""
    def case(arguments):
        def action(display, process, window):
            how(arguments, display, process, window)
            expect_exit_zero(process, how.__doc__)
        x11_case(arguments, action)
    return case


def close_button(arguments, display, process, window):
    """a click on close"""
    click_close(display, window)


def window_manager_close(arguments, display, process, window):
    """the window manager's close"""
    if not arguments.close_tool:
        raise Skipped("the X11 close tool was not built (no Xlib headers)")
    subprocess.run([arguments.close_tool, window], env=display, check=True, timeout=10)


def tab_and_space(arguments, display, process, window):
    """Tab to the close button and Space"""
    keys(display, window, "Tab", "space")


def escape_then_close(arguments, display, process, window):
    """a click on close after Escape and Enter, which are left alone"""
    keys(display, window, "Escape")
    expect_running(process, 1, "Escape")
    keys(display, window, "Return")  # no button has the focus: IDOK, also ignored
    expect_running(process, 1, "Enter without focus")
    click_close(display, window)


# ---------------------------------------------------------------- terminal

def tty_case(keys_and_pauses, why):
    """A case: the program in a pseudo-terminal of its own (its controlling
    terminal), the dialog shown, then keys typed; bytes are typed, a number is
    a pause in which the program must keep running. It ends with status 0,
    the terminal's mode restored and nothing on standard error."""
    def case(arguments):
        master, slave = pty.openpty()
        mode_before = termios.tcgetattr(slave)

        def take_terminal():
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

        process = subprocess.Popen([arguments.program], stdin=slave, stdout=slave, stderr=subprocess.PIPE,
                                   env=environment(), preexec_fn=take_terminal)
        try:
            screen, deadline = b"", time.monotonic() + 5
            while b"[ close ]" not in screen and time.monotonic() < deadline:
                if select.select([master], [], [], 0.1)[0]:
                    screen += os.read(master, 4096)
            check(TITLE in screen and b"[ close ]" in screen, f"the dialog is not shown: {screen!r}")
            for step in keys_and_pauses:
                if isinstance(step, bytes):
                    os.write(master, step)
                else:
                    expect_running(process, step, f"typing {keys_and_pauses!r}")
            expect_exit_zero(process, why)
            check(termios.tcgetattr(slave) == mode_before, "the terminal's mode was not restored")
            errors = process.stderr.read()
            check(errors == b"", f"unexpected standard error: {errors!r}")
        finally:
            stop(process)
            os.close(master)
            os.close(slave)
    return case


# ---------------------------------------------------------------- pipe

def piped_case(program, env, why, says_no_audio):
    """A case: the program with a pipe as input keeps running for a second,
    ends with status 0 on Enter and shows the title; on standard error one
    line about the audio if says_no_audio, else nothing."""
    def case(arguments):
        process = subprocess.Popen([getattr(arguments, program)], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=environment(**env))
        try:
            expect_running(process, 1, why)
            process.stdin.write(b"\n")
            process.stdin.flush()
            expect_exit_zero(process, f"Enter after {why}")
            output, errors = process.stdout.read(), process.stderr.read()
            check(TITLE in output, f"the title line was not shown: {output!r}")
            lines = errors.decode(errors="replace").splitlines()
            check(len(lines) == 1 and "audio" in lines[0] if says_no_audio else lines == [],
                  f"standard error: {lines!r}")
        finally:
            stop(process)
    return case


# ALSA without any device, whose library would print diagnostics of its own.
NO_ALSA_DEVICES = tempfile.NamedTemporaryFile(suffix=".conf")

CASES = {
    "x11_centred": x11_centred,
    "x11_close_button": x11_closed(close_button),
    "x11_window_close": x11_closed(window_manager_close),
    "x11_escape_ignored": x11_closed(escape_then_close),
    "x11_keyboard": x11_closed(tab_and_space),
    "tty_enter": tty_case([b"\r"], "Enter"),
    "tty_interrupt": tty_case([b"\x03"], "Ctrl-C"),
    "tty_end_of_input": tty_case([b"\x04"], "Ctrl-D"),
    # Escape alone, then the up arrow's sequence (not an Escape) and other keys.
    "tty_escape_ignored": tty_case([b"\x1b", 0.5, b"\x1b[A", b"q ", 0.5, b"\r"], "Enter after Escape"),
    "no_audio_device": piped_case("program", {"SDL_AUDIODRIVER": "no-such-audio-driver"},
                                  "a failed audio start", True),
    "no_alsa_device": piped_case("program", {"SDL_AUDIODRIVER": "alsa", "ALSA_CONFIG_PATH": NO_ALSA_DEVICES.name},
                                 "a failed ALSA start", True),
    "silent_player": piped_case("silent_program", {}, "a song that does not load", False),
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--silent-program", required=True)
    parser.add_argument("--close-tool", default="")
    parser.add_argument("--screenshot", default="")
    parser.add_argument("case", choices=sorted(CASES))
    arguments = parser.parse_args()
    try:
        CASES[arguments.case](arguments)
    except Skipped as reason:
        print(f"skipped: {reason}")
        return SKIP
    except Failure as failure:
        print(f"FAILED: {failure}")
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
