#!/usr/bin/python3
"""Checks the night's noise model against generated nights of known truth.

For each case of a grid (gain, read noise, sky, beam width, wander, green mismatch,
hot pixels, darks) it writes a night of frames of one scene with independent noise,
runs tavrolin-night on it and prints:
  - gain: the frames' median estimate and the night's pooled one against the truth;
  - read: the read noise from `a` against the truth (the pictures' read noise with
    the integer rounding of the samples, 1/12 DN^2 each; a master of D darks has the
    variance of the median of D);
  - obs/pred: the observed spread of single rows' net signals across the frames
    against the sigmas the frames predict for their own noise (the square root of
    summed variances), bright rows (expected S/N >= 20) and faint rows apart. With a
    shared dark its noise is common to the frames and not in their spread: the
    prediction is sigma.net without its common part;
  - pull SD: the night's normalised profile against the truth, over the rows used by
    every frame, with each row's own and common errors, about the truth times the
    night's normalisation shift (fitted per night; that shift is then given in units
    of the normalisation's sigma from night.json).
A saturated night follows: how many rows came near the clip in some frame (left out of
every frame), how many rows some frames left out and others used (5-sigma outliers only),
the worst chi^2 per degree of freedom of its rows, and which lie above 3 against the
count that honest errors give; then the same night without a white level, to tell the
rows above 3 that saturation makes from those that noise makes.

Usage: scripts/check_uncertainty.py BUILD_DIR WORK_DIR [FRAMES] [--quick] [--saturated-only]
                                    [--saturated-nights=N]
Needs Debian's python3-numpy.
"""
import json
import math
import os
import shutil
import subprocess
import sys

import numpy as np

# Variance factor of the median of D unit normal values (exact order statistics).
MEDIAN_FACTOR = {1: 1.0, 3: 0.4487}

# gain, read noise, sky, beam sigma, wander, green mismatch, hot pixels, darks
GRID = [
    (0.5, 2, 150, 2.5, 0, 0.02, 0, 0),
    (0.5, 5, 600, 4.0, 2, 0.0, 500, 1),
    (0.5, 20, 1500, 7.0, 0, 0.02, 0, 3),
    (0.5, 120, 400, 3.5, 2, 0.0, 500, 1),
    (2.2, 2, 1500, 3.5, 0, 0.0, 500, 1),
    (2.2, 5, 250, 7.0, 2, 0.02, 0, 0),
    (2.2, 20, 150, 5.0, 0, 0.0, 500, 3),
    (2.2, 120, 1000, 2.5, 2, 0.02, 0, 0),
    (8.0, 2, 400, 5.0, 2, 0.02, 500, 3),
    (8.0, 5, 150, 3.5, 0, 0.0, 0, 1),
    (8.0, 20, 600, 2.5, 2, 0.0, 500, 0),
    (8.0, 120, 1500, 7.0, 0, 0.02, 0, 1),
]
# The pull checks: the default beam, a shared dark and none.
PULLS = [(2.2, 6, 250, 3.5, 0, 0.0, 0, 1), (2.2, 6, 250, 3.5, 0, 0.0, 0, 0)]


def table(path):
    lines = [l for l in open(path).read().splitlines() if not l.startswith("#")]
    names = lines[0].split("\t")
    rows = [l.split("\t") for l in lines[1:]]
    return {name: [r[i] for r in rows] for i, name in enumerate(names)}


def numbers(column):
    return np.array([float(v) for v in column])


def run_night(build, folder, seed, case, frames, extra=()):
    gain, read, sky, sigma, wander, mismatch, hot, darks = case
    if os.path.exists(folder):
        shutil.rmtree(folder)
    options = ["--seed", str(seed), "--gain", str(gain), "--read-noise", str(read), "--sky", str(sky),
               "--beam-sigma", str(sigma), "--wander", str(wander), "--green-mismatch", str(mismatch),
               "--hot-pixels", str(hot), "--frames", str(frames), "--darks", str(darks)] + list(extra)
    subprocess.run([os.path.join(build, "tools", "tavrolin-scene")] + options + [folder], check=True,
                   stdout=subprocess.DEVNULL)
    pictures = sorted(f for f in os.listdir(folder) if f.startswith("scene_laser"))
    dark = sorted(f for f in os.listdir(folder) if f.startswith("scene_dark"))
    command = [os.path.abspath(os.path.join(build, "tavrolin-night")), "--out", "night", "--jobs", "2",
               "--no-pictures"] + ["--dark=" + d for d in dark] + (["--dark", "NODARK"] if not dark else []) + pictures
    result = subprocess.run(command, cwd=folder, capture_output=True, text=True)
    record = json.load(open(os.path.join(folder, "night", "night.json")))
    truth = table(os.path.join(folder, "scene_truth.txt"))
    return result.returncode, record, truth, pictures


def frame_tables(folder, pictures):
    return [table(os.path.join(folder, "night", p[:-4], "profile.tsv")) for p in pictures]


def beam_scale_for_faint_rows(build, work, case):
    """A beam scale that puts the rows' median expected S/N at 20, so that bright and
    faint rows both occur. The S/N grows with the scale's power p, between 1/2 (the
    beam's own shot noise) and 1 (read and sky noise): p is taken from the last two
    probes, each probe aiming at 20 from the one before."""
    gain, read, sky, sigma, wander, mismatch, hot, darks = case
    folder = os.path.join(work, "probe")
    probes = []   # (scale, median S/N)
    scale = 540000.0
    for _ in range(4):
        subprocess.run([os.path.join(build, "tools", "tavrolin-scene"), "--gain", str(gain), "--read-noise",
                        str(read), "--sky", str(sky), "--beam-sigma", str(sigma), "--darks", str(min(darks, 1)),
                        "--beam-integral", "%.6g" % scale, folder], check=True, stdout=subprocess.DEVNULL)
        truth = table(os.path.join(folder, "scene_truth.txt"))
        shutil.rmtree(folder)
        snr = numbers(truth["net(expected)"]) / numbers(truth["net.sigma"])
        probes.append((scale, float(np.median(snr))))
        if abs(probes[-1][1] / 20.0 - 1.0) < 0.05:
            break
        p = 1.0
        if len(probes) >= 2:
            (s1, m1), (s2, m2) = probes[-2], probes[-1]
            p = min(max(math.log(m2 / m1) / math.log(s2 / s1), 0.5), 1.0)
        scale *= min(max((20.0 / probes[-1][1]) ** (1.0 / p), 1e-4), 1e4)
    return scale


def check_case(build, work, seed, case, frames):
    gain, read, sky, sigma, wander, mismatch, hot, darks = case
    folder = os.path.join(work, "case")
    scale = beam_scale_for_faint_rows(build, work, case)
    code, record, truth, pictures = run_night(build, folder, seed, case, frames, ["--beam-integral", "%.6g" % scale])
    measured = [f for f in record["frames"] if f["status"] == "measured"]
    gains = np.array([f["gain"] for f in measured])
    pooled = record["combination"]["gain"]["pooled_value"]
    a = np.median([f["cell_read_variance"] for f in measured])
    dark_variance = 0.0 if darks == 0 else MEDIAN_FACTOR[darks] * read ** 2 + 1.0 / 12
    read_true = math.sqrt(read ** 2 + 1.0 / 12 + dark_variance)
    read_found = math.sqrt(2 * a)
    tables = frame_tables(folder, pictures)
    net = np.array([numbers(t["net(DN)"]) for t in tables])
    total = np.array([numbers(t["sigma.net(DN)"]) for t in tables])
    common = np.array([numbers(t["sigma.net.common(DN)"]) for t in tables])
    flagged = np.array([[f != "-" and f != "weak" for f in t["flags"]] for t in tables]).any(axis=0)
    own = np.sqrt(np.maximum(total ** 2 - (common ** 2 if darks else 0), 0))
    snr = numbers(truth["net(expected)"]) / numbers(truth["net.sigma"])
    observed = np.var(net, axis=0, ddof=1)
    predicted = np.mean(own ** 2, axis=0)
    ratios = []
    for rows in (snr >= 20, snr < 20):
        rows = rows & ~flagged
        ratios.append(math.sqrt(observed[rows].sum() / predicted[rows].sum()) if rows.sum() > 0 else float("nan"))
    print("g %-4g rn %-4g sky %-5g beam %-4g wander %g mismatch %-4g hot %-4d darks %d | exit %d | "
          "gain %+6.2f %% (pooled %+6.2f %%) | read %+6.2f %% | obs/pred bright %.3f faint %.3f" % (
              gain, read, sky, sigma, wander, mismatch, hot, darks, code,
              100 * (np.median(gains) / gain - 1), 100 * ((pooled or float("nan")) / gain - 1),
              100 * (read_found / read_true - 1), ratios[0], ratios[1]), flush=True)
    return folder


def check_pulls(build, work, seed, case, frames, nights):
    """Rows' pulls after each night's normalisation shift, and that shift's pull.

    The night's profile is the truth times (1 + e), e the normalisation's error (one
    draw per night, common to every row), plus each row's own and common errors. Per
    night e is fitted (weighted least squares of signal / truth - 1), the rows' pulls
    are taken about t (1 + e) with sqrt(own^2 + common^2), and e is compared with the
    relative sigma night.json gives for the normalisation."""
    pulls, shifts = [], []
    for n in range(nights):
        folder = os.path.join(work, "pulls")
        code, record, truth, pictures = run_night(build, folder, seed + 1000 * n, case, frames)
        night = table(os.path.join(folder, "night", "night_profile.tsv"))
        rows = numbers(night["used"]) == frames
        signal = numbers(night["signal(arb.u.)"])[rows]
        t = numbers(truth["signal(truth)"])[rows]
        error = np.hypot(numbers(night["sigma.signal(arb.u.)"]), numbers(night["sigma.signal.common(arb.u.)"]))[rows]
        w = (t / error) ** 2
        e = np.sum(w * (signal / t - 1)) / np.sum(w)
        pulls.append((signal - t * (1 + e)) / error)
        shifts.append(e / record["combination"]["normalisation"]["relative_sigma"])
    pulls = np.concatenate(pulls)
    print("pull SD of the night mean, %d nights of %d frames, darks %d: %.3f over %d rows; "
          "the normalisation's shift in its own sigmas: %s" % (
              nights, frames, case[7], np.std(pulls), len(pulls), " ".join("%+.2f" % x for x in shifts)), flush=True)


def check_saturated(build, work, frames, seed=7):
    """A night whose brightest rows saturate (white level 15000 DN): the rows left out
    near the clip, the rows that some frames left out and others used, the worst chi^2
    per degree of freedom after exclusion, and the rows above 3 against the count
    honest errors give (chi^2 of n - 1 degrees of freedom, drawn). Then the same night
    (the same noise) without a white level: rows above 3 in both are no saturation's.
    Gives the counts above 3 (chi2/dof) with and without the white level, and the
    count honest errors give."""
    case = (2.2, 6, 250, 3.5, 0, 0.0, 0, 1)
    folder = os.path.join(work, "saturated")
    above = []
    counts = []
    expectations = []   # rows above 3 that honest errors give, each night
    for white in ("15000", "65534"):
        code, record, truth, pictures = run_night(build, folder, seed, case, frames, ["--white-level", white])
        night = table(os.path.join(folder, "night", "night_profile.tsv"))
        excluded, used, near = numbers(night["excluded"]), numbers(night["used"]), numbers(night["near.clip"])
        rng = np.random.default_rng(1)
        expected = sum(np.mean(rng.chisquare(u - 1, 20000) / (u - 1) > 3) for u in used if u > 1)
        expectations.append(expected)
        line = "night of %d frames, white level %s: exit %d, %d rows near the clip, %d partly used" % (
            frames, white, code, int((near > 0).sum()), int(((used > 0) & (excluded > 0)).sum()))
        rows = set()
        for column in ("chi2/dof", "chi2.net/dof"):
            chi2 = numbers(night[column])
            rows |= set(numbers(night["y(pixel)"])[chi2 > 3].astype(int))
            line += "; %s worst %.2f, %d rows above 3" % (column, np.nanmax(chi2), int(np.sum(chi2 > 3)))
            if column == "chi2/dof":
                counts.append(int(np.sum(chi2 > 3)))
        above.append(rows)
        print(line + " (honest errors give %.1f on average): rows %s" % (
            expected, " ".join(str(y) for y in sorted(rows)) or "none"), flush=True)
    print("rows above 3 with the white level and not without it: %s" % (
        " ".join(str(y) for y in sorted(above[0] - above[1])) or "none"), flush=True)
    return counts[0], counts[1], expectations[0]


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    quick = "--quick" in sys.argv
    build, work = args[0], args[1]
    frames = int(args[2]) if len(args) > 2 else 12
    os.makedirs(work, exist_ok=True)
    if "--saturated-only" not in sys.argv:
        for i, case in enumerate(GRID[:3] if quick else GRID):
            check_case(build, work, 100 + i, case, frames)
        for case in PULLS:
            check_pulls(build, work, 500, case, 12, 1 if quick else 3)
    # --saturated-nights=N: the saturated night with N noises (seeds), and the rows
    # above 3 summed over them against what honest errors give.
    nights = [int(a.split("=")[1]) for a in sys.argv[1:] if a.startswith("--saturated-nights=")]
    totals = np.zeros(3)
    for n in range(nights[0] if nights else 1):
        totals += check_saturated(build, work, 12, seed=7 + n)
    if nights:
        print("over %d saturated nights: %d rows above 3 (chi2/dof) with the white level, %d without, "
              "%.1f from honest errors" % (nights[0], totals[0], totals[1], totals[2]), flush=True)
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
