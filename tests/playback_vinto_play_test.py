#!/usr/bin/env python3
"""vinto-play as a person uses it: in a pseudo-terminal, with SDL's disk driver standing in for the sound card (it
writes the device's bytes to a file in real time, zeros while the device is paused); what it writes is what
vinto-render renders.
usage: playback_vinto_play_test.py PROGRAM SONG.xm keys|quit|commands VINTO_RENDER"""
import contextlib, fcntl, os, pty, re, select, shutil, struct, subprocess, sys, tempfile, termios, time

DISPLAY = re.compile(rb"(\d+)/(\d+)  .*?\n.*?volume (\d+)%.*?\n\[[= ]{30}\]  \d+:(\d\d) / [-:\d]+  order (\d+)/", re.S)
program, song, case, render = sys.argv[1:]
work = tempfile.mkdtemp(prefix="vinto_play_")
capture, short = os.path.join(work, "sound.raw"), os.path.join(work, "short.xm")
env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=capture)
with open(short, "wb") as out:  # one silent channel: 100 rows at speed 1 and 255 BPM (432 frames a row), 0.98 s
    out.write(b"Extended Module: " + b"short".ljust(20, b"\0") + b"\x1a" + bytes(20) + b"\x04\x01" +
              struct.pack("<IHHHHHHHH", 276, 1, 0, 1, 1, 0, 1, 1, 255) + bytes(256) + struct.pack("<IBHH", 9, 0, 100, 0))


def check(ok, message):
    if not ok:
        sys.exit(print("FAIL: " + message) or 1)


class Player:  # vinto-play in a pseudo-terminal of its own (so Ctrl-C reaches it)

    def __init__(self, files):
        self.master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
        self.process = subprocess.Popen([program, "--mode", "exact", *files], stdin=slave, stdout=slave, stderr=slave,
                                        env=env, preexec_fn=lambda: (os.setsid(), fcntl.ioctl(0, termios.TIOCSCTTY, 0)))
        os.close(slave)
        self.output = b""

    def read(self, seconds):  # for that long, or until the program has closed its terminal
        deadline = time.monotonic() + seconds
        with contextlib.suppress(OSError):
            while time.monotonic() < deadline:
                self.output += os.read(self.master, 65536) if select.select([self.master], [], [], 0.05)[0] else b""

    def display(self):  # the last display drawn: (file number, files, volume, seconds heard, order), or None
        return next((tuple(map(int, found)) for found in DISPLAY.findall(self.output)[-1:]), None)

    def until(self, what, test):  # up to 10 s
        check(any(self.read(0.1) or test() for _ in range(100)), "%s never came: %r" % (what, self.output[-600:]))

    def send(self, keys, settle=0.4):
        os.write(self.master, keys)
        self.read(settle)


if case == "keys":
    player = Player([song, short])
    player.until("a second heard", lambda: player.display() and player.display()[3] >= 1)
    check(not termios.tcgetattr(player.master)[3] & (termios.ECHO | termios.ICANON), "the terminal kept its line mode")
    order = player.display()[4]
    player.send(b"x\x1b[C-1")  # unknown keys do nothing
    check(player.display()[2] == 95 and player.display()[4] > order and b"muted: 1" in player.output[-400:],
          "volume, next order or mute did not show: %r" % player.output[-600:])
    player.send(b"h")
    check(b"mute or unmute channel 1..10" in player.output[-800:], "h showed no keys")
    # Paused, the device gets only silence and the time heard stands still.
    player.send(b" ", 0.5)
    paused_at, heard = os.path.getsize(capture), player.display()[3]
    player.read(1.2)
    during = open(capture, "rb").read()[paused_at:]
    check(len(during) >= 44100 and not any(during) and player.display()[3] == heard and b"paused" in player.output[-400:],
          "pausing did not stop the sound (%d bytes, %d not zero)" % (len(during), sum(map(bool, during))))
    player.send(b" ")
    player.until("the sound again", lambda: b"playing" in player.output[-400:])
    # n moves on to the short song, whose end ends the list: exit status 0.
    player.send(b"n")
    player.until("file 2", lambda: player.display() and player.display()[0] == 2)
    status = player.process.wait(timeout=10)
    player.read(0.3)
    # The display's lines, without what SDL's disk driver says of itself on standard error.
    lines = re.sub(rb"CRITICAL:[^\n]*\n?", b"", re.sub(rb"\x1b\[[0-9;]*[A-Za-z]|\r", b"", player.output)).split(b"\n")
    check(status == 0 and max(map(len, lines)) < 80 and termios.tcgetattr(player.master)[3] & termios.ECHO,
          "status %d, longest line %r, or the terminal's mode was not given back" % (status, max(lines, key=len)))
elif case == "quit":
    for key in b"q", b"\x03":  # Ctrl-C
        player = Player([song])
        player.until("three seconds heard", lambda: player.display() and player.display()[3] >= 3)
        player.send(key, 0)
        check(player.process.wait(timeout=5) == 0, "exit status %d after %r" % (player.process.returncode, key))
    # The device handed on exactly what offline rendering makes: the silence SDL played while the ring was
    # prefilled (whole buffers of 1024 frames), the song for as long as it played (longer than the ring's 2 s:
    # blocks the output thread rendered were heard too), then nothing.
    sound = open(capture, "rb").read()
    rendered = subprocess.run([render, "--mode", "exact", "--seconds", "10", song, "-"], capture_output=True).stdout
    start = (len(sound) - len(sound.lstrip(b"\0"))) - (len(rendered) - len(rendered.lstrip(b"\0")))
    played = next((i for i in range(0, len(rendered), 4) if sound[start + i:start + i + 4] != rendered[i:i + 4]), 0)
    check(start >= 0 and start % 4096 == 0 and played >= 2.2 * 176400 and not any(sound[start + played:]),
          "the song from byte %d, %d bytes of it" % (start, played))
else:  # without a terminal: arguments, environment, exit status, a text on standard output or error, the least time played
    for arguments, environment, status, text, least in [
        ([short, short], env, 0, (short + ': "short", 1 channel, 0:00\n').encode() * 2, 1.8),
        ([work, short], env, 1, ("vinto-play: %s: is a directory" % work).encode(), 0.9),
        (["/nonexistent/song.xm"], env, 1, b"cannot open the file", 0), ([program], env, 1, b"not an XM module", 0),
        ([short], dict(env, SDL_AUDIODRIVER="no-such-driver"), 1, b"no audio output device", 0),
        (["--mode", "fast", short], env, 2, b"needs exact or complete", 0), ([], env, 2, b"usage: vinto-play [--loop]", 0)]:
        started = time.monotonic()
        result = subprocess.run([program] + (arguments if arguments[:1] == ["--mode"] else ["--mode", "exact", *arguments]),
                                stdin=subprocess.DEVNULL, capture_output=True, env=environment, timeout=10)
        check(result.returncode == status and text in result.stdout + result.stderr and time.monotonic() - started >= least,
              "%r: status %d after %.2f s, %r" % (arguments, result.returncode, time.monotonic() - started, result))
shutil.rmtree(work)
print("ok " + case)
