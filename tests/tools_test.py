#!/usr/bin/env python3
"""vinto-render as a user meets it (what it holds: docs/testing.md).
usage: tools_test.py TOOL SONG VERSION EXACT_HASHES COMPLETE_HASHES"""
import functools, os, shutil, stat, struct, subprocess, sys, tempfile

tool, song_path, version, *tables = sys.argv[1:]
song = open(song_path, "rb").read()
failures = []
root = os.geteuid() == 0


def check(condition, what):
    if not condition:
        failures.append(what)


def fnv(data):  # 64-bit FNV-1a, as the digest tables hold it
    return "%016x" % functools.reduce(lambda h, byte: (h ^ byte) * 0x100000001B3 % 2 ** 64, data, 0xCBF29CE484222325)


def xm(rows, speed=6, bpm=125, orders=(0,), restart=0, channels=1):  # one empty pattern, no instruments
    head = b"Extended Module: " + bytes(20) + b"\x1a" + bytes(20) + struct.pack(
        "<HIHHHHHHHH", 0x104, 276, len(orders), restart, channels, 1, 0, 1, speed, bpm)
    return head + bytes(orders).ljust(256, b"\0") + struct.pack("<IBHH", 9, 0, rows, 0)


def run(*args, user=False):  # root writes anything: the permission case runs as nobody
    return subprocess.run([os.path.join(d, "vinto-render"), *args], capture_output=True, cwd=d, timeout=300,
                          preexec_fn=(lambda: (os.setgid(65534), os.setuid(65534))) if user else None)


read = lambda name: open(os.path.join(d, name), "rb").read()
# The data size the header gives, in frames, and the frames that came.
wav_frames = lambda data: (int.from_bytes(data[40:44], "little") // 4, (len(data) - 44) // 4)

with tempfile.TemporaryDirectory() as d:
    os.chmod(d, 0o777)
    shutil.copy(tool, d)  # where user nobody may run it, wherever the build is
    p = lambda name: os.path.join(d, name)
    files = {"song.xm": song, "cut100.xm": song[:100], "cut60.xm": song[:60], "text.xm": b"x" * 400,
             "wide.xm": xm(4, channels=33), "slow.xm": xm(256, 31, 32, (0, 0, 0)), "often.xm": xm(1, 1, 255, channels=2)}
    for name, data in files.items():
        open(p(name), "wb").write(data)

    # 30 s in each mode: the library's samples and position records, in a WAV file and a position file.
    for mode, table in zip(("exact", "complete"), tables):
        run("--mode", mode, "--seconds", "30", "--sync", "s.csv", "song.xm", "o.wav")
        wav, rows = read("o.wav"), read("s.csv").decode().splitlines()
        records = b"".join(struct.pack("<BBI", *map(int, row.split(",")[1:])) for row in rows[1:])
        line = " ".join(["resources:vinto.xm", str(len(song)), fnv(song), fnv(wav[44:]), fnv(records)])
        check(line + "\n" in open(table).read() and rows[0] == "block,order,row,time_ms", f"{mode}: {line} not in {table}")
        data = 1497 * 3536  # 1497 blocks of 884 frames
        check(len(wav) == 44 + data and struct.unpack("<4sI4s4sIHHIIHH4sI", wav[:44]) ==
              (b"RIFF", 36 + data, b"WAVE", b"fmt ", 16, 1, 2, 44100, 176400, 4, 16, b"data", data), f"{mode}: {wav[:44]!r}")

    # Lengths: whole blocks of 884 frames, or once through (the last block cut).
    info = run("--mode", "exact", "--info", "song.xm").stdout.decode()
    once = int(info.split(" frames)")[0].rsplit("(", 1)[1])
    for args, frames in [(["--frames", "885", "song.xm"], 1768), (["--seconds", "0.02", "song.xm"], 884),
                         # Just below and just above 884 / 44100 s: exact however many digits.
                         (["--seconds", "0.0200453514739229024943310657596371882086167800453", "song.xm"], 884),
                         (["--seconds", "0.02004535147392290249433106575963718820861678004536", "song.xm"], 1768),
                         (["--mode", "exact", "song.xm"], once), (["often.xm"], 432),  # passes of 432 frames
                         (["slow.xm"], 30 * 60 * 44100)]:  # 620 s an order, three orders: stopped at 30 minutes
        err = run("--sync", "s.csv", *args, "/dev/null").stderr.decode()
        check(f" {frames} frames" in err and ("30 minutes" in err) == (frames > 10 ** 7) and
              len(read("s.csv").splitlines()) == 1 + (frames + 883) // 884, f"{args}: {err}")
    check(info.startswith("title        vinto\nchannels     14\norders       15\npatterns     15\ninstruments  7\n"
                          "frequencies  linear\nduration     0:52.114 (2298240 frames)\ninstrument   1  bass\n"), info)

    # The controls against the plain rendering (exact mode, once through).
    plain = run("--mode", "exact", "song.xm", "-").stdout
    silence = bytes(len(plain))
    for args, expected in [(["--start", "1.5"], plain[66150 * 4:]), (["--start", "0:02"], plain[88200 * 4:]),
                           (["--mute", "1-14"], silence), (["--volume", "0"], silence), (["--volume", "1"], plain),
                           (["--loops", "2"], lambda got: got[:len(plain)] == plain and len(got) > len(plain)),
                           (["--start-order", "3:16"], lambda got: 0 < len(got) < len(plain) - 3 * 176400 and
                            plain.endswith(got)),
                           (["--mute", "2,4"], lambda got: len(got) == len(plain) and got not in (plain, silence))]:
        got = run("--mode", "exact", *args, "song.xm", "-").stdout
        check(expected(got) if callable(expected) else got == expected, f"{args}: {len(got)} bytes")

    # (arguments, exit status, text on standard error): nothing written, no file left or changed.
    usage = "usage: vinto-render"
    os.mkdir(p("sub"))
    os.link(p("song.xm"), p("hard.raw"))
    os.symlink("song.xm", p("soft.wav"))
    open(p("locked.wav"), "wb").write(b"locked")
    os.chmod(p("locked.wav"), 0o644 if root else 0o444)  # root's own file, or no write permission
    files_now = lambda: {name: (os.path.islink(p(name)), os.path.isfile(p(name)) and read(name)) for name in os.listdir(d)}
    for args, status, text in [
        (["none.xm", "o.wav"], 1, "none.xm: cannot open the file"), (["sub", "o.wav"], 1, "sub: is a directory"),
        (["text.xm", "o.wav"], 1, "text.xm: not an XM module"), (["wide.xm", "o"], 1, "too many channels (33, at most 32)"),
        (["song.xm", "no/o.wav"], 1, "no/o.wav: cannot write"), (["--frames", "9", "song.xm", "sub"], 1, "sub: cannot write"),
        (["--sync", "no/s.csv", "song.xm", "o.wav"], 1, "no/s.csv: cannot write"), ([], 2, usage),
        (["--seconds", "1e3", "song.xm", "a.wav"], 2, usage), (["--mode", "loud", "song.xm", "a.wav"], 2, "--mode needs exact or complete"),
        (["--frames", "99999999999", "song.xm", "a.wav"], 2, "too long for a WAV file"),
        (["--loops", "0", "song.xm", "-"], 2, usage), (["--mute", "0", "song.xm", "-"], 2, usage),
        (["--mute", "15", "song.xm", "-"], 1, "15"), (["--volume", "1.5", "song.xm", "-"], 2, usage),
        (["--start", "x", "song.xm", "-"], 2, usage), (["--start-order", "15", "song.xm", "-"], 1, "15"),
        (["--start", "1", "--start-order", "0", "song.xm", "-"], 2, usage),
        (["song.xm", "song.xm"], 1, "song.xm: is the input file (song.xm); refusing to write over it"),
        (["song.xm", p("song.xm")], 1, "is the input file"), (["song.xm", "hard.raw"], 1, "hard.raw: is the input file"),
        (["song.xm", "soft.wav"], 1, "soft.wav: is the input file"), (["--sync", "song.xm", "song.xm", "-"], 1, "song.xm: is the input file"),
        (["--frames", "1", "song.xm", "out.mp3"], 2, "cannot write (.wav gives WAV"), (["--frames", "1", "song.xm", "o.FLAC"], 2, "o.FLAC"),
        (["--frames", "1", "cut60.xm", "-"], 1, "cut60.xm: file is cut short at byte 60 (header incomplete)"),
        (["--frames", "1", "song.xm", "locked.wav"], 1, "locked.wav: cannot write: Permission denied"),
    ]:
        before = files_now()
        result = run(*args, user=args[-1:] == ["locked.wav"] and root)
        err = result.stderr.decode()
        check(result.returncode == status and text in err and not result.stdout, f"{args}: status {result.returncode}, {err!r}")
        check(before == files_now(), f"{args}: files changed")

    # Written as a plain open would: a link's target, a FIFO and a device in place.
    os.symlink("sub/../real.wav", p("link.wav"))
    open(p("real.wav"), "wb").write(b"old")
    result = run("--frames", "1", "cut100.xm", "link.wav")
    check("cut100.xm: warning: file ends at byte 100; the rest plays as silence" in result.stderr.decode(), result.stderr)
    check(os.path.islink(p("link.wav")) and wav_frames(read("real.wav")) == (884, 884), "the link's target was not written")
    # Without a length the song is counted first, so the WAV header written ahead says how much follows.
    os.mkfifo(p("fifo.wav"))
    reader = subprocess.Popen(["cat", "fifo.wav"], cwd=d, stdout=open(p("fifo.got"), "wb"))
    result = run("song.xm", "fifo.wav")
    if result.returncode:
        reader.kill()  # the FIFO may never have been opened
    frames = wav_frames(read("fifo.got")) if reader.wait(60) == 0 else (0, 1)
    check(result.returncode == 0 and stat.S_ISFIFO(os.lstat(p("fifo.wav")).st_mode) and frames[0] == frames[1] > 44100,
          f"FIFO: {result}, header says {frames[0]} frames, {frames[1]} came")
    if root:  # a device node of its own (the null device's numbers)
        os.mknod(p("null.raw"), 0o666 | stat.S_IFCHR, os.makedev(1, 3))
        run("--frames", "1", "song.xm", "null.raw")
        check(stat.S_ISCHR(os.lstat(p("null.raw")).st_mode), "the device node was replaced")
    check(run("--version").stdout.decode() == f"vinto-render {version}\n", "--version")

for failure in failures:
    print("FAILED:", failure)
print("%d checks failed" % len(failures) if failures else "all checks passed")
sys.exit(1 if failures else 0)
