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
EXIT_SECONDS = 2  # how soon the program must end after being closed


class Failure(Exception):
    pass


class Skipped(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def program_environment(**changes):
    """The environment of a run: no real audio device, no accessibility bus."""
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    env["SDL_AUDIODRIVER"] = "dummy"
    env["NO_AT_BRIDGE"] = "1"
    env.update(changes)
    return env


def wait_exit(process, seconds):
    try:
        return process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        return None


def expect_running(process, seconds, why):
    check(wait_exit(process, seconds) is None, f"the program ended after {why}")


def expect_exit_zero(process, why):
    code = wait_exit(process, EXIT_SECONDS)
    check(code is not None, f"the program still runs {EXIT_SECONDS} s after {why}")
    check(code == 0, f"exit code {code} after {why}")


def stop(process):
    if process.poll() is None:
        process.kill()
        process.wait()


# ---------------------------------------------------------------- X display


class VirtualDisplay:
    """An Xvfb server of its own on a free display number."""

    def __enter__(self):
        for tool in ("Xvfb", "xdotool"):
            if not shutil.which(tool):
                raise Skipped(f"{tool} is not installed")
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 10
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.5)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip():
            stop(self.server)
            raise Skipped("Xvfb did not start")
        self.name = ":" + number.decode().strip()
        return self

    def __exit__(self, *_):
        stop(self.server)

    def xdotool(self, *arguments):
        result = subprocess.run(["xdotool", *map(str, arguments)], env=dict(os.environ, DISPLAY=self.name),
                                capture_output=True, text=True, timeout=10)
        return result.stdout

    def start(self, program):
        return subprocess.Popen([program], env=program_environment(DISPLAY=self.name),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def find_window(self, process):
        """The program's visible window, waited for up to five seconds."""
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            check(process.poll() is None, f"the program ended at once with code {process.returncode}")
            found = self.xdotool("search", "--onlyvisible", "--pid", process.pid).split()
            if found:
                return found[0]
            time.sleep(0.1)
        raise Failure("no window appeared within five seconds")

    def geometry(self, window):
        values = dict(line.split("=") for line in self.xdotool("getwindowgeometry", "--shell", window).split())
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def click_close(self, window):
        # The button spans the lower half of the dialog (25..44 of 50 units).
        _, _, width, height = self.geometry(window)
        self.xdotool("mousemove", "--window", window, width // 2, height * 7 // 10, "click", "1")

    def keys(self, window, *keys):
        self.xdotool("windowfocus", "--sync", window)
        self.xdotool("key", "--delay", "50", *keys)


def with_window(arguments, action):
    with VirtualDisplay() as display:
        process = display.start(arguments.program)
        try:
            window = display.find_window(process)
            action(display, process, window)
            if process.poll() is not None:
                errors = process.stderr.read()
                check(errors == b"", f"unexpected standard error: {errors!r}")
        finally:
            stop(process)


def x11_centred(arguments):
    def action(display, process, window):
        x, y, width, height = display.geometry(window)
        screen_width, screen_height = map(int, display.xdotool("getdisplaygeometry").split())
        check(abs(x - (screen_width - width) // 2) <= 1 and abs(y - (screen_height - height) // 2) <= 1,
              f"window at {x},{y} size {width}x{height} is not centred on {screen_width}x{screen_height}")
        # 153 x 50 dialog units: about three times as wide as high, and large
        # enough for its 8 pt text.
        check(2.4 <= width / height <= 3.8, f"size {width}x{height} does not have the dialog's shape")
        check(60 <= height <= 160, f"height {height} is not that of two lines of 8 pt text")
        if arguments.screenshot and shutil.which("import"):
            subprocess.run(["import", "-window", window, arguments.screenshot],
                           env=dict(os.environ, DISPLAY=display.name), timeout=20)
    with_window(arguments, action)


def x11_close_button(arguments):
    def action(display, process, window):
        display.click_close(window)
        expect_exit_zero(process, "a click on close")
    with_window(arguments, action)


def x11_window_close(arguments):
    if not arguments.close_tool:
        raise Skipped("the X11 close tool was not built (no Xlib headers)")

    def action(display, process, window):
        subprocess.run([arguments.close_tool, window], env=dict(os.environ, DISPLAY=display.name),
                       check=True, timeout=10)
        expect_exit_zero(process, "the window manager's close")
    with_window(arguments, action)


def x11_escape_ignored(arguments):
    def action(display, process, window):
        display.keys(window, "Escape")
        expect_running(process, 1, "Escape")
        display.keys(window, "Return")  # no button has the focus: IDOK, also ignored
        expect_running(process, 1, "Enter without focus")
        display.click_close(window)
        expect_exit_zero(process, "a click on close after Escape")
    with_window(arguments, action)


def x11_keyboard(arguments):
    def action(display, process, window):
        display.keys(window, "Tab", "space")
        expect_exit_zero(process, "Tab to the close button and Space")
    with_window(arguments, action)


# ---------------------------------------------------------------- terminal


class Terminal:
    """The program in a pseudo-terminal of its own, as its controlling terminal."""

    def __init__(self, program, **environment):
        self.master, self.slave = pty.openpty()
        self.mode_before = termios.tcgetattr(self.slave)
        slave = self.slave

        def take_terminal():
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

        self.process = subprocess.Popen([program], stdin=slave, stdout=slave, stderr=subprocess.PIPE,
                                        env=program_environment(**environment), preexec_fn=take_terminal)
        self.screen = b""

    def read_until(self, text, seconds=5):
        deadline = time.monotonic() + seconds
        while text not in self.screen and time.monotonic() < deadline:
            ready, _, _ = select.select([self.master], [], [], 0.1)
            if ready:
                try:
                    self.screen += os.read(self.master, 4096)
                except OSError:
                    break
        check(text in self.screen, f"{text!r} not shown; the terminal shows {self.screen!r}")

    def type(self, keys):
        os.write(self.master, keys)

    def close(self):
        stop(self.process)
        os.close(self.master)
        os.close(self.slave)

    def check_clean_end(self):
        check(termios.tcgetattr(self.slave) == self.mode_before, "the terminal's mode was not restored")
        errors = self.process.stderr.read()
        check(errors == b"", f"unexpected standard error: {errors!r}")


def in_terminal(arguments, action):
    terminal = Terminal(arguments.program)
    try:
        terminal.read_until(TITLE)
        terminal.read_until(b"[ close ]")
        action(terminal)
        terminal.check_clean_end()
    finally:
        terminal.close()


def tty_enter(arguments):
    def action(terminal):
        terminal.type(b"\r")
        expect_exit_zero(terminal.process, "Enter")
    in_terminal(arguments, action)


def tty_interrupt(arguments):
    def action(terminal):
        terminal.type(b"\x03")
        expect_exit_zero(terminal.process, "Ctrl-C")
    in_terminal(arguments, action)


def tty_end_of_input(arguments):
    def action(terminal):
        terminal.type(b"\x04")
        expect_exit_zero(terminal.process, "Ctrl-D")
    in_terminal(arguments, action)


def tty_escape_ignored(arguments):
    def action(terminal):
        terminal.type(b"\x1b")
        expect_running(terminal.process, 0.5, "Escape")
        terminal.type(b"\x1b[A")  # the up arrow's sequence, not an Escape
        terminal.type(b"q ")
        expect_running(terminal.process, 0.5, "other keys")
        terminal.type(b"\r")
        expect_exit_zero(terminal.process, "Enter after Escape")
    in_terminal(arguments, action)


def run_with_pipe(program, keys, keep_open=True, **environment):
    """Runs the program with keys on a pipe as its input; returns the process."""
    process = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, env=program_environment(**environment))
    process.stdin.write(keys)
    process.stdin.flush()
    if not keep_open:
        process.stdin.close()
    return process


def finish(process, why):
    try:
        expect_exit_zero(process, why)
        output, errors = process.stdout.read(), process.stderr.read()
        check(TITLE in output, f"the title line was not shown: {output!r}")
        return errors
    finally:
        stop(process)


def pipe_input(arguments):
    errors = finish(run_with_pipe(arguments.program, b"\n"), "Enter on a pipe")
    check(errors == b"", f"unexpected standard error: {errors!r}")
    errors = finish(run_with_pipe(arguments.program, b"", keep_open=False), "the end of its input")
    check(errors == b"", f"unexpected standard error: {errors!r}")


def close_with_enter(process, why):
    """Checks the program keeps running, then presses Enter; returns its standard error."""
    try:
        expect_running(process, 1, why)
        process.stdin.write(b"\n")
        process.stdin.flush()
    except Failure:
        stop(process)
        raise
    return finish(process, f"Enter after {why}")


def no_audio_device(arguments):
    # No such output at all; and ALSA without any device, whose library would
    # print diagnostics of its own.
    with tempfile.NamedTemporaryFile(suffix=".conf") as no_devices:
        for environment in ({"SDL_AUDIODRIVER": "no-such-audio-driver"},
                            {"SDL_AUDIODRIVER": "alsa", "ALSA_CONFIG_PATH": no_devices.name}):
            process = run_with_pipe(arguments.program, b"", **environment)
            errors = close_with_enter(process, f"a failed audio start with {environment}")
            lines = errors.decode(errors="replace").splitlines()
            check(len(lines) == 1 and "audio" in lines[0], f"not one line on standard error: {lines!r}")


def silent_player(arguments):
    process = run_with_pipe(arguments.silent_program, b"")
    errors = close_with_enter(process, "a song that does not load")
    check(errors == b"", f"unexpected standard error: {errors!r}")


CASES = {function.__name__: function for function in (
    x11_centred, x11_close_button, x11_window_close, x11_escape_ignored, x11_keyboard,
    tty_enter, tty_interrupt, tty_end_of_input, tty_escape_ignored, pipe_input,
    no_audio_device, silent_player)}


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
