#!/usr/bin/env python3
"""vinto-render never writes over its input, writes each kind of OUTPUT the way
a plain open would (devices and FIFOs in place, a link's target, no file the
user may not write), warns about a song file that ends early, and refuses
outputs it cannot write.  Usage: tools_safety_test.py TOOL SONG VERSION"""
import os, shutil, stat, subprocess, sys, tempfile, threading

tool, song_path, version = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3]
song = open(song_path, "rb").read()
failures = []
root = os.geteuid() == 0


def check(condition, what):
    if not condition:
        failures.append(what)


def run(*args, user=None):
    def as_user():  # root writes anything: the permission case runs as nobody
        os.setgid(65534), os.setuid(65534)
    return subprocess.run([os.path.join(d, "vinto-render"), *args], capture_output=True, cwd=d,
                          preexec_fn=as_user if user else None, timeout=120)


def wav_frames(data):  # the data size the header gives, in frames, and the frames that came
    return int.from_bytes(data[40:44], "little") // 4, (len(data) - 44) // 4


with tempfile.TemporaryDirectory() as d:
    os.chmod(d, 0o777)
    shutil.copy(tool, d)  # where user nobody may run it, wherever the build is
    p = lambda name: os.path.join(d, name)
    for name, data in [("song.xm", song), ("cut100.xm", song[:100]), ("cut60.xm", song[:60])]:
        open(p(name), "wb").write(data)
    os.link(p("song.xm"), p("hard.raw"))
    os.symlink("song.xm", p("soft.wav"))
    os.symlink("sub/../real.wav", p("link.wav"))
    os.mkdir(p("sub"))
    open(p("real.wav"), "wb").write(b"old")
    open(p("locked.wav"), "wb").write(b"locked")
    os.chmod(p("locked.wav"), 0o644 if root else 0o444)  # root's own file, or no write permission
    os.mkfifo(p("fifo.wav"))

    # (arguments, exit status, text on standard error)
    cases = [
        (["song.xm", "song.xm"], 1, "song.xm: is the input file (song.xm); refusing to write over it"),
        (["song.xm", p("song.xm")], 1, "is the input file"),
        (["song.xm", "hard.raw"], 1, "hard.raw: is the input file"),
        (["song.xm", "soft.wav"], 1, "soft.wav: is the input file"),
        (["--sync", "song.xm", "song.xm", "-"], 1, "song.xm: is the input file"),
        (["--frames", "1", "song.xm", "out.mp3"], 2, "cannot write (.wav gives WAV"),
        (["--frames", "1", "song.xm", "out.FLAC"], 2, "out.FLAC"),
        (["--frames", "1", "cut60.xm", "-"], 1, "cut60.xm: file is cut short at byte 60 (header incomplete)"),
        (["--frames", "1", "cut100.xm", "-"], 0, "cut100.xm: warning: file ends at byte 100; the rest plays as silence"),
        (["--frames", "1", "song.xm", "link.wav"], 0, "884 frames"),
        (["--frames", "1", "song.xm", "locked.wav"], 1, "locked.wav: cannot write: Permission denied"),
    ]
    for args, status, text in cases:
        result = run(*args, user=args[-1] == "locked.wav" and root)
        err = result.stderr.decode()
        check(result.returncode == status and text in err, f"{args}: status {result.returncode}, {err!r}")
        check(open(p("song.xm"), "rb").read() == song, f"{args}: the song was changed")
        open(p("song.xm"), "wb").write(song)
    check(os.path.islink(p("soft.wav")), "the link to the song was replaced")
    check(os.path.islink(p("link.wav")) and wav_frames(open(p("real.wav"), "rb").read()) == (884, 884),
          "the link's target was not written, or the link replaced")
    check(open(p("locked.wav"), "rb").read() == b"locked", "the locked file was changed")
    check(sorted(os.listdir(d)) == sorted(["vinto-render", "song.xm", "cut100.xm", "cut60.xm", "hard.raw", "soft.wav", "link.wav",
                                           "sub", "real.wav", "locked.wav", "fifo.wav"]), f"left behind: {os.listdir(d)}")

    # A FIFO is written in place; without a length the song is counted first, so
    # the WAV header written ahead says how much follows.
    received = []
    reader = threading.Thread(target=lambda: received.append(open(p("fifo.wav"), "rb").read()), daemon=True)
    reader.start()
    result = run("song.xm", "fifo.wav")
    reader.join(60 if result.returncode == 0 else 1)
    check(result.returncode == 0 and stat.S_ISFIFO(os.lstat(p("fifo.wav")).st_mode), f"FIFO: {result}")
    frames = wav_frames(received[0]) if received else (0, 1)
    check(frames[0] == frames[1] > 44100, f"FIFO: header says {frames[0]} frames, {frames[1]} came")
    if root:  # a device node of its own (the null device's numbers)
        os.mknod(p("null.raw"), 0o666 | stat.S_IFCHR, os.makedev(1, 3))
        result = run("--frames", "1", "song.xm", "null.raw")
        check(stat.S_ISCHR(os.lstat(p("null.raw")).st_mode), "the device node was replaced")

    result = run("--version")
    check(result.stdout.decode() == f"vinto-render {version}\n", f"--version: {result.stdout!r}")

for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
