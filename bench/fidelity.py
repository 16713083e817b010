#!/usr/bin/python3
"""How close vinto's two replay modes and libxmp sound to libopenmpt, song by song.

usage: bench/fidelity.py [--seconds S] [--render PATH] [--jobs N] CORPUS_DIR

Renders the first S seconds (30) of every .xm file in CORPUS_DIR with
fidelity-render (built in the bench directory of a build with libxmp-dev and
libopenmpt-dev; --render names it) as vinto in exact and in complete mode, as
libxmp and as libopenmpt, all with linear interpolation and full stereo
separation at 44100 Hz, and compares each of the first three with libopenmpt.
Prints a table (spectral distance D, 0 = the same sound, and envelope
correlation E per render) and a summary line: the songs where complete mode
meets D <= libxmp's D + 0.02 and E >= libxmp's E - 0.05.

The measure: mono mix, 2048-frame Hann windows every 1024 frames, log-compressed
magnitude spectra (log1p(|X| / 1e-3 of full scale)); D is the mean over
windows where either render is above -60 dBFS RMS of 1 - cosine similarity.
E is the correlation of 10 ms RMS envelopes at the best lag within +-50 ms.
Needs Debian's python3-numpy.
"""
import argparse
import os
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

import numpy as np

ENGINES = ["vinto-exact", "vinto-complete", "libxmp", "libopenmpt"]
D_SLACK, E_SLACK = 0.02, 0.05


def load(path):
    raw = open(path, "rb").read()
    x = np.frombuffer(raw[: len(raw) // 4 * 4], dtype="<i2").astype(np.float64) / 32768.0
    return x.reshape(-1, 2).mean(axis=1)


def spectra(x, n):
    w, h = 2048, 1024
    k = max(0, (n - w) // h + 1)
    idx = np.arange(w)[None, :] + h * np.arange(k)[:, None]
    frames = x[idx] * np.hanning(w)
    rms = np.sqrt((x[idx] ** 2).mean(axis=1))
    return np.log1p(np.abs(np.fft.rfft(frames, axis=1)) / 1e-3), rms


def distance(a, b):
    n = min(len(a), len(b))
    sa, ra = spectra(a, n)
    sb, rb = spectra(b, n)
    keep = (ra > 1e-3) | (rb > 1e-3)
    if not keep.any():
        return 0.0, 1.0
    sa, sb = sa[keep], sb[keep]
    cos = (sa * sb).sum(1) / (np.linalg.norm(sa, axis=1) * np.linalg.norm(sb, axis=1) + 1e-12)
    w = 441
    m = n // w
    ea = np.sqrt((a[: m * w].reshape(m, w) ** 2).mean(1))
    eb = np.sqrt((b[: m * w].reshape(m, w) ** 2).mean(1))
    best = -1.0
    for lag in range(-5, 6):
        x = ea[max(0, lag): m + min(0, lag)]
        y = eb[max(0, -lag): m - max(0, lag)]
        if x.std() > 0 and y.std() > 0:
            best = max(best, float(np.corrcoef(x, y)[0, 1]))
    return float(1 - cos.mean()), best


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--render", default=os.path.join(here, "..", "build", "bench", "fidelity-render"))
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("corpus")
    args = parser.parse_args()
    songs = sorted(f for f in os.listdir(args.corpus) if f.lower().endswith(".xm"))
    if not songs:
        sys.exit(f"fidelity.py: no .xm files in {args.corpus}")

    with tempfile.TemporaryDirectory() as tmp:
        def render(job):
            song, engine = job
            out = os.path.join(tmp, f"{song}.{engine}.raw")
            done = subprocess.run([args.render, engine, str(args.seconds), os.path.join(args.corpus, song), out])
            return job, done.returncode == 0

        with ThreadPoolExecutor(args.jobs) as pool:
            rendered = dict(pool.map(render, [(s, e) for s in songs for e in ENGINES]))

        print(f"{'song':46s} {'exact D':>8s} {'E':>6s} {'complete D':>10s} {'E':>6s} {'libxmp D':>9s} {'E':>6s}  ok")
        met, rows = 0, 0
        sums = np.zeros(6)
        for song in songs:
            if not rendered[(song, "libopenmpt")]:
                print(f"{song:46s} (libopenmpt cannot render it)")
                continue
            ref = load(os.path.join(tmp, f"{song}.libopenmpt.raw"))
            values = []
            for engine in ENGINES[:3]:
                if rendered[(song, engine)]:
                    values += distance(load(os.path.join(tmp, f"{song}.{engine}.raw")), ref)
                else:
                    values += [float("nan"), float("nan")]
            ok = values[2] <= values[4] + D_SLACK and values[3] >= values[5] - E_SLACK
            met += ok
            rows += 1
            sums += np.array(values)
            print(f"{song:46s} {values[0]:8.4f} {values[1]:6.3f} {values[2]:10.4f} {values[3]:6.3f} "
                  f"{values[4]:9.4f} {values[5]:6.3f}  {'yes' if ok else 'NO'}")
        mean = sums / max(rows, 1)
        print(f"{'mean':46s} {mean[0]:8.4f} {mean[1]:6.3f} {mean[2]:10.4f} {mean[3]:6.3f} {mean[4]:9.4f} {mean[5]:6.3f}")
        print(f"summary: complete mode within libxmp's distance + {D_SLACK} and envelope correlation - {E_SLACK} "
              f"on {met} of {rows} songs")


if __name__ == "__main__":
    main()
