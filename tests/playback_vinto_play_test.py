#!/usr/bin/env python3
"""vinto-play as a person uses it: in a pseudo-terminal, with SDL's disk driver
standing in for the sound card. One case per run:

    playback_vinto_play_test.py --program PATH --song FILE.xm --case NAME
"""
import argparse
import fcntl
import os
import pty
import re
import select
import subprocess
import sys
import tempfile
import termios
import time

STATUS = re.compile(rb"\r(\S+)  order +(\d+)  row +(\d+)  (\d+):(\d\d)\.(\d)\x1b\[K")


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def sound_env(capture):
    env = dict(os.environ)
    env["SDL_AUDIODRIVER"] = "disk"
    env["SDL_DISKAUDIOFILE"] = capture
    return env


def play_in_terminal(program, song, capture, key):
    """Plays until the heard time passes one second, then sends key (bytes) or
    SIGINT (None); returns the exit status, the screen output and whether the
    terminal was given back in its own mode."""
    master, slave = pty.openpty()
    def take_terminal():  # the pseudo-terminal becomes the player's own, so Ctrl-C reaches it
        os.setsid()
        fcntl.ioctl(0, termios.TIOCSCTTY, 0)

    process = subprocess.Popen([program, song], stdin=slave, stdout=slave, stderr=slave,
                               env=sound_env(capture), preexec_fn=take_terminal)
    os.close(slave)
    output = b""
    heard_ms = 0
    deadline = time.monotonic() + 15
    while heard_ms < 1000 and time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.2)
        if ready:
            try:
                output += os.read(master, 4096)
            except OSError:
                break
        for match in STATUS.finditer(output):
            minutes, seconds, tenths = int(match.group(4)), int(match.group(5)), int(match.group(6))
            heard_ms = max(heard_ms, (minutes * 60 + seconds) * 1000 + tenths * 100)
    if heard_ms < 1000:
        process.kill()
        fail("the heard time never passed one second: %r" % output[-400:])
    mode_while_playing = termios.tcgetattr(master)[3]
    if key is None:
        os.write(master, b"\x03")  # Ctrl-C through the terminal: SIGINT
    else:
        os.write(master, key)
    try:
        status = process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        process.kill()
        fail("still playing 5 s after the key")
    try:
        while select.select([master], [], [], 0.1)[0]:
            output += os.read(master, 4096)
    except OSError:
        pass
    mode_after = termios.tcgetattr(master)[3]
    os.close(master)
    restored = (mode_after & termios.ECHO) and (mode_after & termios.ICANON)
    was_raw = not (mode_while_playing & termios.ECHO)
    return status, output, restored and was_raw


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--song", required=True)
    parser.add_argument("--case", required=True)
    args = parser.parse_args()
    handle, capture = tempfile.mkstemp(prefix="vinto_play_", suffix=".raw")
    os.close(handle)
    name = os.path.basename(args.song).encode()
    try:
        if args.case in ("key_q", "key_enter", "ctrl_c"):
            key = {"key_q": b"q", "key_enter": b"\r", "ctrl_c": None}[args.case]
            status, output, terminal_ok = play_in_terminal(args.program, args.song, capture, key)
            if status != 0:
                fail("exit status %d: %r" % (status, output[-400:]))
            lines = STATUS.findall(output)
            if not lines or any(line[0] != name for line in lines):
                fail("no status line with the file name: %r" % output[-400:])
            if not terminal_ok:
                fail("the terminal was not switched to keys and back")
            # The song moved on while it was heard.
            if len({(line[1], line[2]) for line in lines}) < 3:
                fail("order and row never moved: %r" % lines[-5:])
            # The device really played: about a second of audio or more.
            if os.path.getsize(capture) < 176400:
                fail("only %d bytes reached the audio device" % os.path.getsize(capture))
        else:
            # Without a terminal: the command, its environment, the exit status
            # expected and a text expected on standard output or error.
            cases = {
                "end_of_input": ([args.program, args.song], sound_env(capture), 0, "stdout", name),
                "missing_file": ([args.program, "/nonexistent/song.xm"], sound_env(capture), 1, "stderr",
                                 b"cannot open the file"),
                "not_a_song": ([args.program, args.program], sound_env(capture), 1, "stderr",
                               b"not an XM module"),
                "no_audio_device": ([args.program, args.song],
                                    dict(os.environ, SDL_AUDIODRIVER="no-such-driver"), 1, "stderr",
                                    b"no audio output device"),
                "usage": ([args.program], sound_env(capture), 2, "stderr", b"usage: vinto-play FILE.xm"),
            }
            command, env, expected_status, stream, expected_text = cases[args.case]
            # At once: the end of input stops playing too.
            result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, env=env, timeout=5)
            if result.returncode != expected_status or expected_text not in getattr(result, stream):
                fail("status %d, %r" % (result.returncode, result))
    finally:
        os.remove(capture)
    print("ok " + args.case)


if __name__ == "__main__":
    main()
