#!/usr/bin/python3
"""Checks the row uncertainties against generated scenes of known truth.

For each sensor set-up (gain in DN per electron, read noise in DN) it writes a night
of frames with independent noise and no dark picture (and one frame with a dark
picture), runs tavrolin-sigmas on each and prints:
  - the frame's gain estimate against the truth;
  - pulls (measured net - expected net) / sigma.net over the bright rows: their SD;
  - per row, the observed SD of net across the frames against the mean predicted
    sigma.net: the median ratio over bright rows and over faint rows.
Bright rows have an expected signal-to-noise ratio of at least 20, faint rows less;
in a set-up where all rows are bright the lower half by signal-to-noise is shown as
well. Needs Debian's python3-numpy.

Usage: scripts/check_uncertainty.py BUILD_DIR WORK_DIR [FRAMES]
"""
import os
import shutil
import subprocess
import sys

import numpy as np

SETUPS = [(1.0, 6.0), (3.0, 6.0), (1.0, 20.0), (3.0, 120.0)]

def run_frame(build, folder, seed, gain, read_noise, dark):
    options = ["--seed", str(seed), "--gain", str(gain), "--read-noise", str(read_noise)]
    if not dark:
        options.append("--no-dark")
    subprocess.run([os.path.join(build, "tools", "tavrolin-scene")] + options + [folder],
                   check=True, stdout=subprocess.DEVNULL)
    out = subprocess.run([os.path.abspath(os.path.join(build, "tools", "tavrolin-sigmas"))], cwd=folder,
                         check=True, capture_output=True, text=True).stdout
    lines = out.splitlines()
    header = dict(zip(lines[0].split()[1::2], lines[0].split()[2::2]))
    table = np.genfromtxt(lines[1:], names=True, dtype=None, encoding=None)
    truth = np.genfromtxt(os.path.join(folder, "scene_truth.txt"), names=True)
    for name in os.listdir(folder):
        if name.endswith(".pgm"):
            os.remove(os.path.join(folder, name))
    return float(header["gain"]), header.get("beam_found", lines[0].split()[-1]), table, truth

def main():
    build, work = sys.argv[1], sys.argv[2]
    frames = int(sys.argv[3]) if len(sys.argv) > 3 else 8
    os.makedirs(work, exist_ok=True)
    for gain, read_noise in SETUPS:
        print("== gain %g DN/e, read noise %g DN" % (gain, read_noise))
        nets, sigmas, gains, pulls = [], [], [], []
        for i in range(frames):
            folder = os.path.join(work, "g%g_r%g_%d" % (gain, read_noise, i))
            g, found, table, truth = run_frame(build, folder, 100 + i, gain, read_noise, False)
            snr = truth["netexpected"] / truth["netsigma"]
            gains.append(g)
            nets.append(table["net"])
            sigmas.append(table["sigmanet"])
            pull = (table["net"] - truth["netexpected"]) / table["sigmanet"]
            pulls.append(pull[snr >= 20])
            shutil.rmtree(folder)
        gains = np.array(gains)
        print("gain estimates: %s; worst %.1f %% from the truth" % (
            " ".join("%.3f" % g for g in gains), 100 * np.max(np.abs(gains / gain - 1))))
        print("pulls over bright rows, no dark: per frame SD %s; pooled SD %.3f over %d rows" % (
            " ".join("%.3f" % np.std(p) for p in pulls), np.std(np.concatenate(pulls)),
            sum(len(p) for p in pulls)))
        nets, sigmas = np.array(nets), np.array(sigmas)
        observed = np.std(nets, axis=0, ddof=1)
        predicted = np.sqrt(np.mean(sigmas ** 2, axis=0))
        ratio = observed / predicted
        groups = [("bright (S/N >= 20)", snr >= 20), ("faint (S/N < 20)", snr < 20)]
        if np.all(snr >= 20):
            groups.append(("lower half by S/N (%.0f to %.0f)" % (snr.min(), np.median(snr)),
                           snr < np.median(snr)))
        for label, rows in groups:
            if rows.sum() == 0:
                print("%s: no rows" % label)
                continue
            print("%s, %d rows, %d frames: median observed/predicted %.3f, RMS ratio %.3f" % (
                label, rows.sum(), frames, np.median(ratio[rows]),
                np.sqrt(np.mean(observed[rows] ** 2) / np.mean(predicted[rows] ** 2))))
        folder = os.path.join(work, "g%g_r%g_dark" % (gain, read_noise))
        g, found, table, truth = run_frame(build, folder, 7, gain, read_noise, True)
        snr = truth["netexpected"] / truth["netsigma"]
        pull = (table["net"] - truth["netexpected"]) / table["sigmanet"]
        print("with a dark picture: gain %.3f, pulls over %d bright rows SD %.3f, beam found %s" % (
            g, (snr >= 20).sum(), np.std(pull[snr >= 20]), found))
        shutil.rmtree(folder)
    # For the median of n chi values with n - 1 = 7 degrees of freedom the expected
    # median ratio of a perfect prediction is below 1:
    print("note: for %d frames a perfect prediction gives a median ratio of about %.3f" % (
        frames, np.sqrt(np.median(np.random.default_rng(1).chisquare(frames - 1, 200000)) /
                        (frames - 1))))

if __name__ == "__main__":
    main()
