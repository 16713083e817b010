#!/usr/bin/env python3
"""vinto-play as a person uses it: in a pseudo-terminal, with SDL's disk driver
standing in for the sound card (it writes the device's bytes to a file in real
time, zeros while the device is paused). One case per run:

    playback_vinto_play_test.py --program PATH --song FILE.xm --case NAME
"""
import argparse
import fcntl
import os
import pty
import re
import select
import struct
import subprocess
import sys
import tempfile
import termios
import time

DISPLAY = re.compile(rb"(\d+)/(\d+)  .*?\n.*?volume (\d+)%.*?\n\[[= ]{30}\]  \d+:(\d\d) / [-:\d]+  order (\d+)/", re.S)
ESCAPES = re.compile(rb"\x1b\[[0-9;]*[A-Za-z]|\r")


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def short_song(path, rows):
    """An XM file of one silent channel: rows rows at speed 1 and 255 BPM (432 frames a row)."""
    head = b"Extended Module: " + b"short".ljust(20, b"\0") + b"\x1a" + b"test".ljust(20, b"\0") + b"\x04\x01"
    head += struct.pack("<IHHHHHHHH", 276, 1, 0, 1, 1, 0, 1, 1, 255) + bytes(256)
    with open(path, "wb") as out:
        out.write(head + struct.pack("<IBHH", 9, 0, rows, 0))


class Player:
    """vinto-play in a pseudo-terminal of its own (so Ctrl-C reaches it)."""

    def __init__(self, program, files, env):
        self.master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))

        def take_terminal():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        self.process = subprocess.Popen([program, "--mode", "exact"] + files, stdin=slave, stdout=slave, stderr=slave,
                                        env=env, preexec_fn=take_terminal)
        os.close(slave)
        self.output = b""

    def read(self, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if select.select([self.master], [], [], 0.05)[0]:
                try:
                    self.output += os.read(self.master, 65536)
                except OSError:
                    return

    def display(self):
        """The last display drawn: (file number, files, volume, seconds heard, order), or None."""
        found = DISPLAY.findall(self.output)
        return tuple(int(x) for x in found[-1]) if found else None

    def until(self, what, test, seconds=10):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.read(0.1)
            if test():
                return
        fail("%s never came: %r" % (what, self.output[-600:]))

    def send(self, keys, settle=0.4):
        os.write(self.master, keys)
        self.read(settle)


def keys_case(args, env, capture, short):
    player = Player(args.program, [args.song, short], env)
    player.until("a second heard", lambda: player.display() and player.display()[3] >= 1)
    mode = termios.tcgetattr(player.master)[3]
    if mode & (termios.ECHO | termios.ICANON):
        fail("the terminal was not switched to single keys")
    # Keys with their visible effect; unknown keys do nothing.
    order = player.display()[4]
    player.send(b"x\x1b[C-1")
    if player.display()[2] != 95 or player.display()[4] <= order or b"muted: 1" not in player.output[-400:]:
        fail("volume, next order or mute did not show: %r" % player.output[-600:])
    player.send(b"h")
    if b"mute or unmute channel 1..10" not in player.output[-800:]:
        fail("h showed no keys")
    # Paused, the device gets only silence and the time heard stands still.
    player.send(b" ", 0.5)
    paused_at, heard = os.path.getsize(capture), player.display()[3]
    player.read(1.2)
    with open(capture, "rb") as sound:
        sound.seek(paused_at)
        during = sound.read()
    if len(during) < 44100 or any(during) or player.display()[3] != heard or b"paused" not in player.output[-400:]:
        fail("pausing did not stop the sound (%d bytes, %d not zero)" % (len(during), sum(map(bool, during))))
    player.send(b" ")
    player.until("the sound again", lambda: b"playing" in player.output[-400:])
    # n moves on to the short song, whose end ends the list: exit status 0.
    player.send(b"n")
    player.until("file 2", lambda: player.display() and player.display()[0] == 2)
    status = player.process.wait(timeout=10)
    player.read(0.3)
    # The display's lines, without what SDL's disk driver says of itself on standard error.
    lines = re.sub(rb"CRITICAL:[^\n]*\n?", b"", ESCAPES.sub(b"", player.output)).split(b"\n")
    if status != 0 or max(len(line) for line in lines) >= 80:
        fail("status %d, longest line %r" % (status, max(lines, key=len)))
    if not (termios.tcgetattr(player.master)[3] & termios.ECHO):
        fail("the terminal's mode was not given back")


def quit_case(args, env, key):
    player = Player(args.program, [args.song], env)
    player.until("the display", player.display)
    player.send(key, 0)
    if player.process.wait(timeout=5) != 0:
        fail("exit status %d after %r" % (player.process.returncode, key))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--song", required=True)
    parser.add_argument("--case", required=True)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="vinto_play_")
    capture, short = os.path.join(work, "sound.raw"), os.path.join(work, "short.xm")
    short_song(short, 100)  # 0.98 s
    env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=capture)
    try:
        if args.case == "keys":
            keys_case(args, env, capture, short)
        elif args.case in ("key_q", "ctrl_c"):
            quit_case(args, env, b"q" if args.case == "key_q" else b"\x03")
        else:
            # Without a terminal: arguments, environment, exit status, a text on
            # standard output or error, and the least time it must play.
            cases = {
                "end_of_input": ([short, short], env, 0, "stdout", (short + ': "short", 1 channel, 0:00\n').encode() * 2, 1.8),
                "directory": ([work, short], env, 1, "stderr", ("vinto-play: %s: is a directory" % work).encode(), 0.9),
                "missing_file": (["/nonexistent/song.xm"], env, 1, "stderr", b"cannot open the file", 0),
                "not_a_song": ([args.program], env, 1, "stderr", b"not an XM module", 0),
                "complete_mode": (["--mode", "fast", short], env, 2, "stderr", b"needs exact or complete", 0),
                "no_audio_device": ([short], dict(env, SDL_AUDIODRIVER="no-such-driver"), 1, "stderr",
                                    b"no audio output device", 0),
                "usage": ([], env, 2, "stderr", b"usage: vinto-play [--loop]", 0),
            }
            arguments, env, expected_status, stream, expected_text, least = cases[args.case]
            if arguments[:1] != ["--mode"]:
                arguments = ["--mode", "exact"] + arguments
            started = time.monotonic()
            result = subprocess.run([args.program] + arguments, stdin=subprocess.DEVNULL, capture_output=True,
                                    env=env, timeout=10)
            if result.returncode != expected_status or expected_text not in getattr(result, stream):
                fail("status %d, %r" % (result.returncode, result))
            if time.monotonic() - started < least:
                fail("stopped after %.2f s" % (time.monotonic() - started))
    finally:
        for name in os.listdir(work):
            os.remove(os.path.join(work, name))
        os.rmdir(work)
    print("ok " + args.case)


if __name__ == "__main__":
    main()
