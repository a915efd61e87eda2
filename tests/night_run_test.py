#!/usr/bin/env python3
"""Whole runs of tavrolin-night.

  night_run_test.py cli NIGHT
      the command line: help, version, usage mistakes (64), a wrong configuration (4)
      or path (5), and frames that can't be read (2); no full frames.
  night_run_test.py night NIGHT TAVROLIN SCENE_TOOL
      one small night of full frames (3 frames and a truncated one, 2 darks, and the
      darks once more as DNG files, which must give the same master dark): each
      frame's products and console against a tavrolin run in a folder for that frame,
      the master dark, night_profile.tsv against the frames' tables, --jobs 1 against
      --jobs 2 and 3, the truncated frame skipped with exit 7, and night.json's checksums
      against sha256sum's.
"""
import filecmp
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def run(command, cwd):
    return subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True, text=True)


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def cli(night):
    folder = tempfile.mkdtemp(prefix="tavrolin_night_cli_")
    try:
        write(os.path.join(folder, "tavrolinconfig.txt"), "a.pgm NODARK 500 10 30 1 0 10000 100 3231 2139 2052\n")
        write(os.path.join(folder, "tavrolinpath.txt"), "3074 346\n3409 4176\n")
        r = run([night, "--help"], folder)
        check(r.returncode == 0 and "--jobs" in r.stdout and "FRAME" in r.stdout, "--help")
        r = run([night, "--version"], folder)
        check(r.returncode == 0 and r.stdout.startswith("tavrolin-night "), "--version: " + r.stdout)
        usage_cases = [
            ([], "FRAME is required"),
            (["--jobs", "0", "a.pgm"], "--jobs"),
            (["--jobs", "two", "a.pgm"], "--jobs"),
            (["--unknown", "a.pgm"], "--unknown"),
            (["a.pgm", "other/a.pgm"], "two frames are named 'a'"),
            (["--dark", "NODARK", "--dark", "d.pgm", "a.pgm"], "NODARK"),
            (["--dark"], "--dark"),
        ]
        for arguments, said in usage_cases:
            r = run([night] + arguments, folder)
            check(r.returncode == 64, "exit 64 for %s, not %d" % (arguments, r.returncode))
            check(said in r.stderr and "Usage: tavrolin-night" in r.stderr,
                  "usage message for %s: %r" % (arguments, r.stderr))
            check(not os.path.exists(os.path.join(folder, "night.json")), "no night.json after %s" % arguments)

        # --dark takes one picture: the next word is a frame.
        r = run([night, "--out", "n1", "--dark", "d.pgm", "x.pgm"], folder)
        check(r.returncode == 2, "a missing dark ends the night with 2, not %d" % r.returncode)
        check("d.pgm" in r.stderr and "x" not in os.listdir(os.path.join(folder, "n1")),
              "a missing dark is named and no frame is started: %r" % r.stderr)

        write(os.path.join(folder, "bad.txt"), "a.pgm NODARK 500 10 one\n")
        r = run([night, "--config", "bad.txt", "a.pgm"], folder)
        check(r.returncode == 4 and "pathwidth" in r.stderr, "bad configuration: %d %r" % (r.returncode, r.stderr))
        r = run([night, "--config", "missing.txt", "a.pgm"], folder)
        check(r.returncode == 4 and "missing.txt" in r.stderr, "missing configuration: %d" % r.returncode)
        write(os.path.join(folder, "flat.txt"), "10 20 30 20\n")
        r = run([night, "--path", "flat.txt", "a.pgm"], folder)
        check(r.returncode == 5 and "at least two different rows" in r.stderr, "bad path: %d %r" % (r.returncode, r.stderr))

        # Without --dark the configuration's dark is the night's (named from the
        # configuration's folder), and the path file is the one beside --config.
        os.makedirs(os.path.join(folder, "site"))
        write(os.path.join(folder, "site", "tavrolinconfig.txt"), "a.pgm d.pgm 500 10 30 1 0 10000 100 3231 2139 2052\n")
        write(os.path.join(folder, "site", "tavrolinpath.txt"), "3074 346\n3409 4176\n")
        r = run([night, "--config", "site/tavrolinconfig.txt", "--out", "n0", "a.pgm"], folder)
        check(r.returncode == 2 and "site/d.pgm" in r.stderr, "the configuration's dark: %d %r" % (r.returncode, r.stderr))
        r = run([night, "--config", "site/tavrolinconfig.txt", "--dark", "NODARK", "--out", "n0", "a.pgm"], folder)
        record = json.load(open(os.path.join(folder, "n0", "night.json")))
        check(r.returncode == 2 and record["dark"] == "NODARK" and record["dark_source"] == "none",
              "--dark NODARK: %d %r" % (r.returncode, record["dark"]))
        write(os.path.join(folder, "site", "tavrolinpath.txt"), "10 20\n")
        r = run([night, "--config", "site/tavrolinconfig.txt", "--dark", "NODARK", "a.pgm"], folder)
        check(r.returncode == 5 and "site/tavrolinpath.txt" in r.stderr, "path beside --config: %r" % r.stderr)
        write(os.path.join(folder, "times.txt"), "text.pgm 2026-03-14T21:00:00Z\nmissing.pgm 21:00\n")
        r = run([night, "--times", "times.txt", "--out", "n9", "text.pgm"], folder)
        check(r.returncode == 64 and "times.txt:2:" in r.stderr and not os.path.exists(os.path.join(folder, "n9")),
              "a times file with a bad line: %d %r" % (r.returncode, r.stderr))

        # Frames that can't be read: each named, the night goes on, exit 2 as none measured.
        write(os.path.join(folder, "text.pgm"), "P2\n2 2\n65535\n1 2 3 4\n")
        # A named pipe as a frame is refused, not waited on.
        os.mkfifo(os.path.join(folder, "pipe.pgm"))
        try:
            r = subprocess.run([night, "--out", "n8", "pipe.pgm"], cwd=folder, stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, timeout=60)
            check(r.returncode == 2 and "pipe: failed (code 2)" in r.stdout, "a named pipe as a frame: %r" % r.stdout)
        except subprocess.TimeoutExpired:
            check(False, "a named pipe as a frame: the night waits on it")
        # A frame without a time (missing) comes after those with one.
        r = run([night, "--out", "n2", "--jobs", "2", "missing.pgm", "text.pgm"], folder)
        check(r.returncode == 2, "no frame measured: exit 2, not %d" % r.returncode)
        lines = r.stdout.splitlines()
        check(len(lines) == 2 and lines[1].startswith("missing: failed (code 2)") and
              lines[0].startswith("text: failed (code 2)") and "not a valid 16-bit PGM" in lines[0],
              "one line per failed frame in time order: %r" % lines)
        check(r.stderr == "", "nothing on standard error when it is not a terminal: %r" % r.stderr)
        # On a terminal the progress line goes to standard error, and only there.
        import pty
        leader, follower = pty.openpty()
        p = subprocess.run([night, "--out", "n3", "--jobs", "1", "missing.pgm", "text.pgm"], cwd=folder,
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=follower, text=True)
        os.close(follower)
        progress = b""
        try:
            while True:
                chunk = os.read(leader, 4096)
                if not chunk:
                    break
                progress += chunk
        except OSError:
            pass
        os.close(leader)
        check(p.returncode == 2 and b"2 of 2 frames done" in progress and b"0 of 2 frames done" in progress,
              "progress line on a terminal: %r" % progress)
        check(p.stdout == r.stdout, "the same per-frame lines with a terminal on standard error")

        record = json.load(open(os.path.join(folder, "n2", "night.json")))
        check([f["status"] for f in record["frames"]] == ["failed", "failed"], "night.json statuses")
        check(record["frames"][0]["time_source"] == "file_modified" and record["frames"][1]["time"] is None,
              "a PGM's time from its file, none for a missing frame: %r" % record["frames"])
        check(record["summary"]["exit_code"] == 2 and record["settings"]["pathwidth"] == 15,
              "night.json summary and the halved band width")
        console = open(os.path.join(folder, "n2", "text", "console.txt")).read()
        check("Input file text.pgm is not a valid 16-bit PGM file, ending...\n" in console,
              "failed frame's console: %r" % console[-200:])

        # An earlier night in --out is refused; --overwrite removes exactly the files
        # and the emptied folders its night.json lists.
        n2 = os.path.join(folder, "n2")
        write(os.path.join(n2, "notes.txt"), "mine\n")
        write(os.path.join(n2, "missing", "mine.txt"), "mine\n")
        r = run([night, "--out", "n2", "text.pgm"], folder)
        check(r.returncode == 64 and "--overwrite" in r.stderr, "an earlier night refused: %d %r" % (r.returncode, r.stderr))
        check(os.path.exists(os.path.join(n2, "text", "console.txt")), "a refused night leaves the earlier one")
        write(os.path.join(folder, "text2.pgm"), "P2\n")
        r = run([night, "--out", "n2", "--overwrite", "text2.pgm"], folder)
        left = sorted(os.path.relpath(os.path.join(d, f), n2) for d, _, fs in os.walk(n2) for f in fs)
        check(r.returncode == 2 and left == ["missing/mine.txt", "night.json", "night.nc", "night_map.png", "night_profile.png",
                                         "night_profile.tsv", "night_scattering.png", "notes.txt", "text2/console.txt"],
              "--overwrite removes the earlier night's products only: %r" % left)
        record = json.load(open(os.path.join(n2, "night.json")))
        check(record["products"] == ["text2/console.txt", "night_profile.tsv", "night_map.png",
                                     "night_profile.png", "night_scattering.png", "night.nc", "night.json"]
              and record["folders"] == ["text2"],
              "night.json lists its products: %r" % record["products"])
        # An input of the new night among the earlier night's products is not removed.
        r = run([night, "--out", "n2", "--overwrite", "n2/text2/console.txt"], folder)
        check(r.returncode == 64 and "n2/text2/console.txt" in r.stderr and
              os.path.exists(os.path.join(n2, "text2", "console.txt")) and os.path.exists(os.path.join(n2, "night.json")),
              "an input among the products to remove refuses the night: %d %r" % (r.returncode, r.stderr))
        # A listed path that leaves the folder is not followed.
        record["products"].append("../times.txt")
        write(os.path.join(n2, "night.json"), json.dumps(record))
        r = run([night, "--out", "n2", "--overwrite", "text2.pgm"], folder)
        check(r.returncode == 64 and os.path.exists(os.path.join(folder, "times.txt")) and
              os.path.exists(os.path.join(n2, "text2", "console.txt")),
              "a product outside the folder refuses the night: %d %r" % (r.returncode, r.stderr))
    finally:
        shutil.rmtree(folder)


def sha256sum(path):
    return subprocess.run(["sha256sum", path], capture_output=True, text=True, check=True).stdout.split()[0]


def table(path):
    with open(path) as f:
        return [line.rstrip("\n").split("\t") for line in f if not line.startswith("#")][1:]


def pgm_samples(path):
    import numpy
    data = open(path, "rb").read()
    header = data.split(b"\n", 3)
    width, height = map(int, header[1].split())
    return numpy.frombuffer(header[3], dtype=">u2").reshape(height, width), header[:3]


def night(night_exe, tavrolin, scene_tool):
    import numpy
    folder = tempfile.mkdtemp(prefix="tavrolin_night_")
    try:
        subprocess.run([scene_tool, "--seed", "11", "--frames", "3", "--darks", "2", "--dng", folder],
                       check=True, capture_output=True)
        full = open(os.path.join(folder, "scene_laser_2.pgm"), "rb").read()
        open(os.path.join(folder, "cut.pgm"), "wb").write(full[: len(full) // 3])
        frames = ["scene_laser.pgm", "scene_laser_2.pgm", "cut.pgm", "scene_laser_3.pgm"]
        darks = ["--dark", "scene_dark.pgm", "--dark", "scene_dark_2.pgm"]

        # The frames' times from a file (PGM frames), in the order given here.
        write(os.path.join(folder, "times.txt"),
              "".join("%s 2026-03-14T2%d:00:00Z\n" % (f, k) for k, f in enumerate(frames)))
        runs = {}
        # (--jobs 3 draws each picture in a gnuplot of its own, 2 and 1 share them.)
        for jobs in ("1", "2", "3"):
            r = run([night_exe, "--out", "night", "--jobs", jobs, "--pictures", "--times", "times.txt"] + darks + frames,
                    folder)
            runs[jobs] = r
            os.rename(os.path.join(folder, "night"), os.path.join(folder, "night-" + jobs))
        r = runs["2"]
        check(r.returncode == 7, "a truncated frame among measured ones: exit 7, not %d" % r.returncode)
        lines = r.stdout.splitlines()
        check(len(lines) == 4 and lines[2].startswith("cut: failed (code 2): Picture 'cut.pgm' ends before") and
              all(lines[i].startswith(n + ": measured") for i, n in ((0, "scene_laser"), (1, "scene_laser_2"), (3, "scene_laser_3"))),
              "per-frame lines: %r" % lines)
        check(runs["1"].stdout == r.stdout, "the same lines for --jobs 1 and 2")
        out = os.path.join(folder, "night-2")

        # --jobs 1, 2 and 3 give the same files; night.json differs only in "run".
        def same_tree(c, jobs, where=""):
            check(not c.left_only and not c.right_only, "same files in %s: %s %s" % (where, c.left_only, c.right_only))
            for name in c.common_files:
                if name in ("night.json", "night.nc"):   # the run's command line and time
                    continue
                check(filecmp.cmp(os.path.join(c.left, name), os.path.join(c.right, name), shallow=False),
                      "%s/%s identical for --jobs 1 and %s" % (where, name, jobs))
            for name, sub in c.subdirs.items():
                same_tree(sub, jobs, where + "/" + name)
        for jobs in ("2", "3"):
            same_tree(filecmp.dircmp(os.path.join(folder, "night-1"), os.path.join(folder, "night-" + jobs)), jobs)
        records = [json.load(open(os.path.join(folder, "night-" + j, "night.json"))) for j in ("1", "2", "3")]
        check([r["run"]["jobs"] for r in records] == [1, 2, 3], "jobs recorded")
        for record in records:
            del record["run"]
        check(records[0] == records[1] == records[2], "night.json the same but for its run block")
        record = records[1]

        # The master dark: the per-pixel median of two darks is the upper of the two.
        master, header = pgm_samples(os.path.join(out, "master_dark.pgm"))
        d1, _ = pgm_samples(os.path.join(folder, "scene_dark.pgm"))
        d2, _ = pgm_samples(os.path.join(folder, "scene_dark_2.pgm"))
        check(header == [b"P5", b"6384 4224", b"65535"], "master dark header %r" % header)
        check(numpy.array_equal(master, numpy.maximum(d1, d2)), "master dark is the upper middle of 2 darks")

        # The same darks as raw files (DNG) give the same master dark. DNG frames,
        # given out of order, are dated by their EXIF capture times (the generator's
        # 2026-03-14T21:00:00 and 3 minutes per frame), less the clock offset.
        r = run([night_exe, "--out", "night-dng", "--clock-offset", "-1.5", "--dark", "scene_dark.dng",
                 "--dark", "scene_dark_2.dng", "scene_laser_3.dng", "scene_laser.dng", "scene_laser_2.dng"], folder)
        check(r.returncode == 0, "a night of DNG frames and two DNG darks: exit %d, %r" % (r.returncode, r.stderr))
        check(filecmp.cmp(os.path.join(folder, "night-dng", "master_dark.pgm"), os.path.join(out, "master_dark.pgm"),
                          shallow=False), "two DNG darks give the master dark of their PGMs")
        dng_record = json.load(open(os.path.join(folder, "night-dng", "night.json")))
        dng_frames = dng_record["frames"]
        check([f["name"] for f in dng_frames] == ["scene_laser", "scene_laser_2", "scene_laser_3"] and
              [f["time"] for f in dng_frames] == ["2026-03-14T20:59:58.500Z", "2026-03-14T21:02:58.500Z",
                                                  "2026-03-14T21:05:58.500Z"] and
              all(f["time_source"] == "camera" for f in dng_frames), "DNG frames in EXIF time order: %r" % dng_frames)
        check([f["camera"]["capture_time"] for f in dng_frames] == ["2026-03-14T21:00:00Z", "2026-03-14T21:03:00Z",
                                                                    "2026-03-14T21:06:00Z"] and
              dng_frames[0]["camera"]["exposure_s"] == 30 and dng_frames[0]["camera"]["iso"] == 1600 and
              dng_frames[0]["camera"]["aperture_f"] == 2.8 and dng_frames[0]["camera"]["body_serial"] == "TVR0001",
              "the camera's metadata: %r" % dng_frames[0].get("camera"))
        # By default each frame gets its quicklook and no corrected picture.
        check(sorted(os.listdir(os.path.join(folder, "night-dng", "scene_laser"))) ==
              ["console.txt", "profile.tsv", "quicklook.png", "tavrolin_data.txt"], "a frame's products by default")
        netcdf_checks([os.path.join(folder, "night-dng"), out])

        # A frame that measured nothing (a dark given as a frame) fails with no_beam and
        # stays out of the night.
        r = run([night_exe, "--out", "night-nobeam", "--no-pictures", "--dark", "scene_dark.pgm",
                 "scene_laser.pgm", "scene_dark_2.pgm"], folder)
        check(r.returncode == 7 and "scene_dark_2: failed (code 2): no_beam" in r.stdout,
              "a dark given as a frame: exit %d, %r" % (r.returncode, r.stdout))
        nobeam = table(os.path.join(folder, "night-nobeam", "night_profile.tsv"))
        check(all(row[7] == "1" for row in nobeam), "the failed frame is in no row of the night profile")

        # Each measured frame against tavrolin in a folder with that frame and the
        # master dark under the names the night gave them.
        tables = []
        for frame in ("scene_laser", "scene_laser_2", "scene_laser_3"):
            single = os.path.join(folder, "single-" + frame)
            os.makedirs(os.path.join(single, "night"))
            os.symlink(os.path.join(folder, frame + ".pgm"), os.path.join(single, frame + ".pgm"))
            os.symlink(os.path.join(out, "master_dark.pgm"), os.path.join(single, "night", "master_dark.pgm"))
            numbers = open(os.path.join(folder, "tavrolinconfig.txt")).read().split()[2:]
            write(os.path.join(single, "tavrolinconfig.txt"), " ".join([frame + ".pgm", "night/master_dark.pgm"] + numbers) + "\n")
            shutil.copy(os.path.join(folder, "tavrolinpath.txt"), single)
            t = run([tavrolin], single)
            check(t.returncode == 0, "tavrolin on " + frame)
            mine = os.path.join(out, frame)
            check(open(os.path.join(mine, "console.txt")).read() == t.stdout, frame + ": console.txt is tavrolin's console")
            for product in ("tavrolin_data.txt", "linearlyscaledG.PGM"):
                check(filecmp.cmp(os.path.join(mine, product), os.path.join(single, product), shallow=False),
                      frame + ": " + product + " is tavrolin's")
            tables.append(table(os.path.join(single, "tavrolin_data.txt")))
            shutil.rmtree(single)
        check(sorted(os.listdir(os.path.join(out, "cut"))) == ["console.txt"], "the truncated frame leaves only its console")

        # night_profile.tsv from the frames' tables.
        profile = open(os.path.join(out, "night_profile.tsv")).read().splitlines()
        check(profile[0].startswith("# normalised once: coefficient "), "the normalisation line: %r" % profile[0])
        profile = profile[1:]
        check(profile[0] == "x(pixel)\ty(pixel)\tr(pixel)\tz.angle(deg)\ts.height(m)\ts.distance(m)\t"
                            "s.angle(deg)\tframes\tmean(arb.u.)\tsem(arb.u.)\tsem.predicted(arb.u.)\tchi2/dof\t"
                            "median(arb.u.)\tdz(deg)\tbeta.rel(arb.u.)\tsigma.beta.rel(arb.u.)\t"
                            "beta.mol.rel(arb.u.)\tratio\tsigma.ratio\tbeta.fit(arb.u.)\t"
                            "used\texcluded\tnet(DN)\tsigma.net(DN)\tsigma.net.common(DN)\t"
                            "chi2.net/dof\tsignal(arb.u.)\tsigma.signal(arb.u.)\tsigma.signal.common(arb.u.)\t"
                            "sigma.signal.total(arb.u.)\tnear.clip", "profile header")
        # The frames' own sigmas of the signal, from their profile.tsv.
        sigmas = [table(os.path.join(out, frame, "profile.tsv"))
                  for frame in ("scene_laser", "scene_laser_2", "scene_laser_3")]
        rows = [line.split("\t") for line in profile[1:]]
        check(len(rows) == len(tables[0]) > 1000, "one profile line per processed row")
        worst = worst_predicted = worst_chi2 = 0.0
        for k, row in enumerate(rows):
            if row[:7] != tables[0][k][:7]:
                check(False, "row %d: geometry columns as the table's: %r" % (k, row[:7]))
            signals = [float(t[k][7]) for t in tables]
            mean = sum(signals) / 3
            sem = math.sqrt(sum((s - mean) ** 2 for s in signals) / 2) / math.sqrt(3)
            median_text = sorted(((float(t[k][7]), t[k][7]) for t in tables))[1][1]
            if row[7] != "3" or row[12] != median_text:
                check(False, "row %d: frames and median: %r against %r" % (k, row[7:], median_text))
            # The tables print 6 digits: allow for their rounding.
            scale = max(abs(s) for s in signals)
            worst = max(worst, abs(float(row[8]) - mean) / scale, abs(float(row[9]) - sem) / scale)
            sigma = [float(f[k][12]) for f in sigmas]
            predicted = math.sqrt(sum(x * x for x in sigma)) / 3
            chi2 = sum(((s - mean) / x) ** 2 for s, x in zip(signals, sigma)) / 2
            worst_predicted = max(worst_predicted, abs(float(row[10]) / predicted - 1))
            worst_chi2 = max(worst_chi2, abs(float(row[11]) - chi2) / max(chi2, 1.0))
        check(worst < 2e-5, "mean and sem as the tables give them (worst relative difference %g)" % worst)
        check(worst_predicted < 1e-4 and worst_chi2 < 1e-3,
              "predicted sem and chi2 as the frames' sigmas give them (worst %g, %g)" % (worst_predicted, worst_chi2))

        # night.json: statuses, checksums as sha256sum gives them, frame values.
        check([f["status"] for f in record["frames"]] == ["measured", "measured", "failed", "measured"], "statuses")
        cut = record["frames"][2]
        check(cut["code"] == 2 and "cut.pgm" in cut["message"], "the truncated frame's code and reason")
        files = [record["inputs"]["configuration"], record["inputs"]["path"]] + record["inputs"]["darks"] + record["inputs"]["frames"]
        check(len(files) == 8, "every input file recorded")
        for entry in files:
            path = os.path.join(folder, entry["file"])
            check(entry["sha256"] == sha256sum(path), "sha256 of " + entry["file"])
            check(entry["size"] == os.path.getsize(path), "size of " + entry["file"])
        check(record["master_dark"]["sha256"] == sha256sum(os.path.join(out, "master_dark.pgm")), "sha256 of the master dark")
        check(record["summary"] == {"frames": 4, "measured": 3, "failed": 1, "exit_code": 7}, "summary")
        check([f["time"] for f in record["frames"]] == ["2026-03-14T2%d:00:00Z" % k for k in range(4)] and
              all(f["time_source"] == "times_file" for f in record["frames"]), "times from the times file")
        for f in record["frames"]:
            if f["status"] != "measured":
                continue
            console = open(os.path.join(out, f["name"], "console.txt")).read()
            check("Scaling coefficient (scattering angle = 90 deg) = %s    at x = %d   y = %d" %
                  (format_g(f["coefficient"]), f["x90"], f["row90"]) in console, f["name"] + ": coefficient and 90-degree row")
            check("Highest level found: %s\n" % format_g(f["levels"]["highest"]) in console and
                  "Average zero level R/G/B: %s / " % format_g(f["levels"]["zero_level_R"]) in console,
                  f["name"] + ": levels")
        for png in ("night_map.png", "night_profile.png", "night_scattering.png"):
            check(open(os.path.join(out, png), "rb").read(8) == b"\x89PNG\r\n\x1a\n", png + " is a PNG")
        # The quicklook: 800 columns of the reduced frame, 16 white, the crop of
        # 2 (w 2 s + 36) columns drawn twice as wide; as high as the reduced frame.
        head = open(os.path.join(out, "scene_laser", "quicklook.png"), "rb").read(24)
        check(head[:8] == b"\x89PNG\r\n\x1a\n" and
              (int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")) == (800 + 16 + 2 * 132, 529),
              "quicklook.png size: %r" % (head[16:24],))
        check("scene_laser/quicklook.png" in record["products"] and "night.nc" in record["products"],
              "night.json lists the quicklooks and night.nc")
        # plot_profile.gp draws a night's profile and refuses a table of another kind.
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "plot_profile.gp")
        g = run(["gnuplot", "-e", "data='night-2/night_profile.tsv'; output='plot.png'", script], folder)
        check(g.returncode == 0 and os.path.getsize(os.path.join(folder, "plot.png")) > 1000,
              "plot_profile.gp on a night profile: %d %r" % (g.returncode, g.stderr))
        g = run(["gnuplot", "-e", "data='scene_truth.txt'; output='truth.png'", script], folder)
        check(g.returncode == 1 and "scene_truth.txt is neither a tavrolin data table" in g.stderr,
              "plot_profile.gp refuses another table by name: %d %r" % (g.returncode, g.stderr))
    finally:
        shutil.rmtree(folder)


def netcdf_checks(nights):
    """night.nc of each night in `nights` (folders) through xarray, and the two together."""
    import numpy
    import xarray
    first = nights[0]
    ds = xarray.open_dataset(os.path.join(first, "night.nc"))
    record = json.load(open(os.path.join(first, "night.json")))
    measured = [f for f in record["frames"] if f["status"] == "measured"]
    times = [numpy.datetime64(f["time"].rstrip("Z")) for f in measured]
    check(ds["time"].dtype.kind == "M" and list(ds["time"].values) == times,
          "night.nc times decoded as night.json's: %r against %r" % (ds["time"].values, times))
    check(list(ds["frame_name"].values) == [f["name"] for f in measured], "night.nc frame names in time order")
    check(ds.attrs["Conventions"] == "CF-1.8" and ds.attrs["source"].startswith("tavrolin-night ") and
          "tavrolin-night" in ds.attrs["history"] and record["inputs"]["frames"][0]["sha256"] in ds.attrs["inputs"],
          "night.nc global attributes: %r" % {k: ds.attrs[k] for k in ("Conventions", "source", "history")})
    for name, standard in (("height", "height"), ("scattering_angle", "scattering_angle"),
                           ("zenith_angle", "zenith_angle")):
        check(ds[name].attrs.get("standard_name") == standard and "units" in ds[name].attrs,
              "%s: standard name and units %r" % (name, ds[name].attrs))
    check(ds["height"].attrs["units"] == "m" and ds["height"].attrs["positive"] == "up", "height in m, positive up")
    for name, variable in ds.variables.items():
        if variable.dtype.kind in "fiu" and name != "time":
            check("units" in variable.attrs, "units on " + name)
    check(set(ds["normalised_signal"].dims) == {"time", "row"} and "height" in ds["normalised_signal"].coords,
          "normalised_signal by time and row, height a coordinate")
    # The cells against each frame's profile.tsv, the profile against night_profile.tsv.
    flag_bits = {"sat": 1, "weak": 2, "edge": 4}
    worst = 0.0
    for t, frame in enumerate(measured):
        rows = table(os.path.join(first, frame["name"], "profile.tsv"))
        ys = [int(r[1]) for r in rows]
        check(list(ds["row"].values) == ys, frame["name"] + ": the rows of night.nc")
        for column, name in ((7, "normalised_signal"), (10, "net_signal"), (11, "net_signal_sigma"),
                             (12, "normalised_signal_sigma"), (14, "background")):
            ours = ds[name].values[t]
            theirs = numpy.array([float(r[column]) for r in rows])
            worst = max(worst, float(numpy.max(numpy.abs(ours - theirs) / numpy.maximum(numpy.abs(theirs), 1e-3))))
        flags = [sum(flag_bits[f] for f in r[16].split(",") if f != "-") for r in rows]
        check(list(ds["flags"].values[t]) == flags, frame["name"] + ": flags as profile.tsv's")
    check(worst < 1e-5, "night.nc's cells as the frames' profile.tsv (worst relative difference %g)" % worst)
    profile = table(os.path.join(first, "night_profile.tsv"))
    mean = numpy.array([float(r[8]) for r in profile])
    check(numpy.allclose(ds["profile_mean"].values, mean, rtol=1e-5), "profile_mean as night_profile.tsv's")
    for column, name in ((13, "footprint_dz"), (14, "beta_rel"), (16, "beta_mol_rel"), (17, "beta_ratio")):
        tsv = numpy.array([float(r[column]) for r in profile])
        check(numpy.allclose(ds[name].values, tsv, rtol=1e-5, equal_nan=True), name + " as night_profile.tsv's")
    check(list(ds["flags"].attrs["flag_masks"]) == [1, 2, 4] and
          ds["flags"].attrs["flag_meanings"] == "saturated weak outside_image_circle", "flags' CF attributes")
    ds.close()
    both = xarray.open_mfdataset([os.path.join(n, "night.nc") for n in nights], combine="nested", concat_dim="time")
    sizes = [xarray.open_dataset(os.path.join(n, "night.nc")).sizes["time"] for n in nights]
    check(both.sizes["time"] == sum(sizes) and both["time"].dtype.kind == "M",
          "two nights concatenate along time: %r from %r" % (both.sizes, sizes))
    both.close()
    header = subprocess.run(["ncdump", "-h", os.path.join(first, "night.nc")], capture_output=True, text=True)
    check(header.returncode == 0 and 'height:standard_name = "height"' in header.stdout and
          'time:units = "seconds since 1970-01-01 00:00:00 UTC"' in header.stdout, "ncdump -h shows the coordinates")


def format_g(value):
    """A number as the console prints a float: six significant digits."""
    return "%g" % value


if __name__ == "__main__":
    if sys.argv[1] == "cli":
        cli(sys.argv[2])
    else:
        night(sys.argv[2], sys.argv[3], sys.argv[4])
    print("%d failure(s)" % len(failures))
    sys.exit(1 if failures else 0)
