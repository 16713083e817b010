#!/usr/bin/env python3
"""Composes vinto's embedded song and writes it as an XM module.

Everything is generated here: the seven instruments are synthesised, the
patterns are written from the note lists below. The output is the same byte
for byte on every run (the only noise source is a fixed-seed generator), so
resources/vinto.xm can always be rebuilt from this file:

    python3 resources/compose_song.py [--out FILE]

The piece: A minor, 138 BPM, 15 patterns of 32 rows (two bars each) played
once each in order and looping back to the first; see resources/README.md.
"""
import argparse
import math
import os
import struct

CHANNELS = 14
ROWS = 32
PATTERNS = 15
SPEED = 6
BPM = 138
TOTAL_ROWS = ROWS * PATTERNS

KEY_OFF = 97

# Effect numbers as stored in the file.
FX_ARPEGGIO = 0x00
FX_PORTA_UP = 0x01
FX_PORTA_DOWN = 0x02
FX_TONE_PORTA = 0x03
FX_SET_PAN = 0x08
FX_VOLUME_SLIDE = 0x0A
FX_EXTENDED = 0x0E  # EDx (note delay) lives here
FX_GLOBAL_SLIDE = 0x11  # Hxy
FX_RETRIGGER = 0x1B  # Rxy

# Instrument numbers as written in cells (1-based).
BASS, LEAD, PAD, KICK, SNARE, HAT, PLUCK = range(1, 8)

# Channel roles.
CH_KICK, CH_SNARE, CH_HAT, CH_BASS = 0, 1, 2, 3
CH_PAD = (4, 5, 6)
CH_LEAD, CH_ECHO, CH_ARP, CH_CHIP, CH_TOM, CH_BELL, CH_FX = 7, 8, 9, 10, 11, 12, 13

# ---------------------------------------------------------------------------
# Notes

NOTE_INDEX = {"C": 0, "C#": 1, "Db": 1, "D": 2, "D#": 3, "Eb": 3, "E": 4, "F": 5,
              "F#": 6, "Gb": 6, "G": 7, "G#": 8, "Ab": 8, "A": 9, "A#": 10, "Bb": 10, "B": 11}


def note(name):
    """'A4', 'C#5', 'Bb3' -> XM note number (C-0 is 1, C-4 is 49)."""
    return NOTE_INDEX[name[:-1]] + 12 * int(name[-1]) + 1


def vol(v):
    """Volume-column byte that sets volume v (0..64)."""
    assert 0 <= v <= 64
    return 0x10 + v


# Chords: root for the bass (octave 2/3) and three pad voices (close voicing).
CHORDS = {
    "Am": ("A2", ("A3", "C4", "E4")),
    "F": ("F2", ("A3", "C4", "F4")),
    "C": ("C3", ("G3", "C4", "E4")),
    "G": ("G2", ("G3", "B3", "D4")),
    "Em": ("E2", ("G3", "B3", "E4")),
    "E": ("E2", ("G#3", "B3", "E4")),
}

# Arpeggio tones per chord (pluck channel), low to high.
ARP_TONES = {
    "Am": ("A4", "C5", "E5", "A5"),
    "F": ("A4", "C5", "F5", "A5"),
    "C": ("G4", "C5", "E5", "G5"),
    "G": ("G4", "B4", "D5", "G5"),
    "Em": ("G4", "B4", "E5", "G5"),
    "E": ("G#4", "B4", "E5", "G#5"),
}

# Chip arpeggio (effect 0xy) root and intervals.
CHIP = {"Am": ("A4", 0x37), "F": ("F4", 0x47), "C": ("C5", 0x47), "G": ("G4", 0x47),
        "Em": ("E4", 0x37), "E": ("E4", 0x47)}

# Two chords per pattern, one per bar.
PROGRESSION = [
    ("Am", "F"), ("C", "G"),            # 0-1 intro
    ("Am", "F"), ("C", "G"),            # 2-3 verse
    ("Am", "F"), ("C", "G"),            # 4-5 verse again, fill into the chorus
    ("F", "G"), ("Em", "Am"),           # 6-7 chorus
    ("F", "G"), ("E", "E"),             # 8-9 chorus, turnaround
    ("Am", "F"), ("C", "G"),            # 10-11 breakdown and build
    ("F", "G"), ("Em", "Am"),           # 12-13 last chorus
    ("F", "E"),                         # 14 outro, leads back to the intro
]

# ---------------------------------------------------------------------------
# The song as one timeline of 480 rows; cut into patterns at the end.

song = [[[0, 0, 0, 0, 0] for _ in range(CHANNELS)] for _ in range(TOTAL_ROWS)]


def put(ch, row, n=0, inst=0, v=0, fx=None, param=0):
    """Writes fields of one cell; refuses to overwrite a different value."""
    cell = song[row % TOTAL_ROWS][ch]
    fields = [(0, n), (1, inst), (2, v)]
    if fx is not None:
        fields += [(3, fx), (4, param)]
        if cell[3] or cell[4]:
            raise ValueError("effect clash on channel %d row %d" % (ch, row))
    if n and cell[0] == KEY_OFF:
        cell[0] = 0  # a note supersedes a release planned on the same row
    for i, value in fields:
        if value and cell[i] and cell[i] != value:
            raise ValueError("clash on channel %d row %d field %d" % (ch, row, i))
        if value:
            cell[i] = value


def effect_free(ch, row):
    cell = song[row % TOTAL_ROWS][ch]
    return cell[3] == 0 and cell[4] == 0


def key_off(ch, row):
    """A key-off unless a note already starts there."""
    if song[row % TOTAL_ROWS][ch][0] == 0:
        put(ch, row, KEY_OFF)


def hit(ch, row, inst, n, v, length=None, pan=None):
    """A note with instrument and volume; released after length rows if given."""
    put(ch, row, note(n), inst, vol(v))
    if pan is not None and effect_free(ch, row):
        put(ch, row, fx=FX_SET_PAN, param=pan)
    if length is not None:
        key_off(ch, row + length)


def bar_start(p, bar):
    return p * ROWS + bar * 16


# ---------------------------------------------------------------------------
# Drums

def drums(p, style):
    """One pattern of drums. Styles: intro, intro_build, verse, fill, chorus,
    turnaround, breakdown, build, outro."""
    base = p * ROWS
    for bar in range(2):
        b = base + bar * 16
        last_bar = bar == 1
        if style == "intro":
            hit(CH_KICK, b, KICK, "C4", 30)
            for r in (2, 6, 10, 14):
                hit(CH_HAT, b + r, HAT, "C4", 12 + (4 if r in (6, 14) else 0), 1)
            for r in (3, 11):
                put(CH_HAT, b + r, note("C4"), HAT, vol(7), FX_EXTENDED, 0xD2)
                key_off(CH_HAT, b + r + 1)
            continue
        if style in ("breakdown",):
            hit(CH_KICK, b, KICK, "C4", 28)
            for r in range(2, 16, 4):
                hit(CH_HAT, b + r, HAT, "C4", 14, 1)
            for r in (7, 15):
                put(CH_HAT, b + r, note("C4"), HAT, vol(8), FX_EXTENDED, 0xD1)
                key_off(CH_HAT, b + r + 1)
            continue
        if style == "intro_build" and not last_bar:
            hit(CH_KICK, b, KICK, "C4", 34)
            hit(CH_KICK, b + 8, KICK, "C4", 30)
            for r in range(2, 16, 2):
                hit(CH_HAT, b + r, HAT, "C4", 12 if r % 4 else 9, 1)
            continue
        if style == "outro" and last_bar:
            # The drums thin out: one soft kick, fading hats, into the intro.
            hit(CH_KICK, b, KICK, "C4", 36)
            hit(CH_KICK, b + 8, KICK, "C4", 24)
            for i, r in enumerate((2, 6, 10, 14)):
                hit(CH_HAT, b + r, HAT, "C4", 18 - 3 * i, 1)
            hit(CH_SNARE, b + 12, SNARE, "C4", 14)
            continue
        # Four on the floor.
        loud = style in ("chorus", "turnaround")
        kick_v = 46 if loud else 40
        for r in (0, 4, 8, 12):
            hit(CH_KICK, b + r, KICK, "C4", kick_v)
        fill_bar = last_bar and style in ("fill", "turnaround", "intro_build", "build")
        if style == "verse" and last_bar:
            hit(CH_KICK, b + 14, KICK, "C4", 26)
        # Backbeat.
        if not (fill_bar and style in ("intro_build", "build")):
            hit(CH_SNARE, b + 4, SNARE, "C4", 40 if loud else 34)
            if not fill_bar:
                hit(CH_SNARE, b + 12, SNARE, "C4", 42 if loud else 36)
        # Hats: open on the off-beats, closed sixteenths between.
        for r in range(16):
            if fill_bar and r >= 12:
                break
            if r % 4 == 2:
                hit(CH_HAT, b + r, HAT, "C4", 24 if style == "chorus" else 20, 2)
            elif r % 2 == 1 and style in ("chorus", "turnaround", "fill"):
                hit(CH_HAT, b + r, HAT, "C4", 10 + (3 if r % 4 == 3 else 0), 1)
            elif r % 4 == 3:
                hit(CH_HAT, b + r, HAT, "C4", 11, 1)
        # Chorus clap layer: the snare pitched up on the tom channel.
        if style in ("chorus", "turnaround") and not fill_bar:
            for r in (4, 12):
                hit(CH_TOM, b + r, SNARE, "G4", 16, 2, pan=0x60)
        if fill_bar:
            if style in ("fill", "turnaround"):
                # Toms falling with portamento down, snare sixteenths under them.
                hit(CH_SNARE, b + 12, SNARE, "C4", 30)
                put(CH_SNARE, b + 13, note("C4"), SNARE, vol(34))
                put(CH_SNARE, b + 14, note("C4"), SNARE, vol(38), FX_RETRIGGER, 0x03)
                put(CH_SNARE, b + 15, note("C4"), SNARE, vol(44), FX_RETRIGGER, 0x92)
                for r, n in ((8, "C5"), (10, "G4"), (12, "E4"), (14, "C4")):
                    hit(CH_TOM, b + r, KICK, n, 30, pan=0xA0 - 16 * (r - 8))
                    put(CH_TOM, b + r + 1, fx=FX_PORTA_DOWN, param=0x06)
                key_off(CH_TOM, b + 16)
            else:
                # Snare build: eighths, sixteenths, then 32nd-note retriggers.
                for i, r in enumerate(range(0, 8, 2)):
                    hit(CH_SNARE, b + r, SNARE, "C4", 16 + 2 * i)
                for i, r in enumerate(range(8, 12)):
                    hit(CH_SNARE, b + r, SNARE, "C4", 24 + 2 * i)
                for i, r in enumerate(range(12, 16)):
                    put(CH_SNARE, b + r, note("C4"), SNARE, vol(34 + 3 * i), FX_RETRIGGER, 0x03)
                key_off(CH_SNARE, b + 16)


# ---------------------------------------------------------------------------
# Bass

BASS_FIGURES = {
    # (row in bar, semitones above the root, length in rows, volume)
    "long": [(0, 0, 14, 40)],
    "verse": [(0, 0, 3, 44), (3, 0, 1, 32), (4, 12, 2, 38), (6, 0, 2, 40),
              (8, 0, 3, 44), (11, 0, 1, 32), (12, 12, 2, 38), (14, 7, 2, 36)],
    "chorus": [(2, 0, 2, 50), (3, 12, 1, 32), (6, 0, 2, 50), (7, 12, 1, 32),
               (10, 0, 2, 50), (11, 12, 1, 32), (14, 0, 2, 50), (15, 12, 1, 32)],
    "walk": [(0, 0, 4, 44), (4, 0, 2, 40), (6, 12, 2, 38), (8, 0, 4, 44),
             (12, 7, 2, 38), (14, 12, 2, 40)],
}


def transpose(name, semitones):
    return note(name) + semitones


def bass(p, figures):
    for bar in range(2):
        b = bar_start(p, bar)
        root = CHORDS[PROGRESSION[p][bar]][0]
        for r, st, length, v in BASS_FIGURES[figures[bar]]:
            put(CH_BASS, b + r, transpose(root, st), BASS, vol(v * 4 // 5))
            key_off(CH_BASS, b + r + length)


# ---------------------------------------------------------------------------
# Pads: three voices; a voice whose note stays from one chord to the next
# is held instead of struck again.

pad_playing = [None, None, None]


def pads(p, level, bars=(0, 1)):
    for bar in bars:
        b = bar_start(p, bar)
        voices = CHORDS[PROGRESSION[p][bar]][1]
        for i, ch in enumerate(CH_PAD):
            n = note(voices[i])
            if pad_playing[i] != n:
                put(ch, b, n, PAD, vol(level), FX_SET_PAN, (0x50, 0x80, 0xB0)[i])
                pad_playing[i] = n


def pads_release(row):
    for i, ch in enumerate(CH_PAD):
        key_off(ch, row)
        pad_playing[i] = None


# ---------------------------------------------------------------------------
# Pluck arpeggio (sixteenths over the chord tones, gently panned from side to side)

ARP_ORDER = (0, 1, 2, 3, 2, 1, 2, 3, 0, 1, 2, 3, 2, 1, 2, 1)


def arp(p, level, every=1, bars=(0, 1)):
    for bar in bars:
        b = bar_start(p, bar)
        tones = ARP_TONES[PROGRESSION[p][bar]]
        for r in range(0, 16, every):
            accent = 6 if r % 4 == 0 else 0
            pan = 0x60 + (0x40 if (r // 2) % 2 else 0)
            put(CH_ARP, b + r, note(tones[ARP_ORDER[r]]), PLUCK, vol(level + accent),
                FX_SET_PAN, pan)


def chip(p, level):
    """Held chord roots with the arpeggio effect: a shimmering chord."""
    for bar in range(2):
        b = bar_start(p, bar)
        root, intervals = CHIP[PROGRESSION[p][bar]]
        for r in range(16):
            if r % 8 == 0:
                put(CH_CHIP, b + r, note(root), PLUCK, vol(level), FX_ARPEGGIO, intervals)
            else:
                put(CH_CHIP, b + r, fx=FX_ARPEGGIO, param=intervals)


# ---------------------------------------------------------------------------
# Melodies, one token per row:
#   A4, C#5    note (with instrument and the line's volume; '!' suffix: accent)
#   ~A5        tone portamento to the note (glide, no restart)
#   .          hold
#   -          release (key-off)
#   /Axy /2xy  an effect on that row (after a note or a hold)

def melody(ch, inst, start_row, text, level, glide=0x08, pan=None):
    row = start_row
    for token in text.split():
        if token == "|":
            continue
        fx = None
        param = 0
        if "/" in token:
            token, effect = token.split("/")
            fx = {"A": FX_VOLUME_SLIDE, "2": FX_PORTA_DOWN, "1": FX_PORTA_UP}[effect[0]]
            param = int(effect[1:], 16)
        if token in (".", ""):
            pass
        elif token == "-":
            key_off(ch, row)
        elif token.startswith("~"):
            put(ch, row, note(token[1:]), 0, 0, FX_TONE_PORTA, glide)
        else:
            accent = token.endswith("!")
            name = token.rstrip("!")
            put(ch, row, note(name), inst, vol(min(64, level + (8 if accent else 0))))
            if pan is not None and fx is None:
                put(ch, row, fx=FX_SET_PAN, param=pan)
        if fx is not None:
            put(ch, row, fx=fx, param=param)
        row += 1
    assert (row - start_row) % ROWS == 0, "a melody must fill whole patterns"
    return row


LEAD_VERSE_1 = """
A4 . . C5 . . E5! . . . D5 . C5 . B4 . | C5 . . . . . A4 . . . - . G4 . A4 .
G4 . . C5 . . E5! . . . . . D5 . E5 . | D5 . . . . . . . B4 . . . G4 . - .
"""
LEAD_VERSE_2 = """
A4 . . C5 . . E5! . . . G5 . E5 . D5 . | C5 . . . . . . . A4 . C5 . A4 . G4 .
G4 . . C5 . . E5! . . . G5 . . . E5 . | D5 . . . . . . . B4 . D5 . E5 . G5 .
"""
LEAD_CHORUS_1 = """
A5! . . . G5 . A5 . C6! . . . . . A5 . | B5! . . . G5 . . . D5 . . . G5 . B5 .
B5! . . . . . G5 . E5 . . . G5 . . . | G5! ~A5 . . . . . ./A01 ./A01 ./A01 ./A01 - . . E5 G5
"""
LEAD_CHORUS_2 = """
A5! . . . G5 . A5 . C6! . . . . . A5 . | B5! . . . D6 . . . C6 . . . B5 . . .
G#5! . . . . . . . B5 . . . E6! . . . | . . . . . . . . ./205 ./205 ./205 - . . . .
"""
LEAD_OUTRO = """
A5! . . . G5 . A5 . C6! . . . A5 . F5 . | G#5 . . . . . . . ./A01 ./A01 ./A01 ./A01 ./A01 - . .
"""

# Bell: long answering notes in the chorus, the verse tune an octave up in the breakdown.
BELL_CHORUS_A = """
. . . . . . . . F5 . . . C5 . . . | . . . . . . . . B4 . . . D5 . . .
. . . . . . . . B4 . . . E5 . . . | . . . . . . . . C5 . . . E5 . . .
"""
BELL_CHORUS_B = """
. . . . . . . . F5 . . . C5 . . . | . . . . . . . . D5 . . . G5 . . .
. . . . . . . . G#4 . . . B4 . . . | E5 . . . . . . . - . . . . . . .
"""
BELL_BREAKDOWN = """
A5 . . C6 . . E6 . . . D6 . C6 . B5 . | C6 . . . . . A5 . . . . . G5 . A5 .
G5 . . C6 . . E6 . . . . . D6 . E6 . | D6 . . . . . . . B5 . . . G5 . . .
"""


def echo(src, dst, delay, scale, pan):
    """The lead again a few rows later, softer and on the other side."""
    for row in range(TOTAL_ROWS):
        n, inst, v, fx, param = song[row][src]
        to = row + delay
        if n == 0 and fx == 0 and param == 0:
            continue
        if n == KEY_OFF:
            key_off(dst, to)
            continue
        put(dst, to, n, inst, vol(int((v - 0x10) * scale)) if v else 0,
            fx if (fx or param) else None, param)
        if inst and effect_free(dst, to):
            put(dst, to, fx=FX_SET_PAN, param=pan)


# ---------------------------------------------------------------------------
# Arrangement

def arrange():
    for row in song:
        for cell in row:
            cell[:] = [0, 0, 0, 0, 0]
    pad_playing[:] = [None, None, None]
    # 0: intro. Pad, pluck arpeggio, soft hats; the FX channel opens the loop.
    pads(0, 26)
    arp(0, 14)
    drums(0, "intro")
    bass(0, ("long", "long"))
    hit(CH_FX, 0, HAT, "C3", 16)
    put(CH_FX, 0, fx=FX_GLOBAL_SLIDE, param=0x10)  # global volume is already full
    # 1: intro builds: bass starts moving, kick, snare roll.
    pads(1, 26)
    arp(1, 16)
    drums(1, "intro_build")
    bass(1, ("long", "verse"))
    # 2-5: verse twice.
    for p in (2, 3, 4, 5):
        pads(p, 20)
        arp(p, 12, every=2)
        bass(p, ("verse", "verse"))
        drums(p, "fill" if p == 5 else "verse")
    hit(CH_FX, 2 * ROWS, HAT, "C3", 26)
    melody(CH_LEAD, LEAD, 2 * ROWS, LEAD_VERSE_1, 34)
    melody(CH_LEAD, LEAD, 4 * ROWS, LEAD_VERSE_2, 36)
    # 6-9: chorus.
    for p in (6, 7, 8, 9):
        pads(p, 28)
        chip(p, 16)
        bass(p, ("chorus", "chorus"))
        drums(p, "turnaround" if p == 9 else "chorus")
    hit(CH_FX, 6 * ROWS, HAT, "C3", 30)
    hit(CH_FX, 8 * ROWS, HAT, "C3", 24)
    melody(CH_LEAD, LEAD, 6 * ROWS, LEAD_CHORUS_1, 44)
    melody(CH_LEAD, LEAD, 8 * ROWS, LEAD_CHORUS_2, 44)
    melody(CH_BELL, PLUCK, 6 * ROWS, BELL_CHORUS_A, 24, pan=0x50)
    melody(CH_BELL, PLUCK, 8 * ROWS, BELL_CHORUS_B, 24, pan=0x50)
    # 10-11: breakdown: no kick pattern, the bell sings the verse tune; then a build.
    pads(10, 28)
    arp(10, 16)
    bass(10, ("long", "long"))
    drums(10, "breakdown")
    hit(CH_FX, 10 * ROWS, HAT, "C3", 22)
    melody(CH_BELL, PLUCK, 10 * ROWS, BELL_BREAKDOWN, 30, pan=0x90)
    pads(11, 26)
    arp(11, 16)
    bass(11, ("walk", "walk"))
    drums(11, "build")
    # Riser: the pad sound sliding up two octaves under the build.
    put(CH_FX, 11 * ROWS, note("A2"), PAD, vol(8), FX_PORTA_UP, 0x03)
    for r in range(1, ROWS):
        put(CH_FX, 11 * ROWS + r, 0, 0, vol(8 + r * 2 // 3) if r % 4 == 0 else 0,
            FX_PORTA_UP, 0x03)
    # 12-13: last chorus.
    for p in (12, 13):
        pads(p, 30)
        chip(p, 18)
        arp(p, 10, every=2)
        bass(p, ("chorus", "chorus"))
        drums(p, "chorus")
    hit(CH_FX, 12 * ROWS, HAT, "C3", 32)  # the crash cuts the riser
    melody(CH_LEAD, LEAD, 12 * ROWS, LEAD_CHORUS_1, 46)
    melody(CH_BELL, PLUCK, 12 * ROWS, BELL_CHORUS_A, 26, pan=0x50)
    # 14: outro: F then E, thinning out, so that the A minor of the intro resolves it.
    pads(14, 24)
    arp(14, 12, every=2, bars=(0,))
    arp(14, 10, bars=(1,))
    bass(14, ("walk", "long"))
    drums(14, "outro")
    melody(CH_LEAD, LEAD, 14 * ROWS, LEAD_OUTRO, 36)
    # Pads released at the very end so the intro's chord strikes afresh.
    pads_release(15 * ROWS - 1)
    echo(CH_LEAD, CH_ECHO, 3, 0.55, 0xB0)


# ---------------------------------------------------------------------------
# Synthesis

class Noise:
    """xorshift32 with a fixed seed: the same noise on every run."""

    def __init__(self, seed):
        self.state = seed

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x / 2147483648.0 - 1.0


def to_8bit(values, peak=100):
    top = max(abs(v) for v in values)
    scale = peak / top if top else 0
    return [max(-127, min(127, int(round(v * scale)))) for v in values]


def lowpass(h, cutoff, order=4):
    return 1.0 / (1.0 + (h / cutoff) ** order)


def harmonic_wave(n, cycle, amps):
    return sum(a * math.sin(2 * math.pi * h * n / cycle) for h, a in enumerate(amps, start=1))


def synth_bass():
    """Saw-like bass, 64 frames a cycle, bright at the start; loops over its last 4 cycles."""
    cycle, attack, length = 64, 768, 1024
    steady = [(1.0 / h) * lowpass(h, 5.0) * (1.0 if h % 2 else 0.8) for h in range(1, 32)]
    steady[0] += 0.35  # a round fundamental under the saw
    bright = [(1.0 / h) * lowpass(h, 16.0) for h in range(1, 32)]
    out = []
    for n in range(length):
        s = harmonic_wave(n, cycle, steady)
        if n < attack:
            w = (1.0 - n / attack) ** 2
            s += 0.8 * w * (harmonic_wave(n, cycle, bright) - harmonic_wave(n, cycle, steady))
        out.append(math.tanh(1.2 * s))
    return to_8bit(out, 104), attack, length - attack


def synth_lead():
    """Three slightly detuned pulse-like oscillators (about 13 cents apart) over a loop of
    4096 frames that holds exactly 127, 128 and 129 cycles; a brighter attack before it."""
    loop, start = 4096, 1024
    amps = [(1.0 / h) * (1.0 if h % 2 else 0.45) * lowpass(h, 7.0) for h in range(1, 16)]
    bright = [(1.0 / h) * (1.0 if h % 2 else 0.6) * lowpass(h, 14.0) for h in range(1, 16)]
    oscillators = ((128, 1.0, 0.0), (129, 0.6, 1.3), (127, 0.6, 2.9))

    def voice(n, table):
        s = 0.0
        for k, a, ph in oscillators:
            for h, amp in enumerate(table, start=1):
                s += a * amp * math.sin(2 * math.pi * h * k * n / loop + h * ph)
        return s

    out = []
    for n in range(start + loop):
        s = voice(n, amps)
        if n < start:
            w = (1.0 - n / start) ** 2
            s += 0.7 * w * (voice(n, bright) - s)
        out.append(s)
    return to_8bit(out, 96), start, loop


def synth_pad():
    """929 frames with a ping-pong loop from frame 18 (length 911). Built from cosines
    cos(pi*k*(n-18)/911), which mirror exactly about both loop ends, so the back-and-forth
    playback is one continuous wave. k = 57 is a C at C-4; k = 57h +/- 1 beat slowly."""
    start, loop, length = 18, 911, 929
    parts = []
    for h in range(1, 16):
        k = 57 * h
        if k >= 911:
            break
        a = (1.0 / h ** 1.3) * lowpass(h, 5.0)
        parts.append((k, a))
        if h <= 6:
            parts.append((k - 1, 0.45 * a))
            parts.append((k + 1, 0.45 * a))
    out = []
    for n in range(length):
        s = sum(a * math.cos(math.pi * k * (n - start) / loop) for k, a in parts)
        out.append(s)
    return to_8bit(out, 100), start, loop


DRUM_RATE = 22050.0


def synth_kick():
    length = int(0.30 * DRUM_RATE)
    noise = Noise(0x1F2E3D4C)
    out = []
    phase = 0.0
    for n in range(length):
        t = n / DRUM_RATE
        f = 46.0 + 120.0 * math.exp(-t / 0.028)
        phase += 2 * math.pi * f / DRUM_RATE
        env = math.exp(-t / 0.16) * min(1.0, (length - n) / 600.0)
        click = noise.next() * math.exp(-t / 0.0015) * 0.5
        out.append(math.tanh(1.6 * (math.sin(phase) * env + click)))
    return to_8bit(out, 110)


def synth_snare():
    length = int(0.22 * DRUM_RATE)
    noise = Noise(0x5A17C0DE)
    out = []
    prev = 0.0
    low = 0.0
    for n in range(length):
        t = n / DRUM_RATE
        white = noise.next()
        low += 0.35 * (white - low)  # soften the very top
        hp = low - prev  # and take away the rumble
        prev = low
        body = (math.sin(2 * math.pi * 185 * t) + 0.5 * math.sin(2 * math.pi * 330 * t)) \
            * math.exp(-t / 0.045)
        rattle = hp * 1.6 * math.exp(-t / 0.07)
        fade = min(1.0, (length - n) / 400.0)
        out.append((0.9 * body + rattle) * fade)
    return to_8bit(out, 100)


def synth_hat():
    """High noise: a sharp click (closed when released after a row) over a longer tail."""
    length = int(0.40 * DRUM_RATE)
    noise = Noise(0x0BADF00D)
    out = []
    x1 = x2 = 0.0
    for n in range(length):
        t = n / DRUM_RATE
        white = noise.next()
        hp = white - 2 * x1 + x2  # second difference: only the highs remain
        x2, x1 = x1, white
        env = 0.75 * math.exp(-t / 0.018) + 0.25 * math.exp(-t / 0.11)
        fade = min(1.0, (length - n) / 400.0)
        out.append(hp * env * fade)
    return to_8bit(out, 90)


def synth_pluck():
    """Soft bell-like wave, 32 frames a cycle, with a bright struck start; loops its last 8 cycles."""
    cycle, attack, loop = 32, 1024, 256
    steady = [1.0, 0.35, 0.18, 0.12, 0.05, 0.03]
    bright = [1.0, 0.5, 0.45, 0.4, 0.3, 0.25, 0.2, 0.15, 0.1, 0.08, 0.05]
    out = []
    for n in range(attack + loop):
        s = harmonic_wave(n, cycle, steady)
        if n < attack:
            w = (1.0 - n / attack) ** 3
            s += w * (harmonic_wave(n, cycle, bright) - s)
        out.append(s)
    return to_8bit(out, 100), attack, loop


# ---------------------------------------------------------------------------
# Instruments

DRUM_RELATIVE_NOTE, DRUM_FINETUNE = 16, 101  # C-4 plays the drum samples at ~22050 Hz


def instruments():
    bass_data, bass_ls, bass_ll = synth_bass()
    lead_data, lead_ls, lead_ll = synth_lead()
    pad_data, pad_ls, pad_ll = synth_pad()
    pluck_data, pluck_ls, pluck_ll = synth_pluck()
    return [
        dict(name="bass", data=bass_data, loop=(bass_ls, bass_ll, 1), volume=44, pan=128,
             relative=12, finetune=0, env=[(0, 64), (5, 48), (40, 38)], sustain=2,
             fadeout=3000),
        dict(name="lead", data=lead_data, loop=(lead_ls, lead_ll, 1), volume=36, pan=128,
             relative=0, finetune=0, env=[(0, 56), (3, 64), (12, 50), (80, 40)], sustain=3,
             fadeout=900),
        dict(name="pad", data=pad_data, loop=(pad_ls, pad_ll, 2), volume=20, pan=128,
             relative=0, finetune=0, env=[(0, 0), (14, 64), (40, 54)], sustain=2,
             fadeout=400),
        dict(name="kick", data=synth_kick(), loop=None, volume=44, pan=128,
             relative=DRUM_RELATIVE_NOTE, finetune=DRUM_FINETUNE),
        dict(name="snare", data=synth_snare(), loop=None, volume=36, pan=120,
             relative=DRUM_RELATIVE_NOTE, finetune=DRUM_FINETUNE),
        dict(name="hihat", data=synth_hat(), loop=None, volume=16, pan=100,
             relative=DRUM_RELATIVE_NOTE, finetune=DRUM_FINETUNE),
        dict(name="pluck", data=pluck_data, loop=(pluck_ls, pluck_ll, 1), volume=20, pan=150,
             relative=0, finetune=0, env=[(0, 64), (3, 46), (12, 24), (36, 8), (64, 0)],
             sustain=None, fadeout=2000),
    ]


# ---------------------------------------------------------------------------
# XM writing

def fixed(text, size):
    raw = text.encode("ascii")
    assert len(raw) <= size
    return raw + b"\0" * (size - len(raw))


def pack_pattern(rows):
    out = bytearray()
    for row in rows:
        for n, inst, v, fx, param in row:
            fields = (n, inst, v, fx, param)
            if all(fields):
                out += bytes(fields)
                continue
            mask = 0x80
            packed = bytearray()
            for bit, value in enumerate(fields):
                if value:
                    mask |= 1 << bit
                    packed.append(value)
            out.append(mask)
            out += packed
    return bytes(out)


def delta8(values):
    out = bytearray()
    prev = 0
    for v in values:
        out.append((v - prev) & 0xFF)
        prev = v
    return bytes(out)


def instrument_bytes(inst):
    env = inst.get("env", [])
    points = bytearray()
    for x, y in env:
        points += struct.pack("<HH", x, y)
    points += b"\0" * (48 - len(points))
    env_type = 0
    if env:
        env_type = 1 | (2 if inst.get("sustain") is not None else 0)
    head = bytearray()
    head += struct.pack("<I", 263)
    head += fixed(inst["name"], 22)
    head += bytes([0])
    head += struct.pack("<H", 1)
    head += struct.pack("<I", 40)
    head += bytes(96)  # every note plays the one sample
    head += points
    head += bytes(48)  # no panning envelope
    head += bytes([len(env), 0, inst.get("sustain") or 0, 0, 0, 0, 0, 0, env_type, 0,
                   0, 0, 0, 0])
    head += struct.pack("<H", inst.get("fadeout", 0))
    head += bytes(22)
    assert len(head) == 263

    data = inst["data"]
    if inst["loop"]:
        loop_start, loop_length, loop_type = inst["loop"]
        assert loop_start + loop_length == len(data)
    else:
        loop_start, loop_length, loop_type = 0, 0, 0
    sample = struct.pack("<IIIBbBBbB", len(data), loop_start, loop_length, inst["volume"],
                         inst["finetune"], loop_type, inst["pan"], inst["relative"], 0)
    sample += fixed(inst["name"], 22)
    assert len(sample) == 40
    return bytes(head) + sample + delta8(data)


def build():
    arrange()
    out = bytearray()
    out += b"Extended Module: "
    out += fixed("vinto", 20)
    out += b"\x1a"
    out += fixed("compose_song.py", 20)
    out += struct.pack("<H", 0x0104)
    orders = list(range(PATTERNS))
    out += struct.pack("<IHHHHHHHH", 276, len(orders), 0, CHANNELS, PATTERNS, 7,
                       1, SPEED, BPM)
    out += bytes(orders) + bytes(256 - len(orders))
    assert len(out) == 336
    for p in range(PATTERNS):
        packed = pack_pattern(song[p * ROWS:(p + 1) * ROWS])
        out += struct.pack("<IBHH", 9, 0, ROWS, len(packed))
        out += packed
    for inst in instruments():
        out += instrument_bytes(inst)
    check(bytes(out))
    return bytes(out)


def check(data):
    """Reads the file back the way a player does: the layout vinto relies on."""
    assert data[:17] == b"Extended Module: " and data[37] == 0x1A
    assert struct.unpack_from("<HI8H", data, 58) == (0x0104, 276, 15, 0, CHANNELS, PATTERNS, 7, 1, SPEED, BPM)
    assert sorted(data[80:95]) == list(range(PATTERNS))
    pos = 60 + 276
    for _ in range(PATTERNS):
        assert struct.unpack_from("<IBH", data, pos) == (9, 0, ROWS)
        pos += 9 + struct.unpack_from("<H", data, pos + 7)[0]
    for i in range(7):
        assert struct.unpack_from("<I22xBH", data, pos) == (263, 0, 1)
        length, loop_start, loop_length, _volume, _finetune, kind = struct.unpack_from("<IIIBbB", data, pos + 263)
        assert not kind & 0x10, "8-bit samples only"
        assert i != 2 or (length, loop_start, loop_length, kind & 3) == (929, 18, 911, 2), "the pad's ping-pong loop"
        pos += 263 + 40 + length
    assert pos == len(data), "the file ends with the last sample"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(here, "vinto.xm"))
    args = parser.parse_args()
    data = build()
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    with open(args.out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
