#!/usr/bin/env python3
"""Where vinto's rendering time goes, song by song: samples the CPU with
`perf record` while vinto-render renders each song a few times, and sorts the
samples by function into the parts of the work.

    bench/breakdown.py [--mode exact|complete] [--seconds S] [--runs N] VINTO_RENDER CORPUS_DIR

Prints a Markdown table: per song the share of the samples in each part, in
per cent of the engine's rendering, and the mean over the songs. Loading,
the tool's own work (start, writing) and the kernel are sampled too and left
out; "other" is the rest of the engine. Needs `perf` (Debian linux-perf) and
a build with symbols (any optimised build has them).
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

# Parts, in the order the table shows them, with the functions that make
# them up (regular expressions on perf's symbol names).
PARTS = [
    ("mixing", r"MixFixed"),
    ("ramps", r"MixRamp|RampSumsExact"),
    ("run set-up", r"MixVoices|MixAllCleared|JumpVoice|ReflectPosition|AdvanceVoice|__(u?mod|u?div)ti3"),
    ("replay ticks", r"ModuleTick|ProcessRow|ProcessTick|ApplyChannelToVoice|StepEnvelope|SelectSound|"
                     r"LinearFrequency|CurrentPattern|CurrentRowCells|Complete|StepInstrument|CarryToVoice|"
                     r"StartTone|TriggerInstrument|SetVolume|ClampVolume|KeyOff|NoteGridPeriod|pow|Volume|"
                     r"Panning|Retrigger|Portamento|TransposeNote|NotePeriod"),
    ("conversion", r"Convert"),
    ("block", r"Render(Slices|BlockTo|SongBlock|NextBlock)|memset|RenderReady|SetHeard|SetSyncIndex"),
]
LOAD = r"::(Read|Parse|Load|File|Skip|Seek)"


def sample(render, song, mode, seconds, runs, data):
    script = "for i in $(seq %d); do %s --mode %s --seconds %s %s /dev/null || exit 1; done" % (
        runs, render, mode, seconds, song)
    subprocess.run(["perf", "record", "-q", "-F", "20000", "-o", data, "--", "sh", "-c", script],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    report = subprocess.run(["perf", "report", "-i", data, "--no-children", "--sort", "symbol", "--stdio"],
                            check=True, capture_output=True, text=True).stdout
    shares = {name: 0.0 for name, _ in PARTS}
    shares["other"] = 0.0
    for line in report.splitlines():
        match = re.match(r"\s*([0-9.]+)%\s+\[(.)\]\s+(.*)", line)
        if not match:
            continue
        percent, space, symbol = float(match.group(1)), match.group(2), match.group(3)
        if space == "k" or re.search(LOAD, symbol):
            continue
        for name, pattern in PARTS:
            if re.search(pattern, symbol):
                shares[name] += percent
                break
        else:
            if "vinto::" in symbol:  # the engine's, not sorted above
                shares["other"] += percent
    total = sum(shares.values())
    return {name: 100 * value / total for name, value in shares.items()} if total else shares


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mode", default="exact", choices=["exact", "complete"])
    parser.add_argument("--seconds", default="60")
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("render")
    parser.add_argument("corpus")
    args = parser.parse_args()
    songs = sorted(f for f in os.listdir(args.corpus) if f.lower().endswith(".xm"))
    names = [name for name, _ in PARTS] + ["other"]
    print("| song | " + " | ".join(names) + " |")
    print("|---|" + "---:|" * len(names))
    sums = {name: 0.0 for name in names}
    with tempfile.TemporaryDirectory() as scratch:
        for song in songs:
            shares = sample(args.render, os.path.join(args.corpus, song), args.mode, args.seconds, args.runs,
                            os.path.join(scratch, "perf.data"))
            for name in names:
                sums[name] += shares[name]
            print("| %s | %s |" % (song[:-3], " | ".join("%.1f" % shares[name] for name in names)))
            sys.stdout.flush()
    print("| mean over the songs | %s |" % " | ".join("%.1f" % (sums[name] / len(songs)) for name in names))


if __name__ == "__main__":
    main()
