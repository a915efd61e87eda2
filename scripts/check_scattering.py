#!/usr/bin/python3
"""Checks the scattering function of tavrolin-night against physical scenes.

Writes scenes with the generator's physical beam (tavrolin-scene --physical), runs
tavrolin-night on them and prints:
  1. a noiseless scene (no read noise, a negligible gain, a bright beam so that the
     samples' rounding stays small): the largest |beta.rel / truth - 1| over the
     unflagged rows;
  2. noiseless pure molecular scenes for an unpolarised laser and for psi = 0 and 90:
     the largest |ratio - 1|; and each polarised scene analysed with the other
     setting: the largest deviation of the ratio from the shape P_true / P_assumed
     (normalised at 90 degrees) and the ratio's range;
  3. nights of FRAMES frames (default 8) with the generator's default noise and an
     aerosol of g = 0.5 and 0.7, q = 0.5, 1, 2, 5: the night's fitted g, sigma_g, its
     pull (g - g_true) / sigma_g, q and chi2/dof.

Usage: scripts/check_scattering.py BUILD_DIR WORK_DIR [FRAMES]
"""
import json
import math
import os
import shutil
import subprocess
import sys


def table(path):
    lines = open(path).read().splitlines()
    header = lines[0].split("\t")
    return [dict(zip(header, line.split("\t"))) for line in lines[1:]]


def scene(build, folder, options):
    shutil.rmtree(folder, ignore_errors=True)
    subprocess.run([os.path.join(build, "tools", "tavrolin-scene"), "--physical"] + options + [folder],
                   check=True, stdout=subprocess.DEVNULL)


def night(build, folder, out, frames, options=()):
    pictures = ["scene_laser.pgm"] + ["scene_laser_%d.pgm" % k for k in range(2, frames + 1)]
    subprocess.run([os.path.join(build, "tavrolin-night"), "--no-pictures", "--jobs", "2", "--out", out,
                    "--dark", "scene_dark.pgm"] + list(options) + pictures,
                   cwd=folder, check=True, stdout=subprocess.DEVNULL)
    return os.path.join(folder, out)


def unflagged(rows):
    return [row for row in rows if row["flags"] == "-"]


def molecular_phase(theta, psi, gamma):
    """The polarised phase function at psi, less its constant factor."""
    c2 = math.cos(math.radians(theta)) ** 2
    s2 = math.sin(math.radians(psi)) ** 2
    return (1 - s2) * (2 * gamma + (1 - gamma) * c2) + s2 * (1 + gamma)


def main():
    build, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    frames = int(sys.argv[3]) if len(sys.argv) > 3 else 8
    os.makedirs(work, exist_ok=True)
    noiseless = ["--read-noise", "0", "--gain", "1e-9", "--beam-scale", "20000"]

    folder = os.path.join(work, "noiseless")
    scene(build, folder, noiseless + ["--aerosol-q", "1", "--aerosol-g", "0.6"])
    out = night(build, folder, "night", 1)
    truth = {row["y(pixel)"]: float(row["beta.rel(truth)"]) for row in table(os.path.join(folder, "scene_beta_truth.txt"))}
    rows = unflagged(table(os.path.join(out, "scene_laser", "profile.tsv")))
    worst = max(abs(float(r["beta.rel(arb.u.)"]) / truth[r["y(pixel)"]] - 1) for r in rows)
    print("noiseless scene (g 0.6, q 1): %d unflagged rows, largest |beta.rel/truth - 1| = %.5f" % (len(rows), worst))

    gamma = None
    for psi in (None, "0", "90"):
        folder = os.path.join(work, "molecular_" + (psi or "unpolarised"))
        scene(build, folder, noiseless + ["--aerosol-q", "0"] + (["--polarisation", psi] if psi else []))
        out = night(build, folder, "night", 1, ["--polarisation", psi] if psi else [])
        gamma = json.load(open(os.path.join(out, "night.json")))["scattering"]["gamma"]
        rows = unflagged(table(os.path.join(out, "scene_laser", "profile.tsv")))
        worst = max(abs(float(r["ratio"]) - 1) for r in rows)
        print("pure molecular, laser %s: %d unflagged rows, largest |ratio - 1| = %.5f"
              % (psi or "unpolarised", len(rows), worst))
        if psi:
            other = "90" if psi == "0" else "0"
            out = night(build, folder, "wrong", 1, ["--polarisation", other])
            rows = unflagged(table(os.path.join(out, "scene_laser", "profile.tsv")))
            def shape(theta):
                return (molecular_phase(theta, float(psi), gamma) / molecular_phase(theta, float(other), gamma)
                        / (molecular_phase(90, float(psi), gamma) / molecular_phase(90, float(other), gamma)))
            ratios = [float(r["ratio"]) for r in rows]
            worst = max(abs(float(r["ratio"]) / shape(float(r["s.angle(deg)"])) - 1) for r in rows)
            print("  analysed as psi = %s: ratio from %.3f to %.3f; largest |ratio / (P_%s/P_%s) - 1| = %.5f"
                  % (other, min(ratios), max(ratios), psi, other, worst))

    for g in (0.5, 0.7):
        for q in (0.5, 1, 2, 5):
            folder = os.path.join(work, "aerosol")
            scene(build, folder, ["--frames", str(frames), "--seed", str(int(10 * g + 100 * q)),
                                  "--aerosol-g", str(g), "--aerosol-q", str(q)])
            out = night(build, folder, "night", frames)
            fit = json.load(open(os.path.join(out, "night.json")))["scattering"]["fit"]
            print("g %.1f q %.1f, %d frames: g = %.4f +- %.4f (pull %+.2f), q = %.3f +- %.3f, chi2/dof %.2f, %d rows"
                  % (g, q, frames, fit["g"], fit["sigma_g"], (fit["g"] - g) / fit["sigma_g"], fit["q"],
                     fit["sigma_q"], fit["chi2_dof"], fit["rows"]))


if __name__ == "__main__":
    main()
