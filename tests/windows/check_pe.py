#!/usr/bin/env python3
"""Checks a built vinto.exe without running it: machine and GUI subsystem, imports from system DLLs only (it runs
on a bare Windows), exactly the dialog 120 and the song as raw data 251, the size without the song, and nothing
that needs the C runtime's start-up (TLS, constructors).
usage: check_pe.py --exe vinto.exe --machine i386|amd64 --song song.xm [--max-size BYTES] [--map LINK.map]
Prints a line per check; exits 1 when any fails."""
import argparse, re, struct, sys

failures = []


def check(ok, text):
    print(("ok    " if ok else "FAIL  ") + text)
    failures.extend([] if ok else [text])


parser = argparse.ArgumentParser()
for option in ("exe", "machine", "song", "map"):
    parser.add_argument("--" + option)
parser.add_argument("--max-size", type=int, default=0)
a = parser.parse_args()
data, song = open(a.exe, "rb").read(), open(a.song, "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
machine, section_count, optional_size = struct.unpack_from("<HH12xH", data, pe + 4)
optional = pe + 24
(magic,), (entry,), (subsystem,) = (struct.unpack_from(f, data, optional + o) for f, o in (("<H", 0), ("<I", 16), ("<H", 68)))
wide = a.machine == "amd64"
directory = [struct.unpack_from("<II", data, optional + (112 if wide else 96) + 8 * i) for i in range(16)]
sections = [struct.unpack_from("<8sIIII", data, optional + optional_size + 40 * i) for i in range(section_count)]


def at(rva):  # file offset of an address
    return next(raw + rva - start for name, size, start, raw_size, raw in sections if start <= rva < start + raw_size)

check(data[:2] == b"MZ" and data[pe:pe + 4] == b"PE\0\0" and machine == (0x8664 if wide else 0x14C) and
      magic == (0x20B if wide else 0x10B), "a %s PE file" % a.machine)
check(subsystem == 2, "subsystem %d (Windows GUI: no console)" % subsystem)
check(any(name.rstrip(b"\0") == b".text" and start <= entry < start + size for name, size, start, _, _ in sections),
      "entry point %#x in the code" % entry)
dlls, descriptor = [], at(directory[1][0])
while name := struct.unpack_from("<5I", data, descriptor)[3]:  # up to the empty import descriptor
    dlls.append(data[at(name):data.index(b"\0", at(name))].decode())
    descriptor += 20
check(dlls and all(d.lower() in ("kernel32.dll", "user32.dll", "winmm.dll", "msvcrt.dll") for d in dlls),
      "imports only system DLLs: %s" % ", ".join(dlls))
check(directory[9][1] == 0, "no TLS directory (nothing runs before the entry)")

base = at(directory[2][0])


def entries(offset):  # (id, target) of a resource directory
    named, numbered = struct.unpack_from("<HH", data, offset + 12)
    return [struct.unpack_from("<II", data, offset + 16 + 8 * i) for i in range(named + numbered)]


resources = {}
for kind, kinds in entries(base):
    for ident, idents in entries(base + (kinds & 0x7FFFFFFF)):
        for _, leaf in entries(base + (idents & 0x7FFFFFFF)):
            rva, size = struct.unpack_from("<II", data, base + leaf)
            resources.setdefault((kind, ident), []).append(data[at(rva):at(rva) + size])
check(sorted(resources) == [(5, 120), (10, 251)] and all(len(v) == 1 for v in resources.values()),
      "exactly dialog 120 and raw data 251, one language each: %s" % sorted(resources))
check(resources.get((10, 251), [b""])[0] == song, "resource 251 holds the song (%d bytes)" % len(song))
if a.max_size:
    check(len(data) - len(song) <= a.max_size, "size without the song %d <= %d" % (len(data) - len(song), a.max_size))
if a.map:
    # A constructor, initialiser or TLS contribution from any linked object would be code nothing runs.
    pattern = re.compile(r"^ (\.(?:ctors|dtors|init_array|fini_array|tls|CRT)\S*)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+)")
    found = [m.group(1) + " from " + m.group(3) for m in map(pattern.match, open(a.map)) if m and int(m.group(2), 16)]
    check(not found, "no constructor, initialiser or TLS data among the linked objects " + ", ".join(found))
print("%d checks failed" % len(failures) if failures else "all checks passed")
sys.exit(1 if failures else 0)
