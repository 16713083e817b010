#!/usr/bin/env python3
"""Checks a built vinto.exe without running it: the PE headers (machine, GUI
subsystem), the imports (system DLLs only: it must run on a bare Windows), the
resources (exactly the player dialog 120 with its template bytes and the song as
raw data 251), the size without the song, and that nothing in the program needs
the C runtime's start-up (no TLS callbacks, no global constructors).

usage: check_pe.py --exe vinto.exe --machine i386|amd64 --song song.xm
                   [--max-size BYTES] [--map LINK.map] [--objdump TOOL --objects FILE...]
Prints one line per check; exits 1 when any fails."""

import argparse
import os
import re
import struct
import subprocess
import sys

MACHINES = {"i386": 0x014C, "amd64": 0x8664}
RT_DIALOG = 5
RT_RCDATA = 10
SUBSYSTEM_WINDOWS_GUI = 2
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "winmm.dll", "msvcrt.dll"}


def utf16z(text):
    return text.encode("utf-16-le") + b"\0\0"


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def expected_dialog():
    """The player dialog's extended template, byte for byte."""
    header = struct.pack("<HHIIIHhhhh", 1, 0xFFFF, 0, 0, 0x80800840, 2, 0, 0, 153, 50)
    header += b"\0\0" + b"\0\0" + b"\0\0"  # no menu, default class, empty title
    header += struct.pack("<HHBB", 8, 0, 0, 1) + utf16z("MS Sans Serif")
    data = pad4(header)

    def item(exstyle, style, x, y, cx, cy, ident, atom, text, last):
        body = struct.pack("<IIIhhhhi", 0, exstyle, style, x, y, cx, cy, ident)
        body += struct.pack("<HH", 0xFFFF, atom) + utf16z(text) + struct.pack("<H", 0)
        return body if last else pad4(body)

    data += item(0x20, 0x50021201, 5, 5, 140, 15, -1, 0x0082, "- vinto - talbet -", False)
    data += item(0, 0x50010000, 5, 25, 140, 19, 1003, 0x0080, "close", True)
    return data


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.entry = struct.unpack_from("<I", data, optional + 16)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, rva, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), rva, max(vsize, raw_size), raw_offset, raw_size))

    def offset(self, rva):
        for _, start, size, raw, raw_size in self.sections:
            if start <= rva < start + size and rva - start < raw_size:
                return raw + rva - start
        raise ValueError("address %#x outside the file" % rva)

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def imports(self):
        rva, size = self.directory(1)
        names = []
        if not size:
            return names
        at = self.offset(rva)
        while True:
            name_rva = struct.unpack_from("<5I", self.data, at)[3]
            if name_rva == 0:
                return names
            start = self.offset(name_rva)
            names.append(self.data[start:self.data.index(b"\0", start)].decode())
            at += 20

    def resources(self):
        """{(type, id): [(language, bytes)]} for numbered types and ids; names as strings."""
        base_rva, size = self.directory(2)
        if not size:
            return {}
        base = self.offset(base_rva)

        def entries(at):
            named, numbered = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                if ident & 0x80000000:
                    name_at = base + (ident & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, name_at)[0]
                    ident = self.data[name_at + 2:name_at + 2 + 2 * length].decode("utf-16-le")
                yield ident, target

        found = {}
        for kind, kind_dir in entries(base):
            for ident, ident_dir in entries(base + (kind_dir & 0x7FFFFFFF)):
                for language, leaf in entries(base + (ident_dir & 0x7FFFFFFF)):
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(data_rva)
                    found.setdefault((kind, ident), []).append((language, self.data[start:start + data_size]))
        return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--machine", required=True, choices=sorted(MACHINES))
    parser.add_argument("--song", required=True)
    parser.add_argument("--max-size", type=int, default=0, help="largest size without the song, 0: not checked")
    parser.add_argument("--map", help="the linker's map of the program")
    parser.add_argument("--objdump")
    parser.add_argument("--objects", nargs="*", default=[])
    args = parser.parse_args()

    with open(args.exe, "rb") as f:
        data = f.read()
    with open(args.song, "rb") as f:
        song = f.read()
    pe = Pe(data)
    failures = []

    def check(ok, text):
        print(("ok    " if ok else "FAIL  ") + text)
        if not ok:
            failures.append(text)

    check(pe.machine == MACHINES[args.machine], "machine %#06x (%s)" % (pe.machine, args.machine))
    check(pe.magic == (0x10B if args.machine == "i386" else 0x20B), "optional header magic %#x" % pe.magic)
    check(pe.subsystem == SUBSYSTEM_WINDOWS_GUI, "subsystem %d (Windows GUI: no console)" % pe.subsystem)
    check(any(name == ".text" and start <= pe.entry < start + size for name, start, size, _, _ in pe.sections),
          "entry point %#x in the code" % pe.entry)

    dlls = pe.imports()
    check(bool(dlls) and all(d.lower() in ALLOWED_DLLS for d in dlls),
          "imports only system DLLs: %s" % ", ".join(dlls))
    check(pe.directory(9)[1] == 0, "no TLS directory (nothing runs before the entry)")

    resources = pe.resources()
    check(sorted(resources) == [(RT_DIALOG, 120), (RT_RCDATA, 251)],
          "exactly two resources, dialog 120 and raw data 251: %s" % sorted(resources))
    check(all(len(v) == 1 for v in resources.values()), "one language of each resource")
    dialog = resources.get((RT_DIALOG, 120), [(0, b"")])[0][1]
    check(dialog == expected_dialog(), "dialog template bytes (%d bytes)" % len(dialog))
    if dialog != expected_dialog():
        print("      got      " + dialog.hex())
        print("      expected " + expected_dialog().hex())
    embedded = resources.get((RT_RCDATA, 251), [(0, b"")])[0][1]
    check(embedded == song, "resource 251 holds the song (%d bytes)" % len(song))

    without_song = len(data) - len(song)
    print("      size %d bytes, %d without the song" % (len(data), without_song))
    if args.max_size:
        check(without_song <= args.max_size, "size without the song %d <= %d" % (without_song, args.max_size))

    if args.map:
        # Any constructor, initialiser or TLS contribution from any linked object
        # (libraries included) would be code that nothing ever runs.
        pattern = re.compile(r"^ (\.(?:ctors|dtors|init_array|fini_array|tls|CRT)\S*)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+)")
        with open(args.map) as f:
            found = [(m.group(1), m.group(3)) for m in map(pattern.match, f) if m and int(m.group(2), 16)]
        check(not found, "no constructor, initialiser or TLS data among the linked objects%s" %
              (": " + ", ".join("%s from %s" % item for item in found) if found else ""))

    if args.objects:
        # Global constructors would need the C runtime's start-up, which this program does without.
        listing = subprocess.run([args.objdump, "-h"] + args.objects, check=True,
                                 capture_output=True, text=True).stdout
        bad = sorted({word for line in listing.splitlines() for word in line.split()
                      if word.startswith((".ctors", ".init_array", ".dtors", ".fini_array", ".tls", ".CRT"))})
        check(not bad, "no constructor or TLS sections in %s%s" %
              (", ".join(os.path.basename(o) for o in args.objects), (": " + ", ".join(bad)) if bad else ""))

    print("%d checks failed" % len(failures) if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
