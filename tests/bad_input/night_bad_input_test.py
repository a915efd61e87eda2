#!/usr/bin/env python3
"""tavrolin-night against careless and hostile input, each case named after what it
broke: crafted files where they suffice (header-only sparse pictures, missing
frames), a few full frames of the scene generator where a frame must be measured.

  night_bad_input_test.py NIGHT SCENE_TOOL HOLD_LIBRARY FAIL_FORK_LIBRARY NO_SPACE_LIBRARY
                          FAIL_NEW_LIBRARY SANITIZED

Every case checks the exit code and what is left in the folder: no temporary
(`*.XXXXXX`, `*.tmp`), no work folder (`.tavrolin-night.*`), inputs byte for byte.
"""
import hashlib
import json
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

NIGHT, SCENE_TOOL, HOLD, FAIL_FORK, NO_SPACE, FAIL_NEW = sys.argv[1:7]
SANITIZED = sys.argv[7] == "1"   # its own operator new can't be replaced
failures = []
current = ["?"]


def check(condition, what):
    if not condition:
        failures.append("%s: %s" % (current[0], what))
        print("FAILED: %s: %s" % (current[0], what))


def preloading(library, **variables):
    """The environment that preloads a test instrument (the sanitizer build's runtime
    is told not to mind that it comes first)."""
    asan = os.environ.get("ASAN_OPTIONS", "")
    return dict(os.environ, LD_PRELOAD=library, ASAN_OPTIONS=asan + ":verify_asan_link_order=0", **variables)


def run(arguments, cwd, env=None, preexec=None, timeout=300):
    return subprocess.run([NIGHT] + arguments, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True,
                          env=env, preexec_fn=preexec, timeout=timeout)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def sparse_pgm(path, width=6384, height=4224, tail=0):
    """A PGM header whose samples are a hole of zeros (no disk space, no writing)."""
    header = b"P5\n%d %d\n65535\n" % (width, height)
    write(path, header)
    os.truncate(path, len(header) + 2 * width * height + tail)


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def litter(folder):
    """Temporaries and work folders left anywhere below `folder`."""
    found = []
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            tail = name.rsplit(".", 1)[-1]
            if name.startswith(".tavrolin-night.") or name.endswith(".tmp") or name.endswith(".dat") or \
                    name.endswith(".gp") or (len(tail) == 6 and "." in name):
                found.append(os.path.join(root, name))
    return found


def night_record(folder):
    with open(os.path.join(folder, "night.json"), "rb") as f:
        return json.loads(f.read().decode("utf-8"))


def case(function):
    current[0] = function.__name__
    folder = tempfile.mkdtemp(prefix="tavrolin_night_bad_")
    try:
        function(folder)
    except Exception as e:   # a crash of the test is a failure of the case
        check(False, "raised %r" % e)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def settings(folder):
    """The scene's configuration with no dark picture, and its path."""
    tokens = open(os.path.join(SCENE, "tavrolinconfig.txt")).read().split()
    write(os.path.join(folder, "tavrolinconfig.txt"), " ".join(tokens[:1] + ["NODARK"] + tokens[2:]) + "\n")
    shutil.copy(os.path.join(SCENE, "tavrolinpath.txt"), folder)


def frame(folder, name, source="scene_laser.pgm"):
    os.symlink(os.path.join(SCENE, source), os.path.join(folder, name))


# Options and messages -------------------------------------------------------------

def gain_and_saturation_nan_were_accepted_and_ignored(folder):
    settings(folder)
    for option, value in (("--gain", "nan"), ("--saturation", "nan"), ("--gain", "inf"), ("--saturation", "-1")):
        r = run([option, value, "a.pgm"], folder)
        check(r.returncode == 64 and option.encode() in r.stderr, "%s %s: exit %d %r" % (option, value, r.returncode, r.stderr))


def config_nope_was_called_tavrolinconfig(folder):
    r = run(["--config", "nope.txt", "a.pgm"], folder)
    check(r.returncode == 4 and b"'nope.txt'" in r.stderr and b"tavrolinconfig.txt" not in r.stderr,
          "exit %d %r" % (r.returncode, r.stderr))


def frame_beginning_with_a_dash_said_frame_is_required(folder):
    settings(folder)
    r = run(["-x.pgm"], folder)
    check(r.returncode == 64 and b"unknown option '-x.pgm'" in r.stderr and b"--" in r.stderr and
          b"FRAME is required" not in r.stderr, "exit %d %r" % (r.returncode, r.stderr))
    r = run(["--out", "o", "--", "-x.pgm"], folder)
    check(r.returncode == 2 and r.stdout.startswith(b"-x: failed (code 2): Can't open picture file '-x.pgm'"),
          "after --: exit %d %r" % (r.returncode, r.stdout))


def jobs_ignored_the_affinity_mask(folder):
    settings(folder)
    one = next(iter(os.sched_getaffinity(0)))
    r = run(["--out", "o", "missing.pgm"], folder, preexec=lambda: os.sched_setaffinity(0, {one}))
    check(r.returncode == 2 and night_record(os.path.join(folder, "o"))["run"]["jobs"] == 1,
          "one usable core: --jobs 1 (exit %d)" % r.returncode)


# Names: night.json valid, the console one line per frame, escaped ---------------------

def non_utf8_and_control_bytes_in_names_crashed_the_night(folder):
    settings(folder)
    names = [b"caf\xe9.pgm", b"red\x1b[31m.pgm", b"two\nlines.pgm", b"back\\slash\xff.pgm", "ünï.pgm".encode()]
    r = subprocess.run([NIGHT.encode(), b"--out", b"o\xfe"] + names, cwd=folder, stdin=subprocess.DEVNULL,
                       capture_output=True)
    check(r.returncode == 2, "exit %d %r" % (r.returncode, r.stderr))
    lines = r.stdout.split(b"\n")[:-1]
    check(len(lines) == len(names) and b"\x1b" not in r.stdout, "one line per frame, escaped: %r" % r.stdout)
    check(lines[1].startswith(b"red\\x1B[31m: failed") and lines[2].startswith(b"two\\x0Alines: failed"),
          "control bytes as \\xNN: %r" % lines)
    record = night_record(os.path.join(folder, b"o\xfe".decode("utf-8", "surrogateescape")))
    files = [f["file"] for f in record["frames"]]
    check(files == ["caf\\xe9.pgm", "red\x1b[31m.pgm", "two\nlines.pgm", "back\\\\slash\\xff.pgm", "ünï.pgm"],
          "names as given when UTF-8, escaped otherwise: %r" % files)
    check(record["run"]["command_line"][2] == "o\\xfe" and record["summary"]["exit_code"] == 2,
          "command line and exit code: %r" % record["run"])
    check(not litter(folder), "litter: %r" % litter(folder))


# Inputs are never written ------------------------------------------------------------

def out_in_the_input_folder_overwrote_a_frame_named_master_dark(folder):
    settings(folder)
    sparse_pgm(os.path.join(folder, "d1.pgm"))
    sparse_pgm(os.path.join(folder, "d2.pgm"))
    write(os.path.join(folder, "master_dark.pgm"), b"P5\n6384 4224\n65535\n" + b"\x08\x00" * 1000)
    before = digest(os.path.join(folder, "master_dark.pgm"))
    r = run(["--out", ".", "--dark", "d1.pgm", "--dark", "d2.pgm", "master_dark.pgm"], folder)
    check(r.returncode == 6 and b"one of the input files" in r.stderr, "exit %d %r" % (r.returncode, r.stderr))
    check(digest(os.path.join(folder, "master_dark.pgm")) == before, "the frame is as it was")
    # A product name that is a link to an input, or a hard link of it: refused too.
    os.makedirs(os.path.join(folder, "o", "missing"))
    os.symlink("../tavrolinconfig.txt", os.path.join(folder, "o", "night_profile.tsv"))
    os.link(os.path.join(folder, "tavrolinpath.txt"), os.path.join(folder, "o", "missing", "console.txt"))
    config, path = digest(os.path.join(folder, "tavrolinconfig.txt")), digest(os.path.join(folder, "tavrolinpath.txt"))
    r = run(["--out", "o", "missing.pgm"], folder)
    check(digest(os.path.join(folder, "tavrolinconfig.txt")) == config and
          digest(os.path.join(folder, "tavrolinpath.txt")) == path, "configuration and path as they were")
    check(r.returncode == 2 and b"'o/night_profile.tsv': it is one of the input files" in r.stderr,
          "the profile refused: exit %d %r" % (r.returncode, r.stderr))
    check(os.stat(os.path.join(folder, "o", "missing", "console.txt")).st_ino ==
          os.stat(os.path.join(folder, "tavrolinpath.txt")).st_ino, "the frame's console left as the path's link")
    # An earlier night whose record lists an input among its products: not removed.
    os.makedirs(os.path.join(folder, "p"))
    write(os.path.join(folder, "p", "night.json"), json.dumps({"products": ["f.pgm", "night.json"], "folders": []}))
    write(os.path.join(folder, "p", "f.pgm"), "P5\n")
    r = run(["--out", "p", "--overwrite", "p/f.pgm"], folder)
    check(r.returncode == 64 and os.path.exists(os.path.join(folder, "p", "f.pgm")),
          "--overwrite keeps an input: exit %d %r" % (r.returncode, r.stderr))
    check(not litter(folder), "litter: %r" % litter(folder))


def a_link_at_the_png_temporary_had_its_target_overwritten(folder):
    settings(folder)
    os.makedirs(os.path.join(folder, "o"))
    write(os.path.join(folder, "precious"), "keep me")
    for png in ("night_map.png", "night_profile.png"):
        os.symlink("../precious", os.path.join(folder, "o", png + ".tmp"))
    r = run(["--out", "o", "missing.pgm"], folder)
    check(open(os.path.join(folder, "precious"), "rb").read() == b"keep me", "the link's target is as it was")
    if shutil.which("gnuplot"):
        check(open(os.path.join(folder, "o", "night_map.png"), "rb").read(4) == b"\x89PNG",
              "the map drawn (exit %d %r)" % (r.returncode, r.stderr))


# Bounded before expensive ------------------------------------------------------------

def huge_sparse_darks_made_a_huge_master_dark(folder):
    settings(folder)
    sparse_pgm(os.path.join(folder, "f.pgm"))
    for dark in ("d1.pgm", "d2.pgm"):
        sparse_pgm(os.path.join(folder, dark), 46340, 46340)
    r = run(["--out", "o", "--dark", "d1.pgm", "--dark", "d2.pgm", "f.pgm"], folder, timeout=60)
    check(r.returncode == 2 and b"d1.pgm" in r.stderr and b"too large" in r.stderr, "exit %d %r" % (r.returncode, r.stderr))
    # Darks of another size than the first frame: refused before they are combined.
    for dark in ("d1.pgm", "d2.pgm"):
        sparse_pgm(os.path.join(folder, dark), 6000, 4000)
    r = run(["--out", "o", "--dark", "d1.pgm", "--dark", "d2.pgm", "f.pgm"], folder, timeout=60)
    check(r.returncode == 2 and b"first frame 'f.pgm' is 6384 x 4224" in r.stderr, "exit %d %r" % (r.returncode, r.stderr))
    check(not os.path.exists(os.path.join(folder, "o", "master_dark.pgm")), "no master dark")
    check(not litter(folder), "litter: %r" % litter(folder))


def a_frame_with_a_long_sparse_tail_was_hashed_whole(folder):
    settings(folder)
    shutil.copy(os.path.join(SCENE, "scene_laser.pgm"), os.path.join(folder, "tail.pgm"))
    picture = os.path.getsize(os.path.join(folder, "tail.pgm"))
    expected = digest(os.path.join(folder, "tail.pgm"))
    os.truncate(os.path.join(folder, "tail.pgm"), 64 << 30)   # 64 GiB, a hole
    r = run(["--out", "o", "--no-pictures", "tail.pgm"], folder, timeout=120)
    check(r.returncode == 0, "the frame measured as tavrolin measures it: exit %d %r" % (r.returncode, r.stdout))
    facts = night_record(os.path.join(folder, "o"))["inputs"]["frames"][0]
    check(facts["sha256"] == expected and facts["sha256_bytes"] == picture and facts["size"] == 64 << 30,
          "the checksum of the picture's own bytes: %r" % facts)


def a_path_of_a_hundred_million_points_took_a_gigabyte(folder):
    settings(folder)
    write(os.path.join(folder, "long.txt"), "3100 1000\n3300 3000\n" * (1 << 19) + "1 2\n")
    r = run(["--out", "o", "--path", "long.txt", "a.pgm"], folder, timeout=60)
    check(r.returncode == 5 and b"more than 1048576 points" in r.stderr, "exit %d %r" % (r.returncode, r.stderr))


# Every product that can't be written ends with 6, with the system's reason --------------

def a_full_disk_under_the_master_dark_said_no_frame_can_be_measured(folder):
    settings(folder)
    sparse_pgm(os.path.join(folder, "f.pgm"))
    sparse_pgm(os.path.join(folder, "d1.pgm"))
    sparse_pgm(os.path.join(folder, "d2.pgm"))
    limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))
    r = run(["--out", "o", "--dark", "d1.pgm", "--dark", "d2.pgm", "f.pgm"], folder, preexec=limit)
    check(r.returncode == 6 and b"master_dark.pgm" in r.stderr and b"File too large" in r.stderr and
          b"no frame can be measured" not in r.stderr, "exit %d %r" % (r.returncode, r.stderr))
    check(not litter(folder), "litter: %r" % litter(folder))


def a_full_disk_was_never_named(folder):
    """ENOSPC from the kernel for one file at a time (the instrument puts /dev/full in
    its place): the products the night writes itself, a frame's product and the
    worker's result."""
    settings(folder)
    frame(folder, "a.pgm")
    sparse_pgm(os.path.join(folder, "f.pgm"))
    sparse_pgm(os.path.join(folder, "d1.pgm"))
    sparse_pgm(os.path.join(folder, "d2.pgm"))
    cases = [("master_dark.pgm", ["--dark", "d1.pgm", "--dark", "d2.pgm", "f.pgm"], 6),
             ("night.json", ["a.pgm"], 6), ("night_profile.tsv", ["a.pgm"], 6), ("night.nc", ["a.pgm"], 6),
             ("tavrolin_data.txt", ["a.pgm"], 2), ("0.result", ["a.pgm"], 2)]
    if shutil.which("gnuplot"):
        cases.append(("night_map.png", ["a.pgm"], 6))
    # HDF5 (under night.nc) keeps a block it allocated when it can't create its file:
    # the library's, not the night's, for the sanitizer build's leak check.
    write(os.path.join(folder, "leaks"), "leak:libhdf5\n")
    for full, arguments, code in cases:
        shutil.rmtree(os.path.join(folder, "o"), ignore_errors=True)
        env = preloading(NO_SPACE, TAVROLIN_TEST_NO_SPACE=full,
                         LSAN_OPTIONS="suppressions=" + os.path.join(folder, "leaks"))
        r = run(["--out", "o", "--no-pictures"] + arguments, folder, env=env)
        said = r.stdout + r.stderr
        check(r.returncode == code and b"No space left on device" in said and full.encode() in said or
              full == "0.result" and b"could not write its result: No space left on device" in r.stdout,
              "%s: exit %d %r" % (full, r.returncode, said))
        if code == 2:   # a frame failed: night.json gives the reason too
            message = night_record(os.path.join(folder, "o"))["frames"][0]["message"]
            check("No space left on device" in message, "%s: night.json says %r" % (full, message))
        if full == "night.nc":   # the pictures, drawn meanwhile, are given up with it
            drawn = [n for n in os.listdir(os.path.join(folder, "o")) if n.endswith(".png")]
            check(not drawn, "night.nc not written, yet drawn: %r" % drawn)
        check(not litter(folder), "%s: litter %r" % (full, litter(folder)))


def a_full_disk_cut_a_picture_short_and_called_it_drawn(folder):
    """A real full disk, a small tmpfs as --out (where this process may mount one, in a
    mount namespace of its own): gnuplot ends without a word when its picture is cut
    short. What the night leaves is copied out before the namespace goes."""
    settings(folder)
    frame(folder, "a.pgm")
    os.makedirs(os.path.join(folder, "o"))
    script = ('mount -t tmpfs -o size=200k tmpfs o || exit 99\n"$0" --out o --no-pictures a.pgm\n'
              'code=$?\ncp -a o saved\nexit $code\n')
    r = subprocess.run(["unshare", "-m", "sh", "-c", script, NIGHT], cwd=folder, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=300)
    if r.returncode == 99 or not os.path.isdir(os.path.join(folder, "saved")):
        print("  (no tmpfs can be mounted here: %r)" % r.stderr[-200:])
        return
    check(r.returncode in (2, 6) and b"No space left on device" in r.stdout + r.stderr,
          "exit %d %r %r" % (r.returncode, r.stdout, r.stderr))
    saved = os.path.join(folder, "saved")
    for name in os.listdir(saved):
        if name.endswith(".png"):
            with open(os.path.join(saved, name), "rb") as f:
                check(f.read()[-12:] == b"\0\0\0\0IEND\xaeB`\x82", "%s is a picture cut short" % name)
            check(b"can't write o/" + name.encode() not in r.stderr, "%s is there and called not written" % name)
    check(not litter(saved), "litter: %r" % litter(saved))


def out_of_memory_outside_the_planes_ended_with_134_and_left_a_temporary(folder):
    """Memory that runs out at allocations of 1 kB or more spread over the whole
    night, in the night itself and in a worker: code 2, "not enough memory"."""
    if SANITIZED:
        return
    settings(folder)
    frame(folder, "a.pgm")
    counted = os.path.join(folder, "allocations")
    env = preloading(FAIL_NEW, TAVROLIN_TEST_FAIL_NEW_BYTES="1024", TAVROLIN_TEST_COUNT_NEW=counted)
    r = run(["--out", "o", "--no-pictures", "a.pgm"], folder, env=env)
    allocations = int(open(counted).read())
    check(r.returncode == 0 and allocations > 20, "counted: exit %d, %d allocations" % (r.returncode, allocations))
    del env["TAVROLIN_TEST_COUNT_NEW"]
    for n in range(1, allocations + 1, max(1, allocations // 12)):
        shutil.rmtree(os.path.join(folder, "o"), ignore_errors=True)
        r = run(["--out", "o", "--no-pictures", "a.pgm"], folder, env=dict(env, TAVROLIN_TEST_FAIL_NEW=str(n)))
        check(r.returncode == 2 and b"not enough memory" in r.stderr,
              "allocation %d of %d: exit %d %r" % (n, allocations, r.returncode, r.stderr[-300:]))
        check(not litter(folder), "allocation %d: litter %r" % (n, litter(folder)))
    shutil.rmtree(os.path.join(folder, "o"), ignore_errors=True)
    r = run(["--out", "o", "--no-pictures", "a.pgm"], folder, env=dict(env, TAVROLIN_TEST_FAIL_NEW_IN_CHILD="20"))
    check(r.returncode == 2 and r.stdout.startswith(b"a: failed (code 2): not enough memory to measure it"),
          "in the worker: exit %d %r" % (r.returncode, r.stdout))
    check(not litter(folder), "in the worker: litter %r" % litter(folder))


def unwritable_plots_ended_with_0_and_night_json_said_0(folder):
    settings(folder)
    frame(folder, "a.pgm")
    os.makedirs(os.path.join(folder, "o", "night_map.png"))
    r = run(["--out", "o", "--no-pictures", "a.pgm"], folder)
    if not shutil.which("gnuplot"):
        return
    check(r.returncode == 6 and b"night_map.png" in r.stderr, "exit %d %r" % (r.returncode, r.stderr))
    check(night_record(os.path.join(folder, "o"))["summary"]["exit_code"] == 6, "night.json's exit code is 6")
    check(os.path.exists(os.path.join(folder, "o", "night_profile.png")), "the other picture drawn")
    check(not litter(folder), "litter: %r" % litter(folder))


# The worker pool ------------------------------------------------------------------

def sigchld_ignored_made_good_frames_fail_with_code_0(folder):
    settings(folder)
    frame(folder, "a.pgm")
    r = run(["--out", "o", "--no-pictures", "a.pgm"], folder,
            preexec=lambda: signal.signal(signal.SIGCHLD, signal.SIG_IGN))
    check(r.returncode == 0 and r.stdout.startswith(b"a: measured"), "exit %d %r" % (r.returncode, r.stdout))
    # night.nc was left readable by its owner only, unlike every other product.
    mask = os.umask(0)
    os.umask(mask)
    for product in ("night.nc", "night.json", "night_profile.tsv"):
        mode = os.stat(os.path.join(folder, "o", product)).st_mode & 0o777
        check(mode == 0o666 & ~mask, "%s has mode %o" % (product, mode))


def a_moment_without_fork_failed_a_frame(folder):
    settings(folder)
    frame(folder, "a.pgm")
    frame(folder, "b.pgm", "scene_laser_2.pgm")
    # Without gnuplot on the search path: the instrument is for the night alone.
    env = preloading(FAIL_FORK, TAVROLIN_TEST_FAIL_FORK="2", PATH="/nonexistent")
    r = run(["--out", "o", "--no-pictures", "--jobs", "2", "a.pgm", "b.pgm"], folder, env=env)
    check(r.returncode == 0 and r.stdout.count(b": measured") == 2, "exit %d %r %r" % (r.returncode, r.stdout, r.stderr))
    env["TAVROLIN_TEST_FAIL_FORK"] = "1"   # with no worker running: tried again
    r = run(["--out", "p", "--no-pictures", "--jobs", "1", "a.pgm"], folder, env=env)
    check(r.returncode == 0, "exit %d %r %r" % (r.returncode, r.stdout, r.stderr))


def held_night(folder, product, frames, extra=()):
    """Starts the night with every writer of `product` held once its temporary is
    complete; returns the process when the first one is held."""
    env = preloading(HOLD, TAVROLIN_TEST_HOLD=product, TAVROLIN_TEST_HELD=os.path.join(folder, "held"))
    p = subprocess.Popen([NIGHT, "--out", "o", "--jobs", "2"] + list(extra) + frames, cwd=folder,
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    deadline = time.time() + 240
    while not os.path.exists(os.path.join(folder, "held")) and time.time() < deadline and p.poll() is None:
        time.sleep(0.05)
    check(os.path.exists(os.path.join(folder, "held")), "the night was held at " + product)
    return p


def children(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            return [int(c) for c in f.read().split()]
    except OSError:
        return []


def a_signal_left_workers_running_and_litter(folder):
    settings(folder)
    frame(folder, "a.pgm")
    frame(folder, "b.pgm", "scene_laser_2.pgm")
    for number, (product, sent) in enumerate((("tavrolin_data.txt", signal.SIGTERM),
                                              ("quicklook.png", signal.SIGHUP),
                                              ("night_profile.tsv", signal.SIGINT))):
        shutil.rmtree(os.path.join(folder, "o"), ignore_errors=True)
        if os.path.exists(os.path.join(folder, "held")):
            os.remove(os.path.join(folder, "held"))
        p = held_night(folder, product, ["a.pgm", "b.pgm"])
        workers = children(p.pid)
        p.send_signal(sent)
        try:
            p.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            for worker in [p.pid] + workers:
                os.kill(worker, signal.SIGKILL)
            p.communicate()
        check(p.returncode == -sent, "ended by %s: %d" % (sent.name, p.returncode))
        alive = [w for w in workers if os.path.exists("/proc/%d" % w) and
                 open("/proc/%d/stat" % w).read().split()[2] != "Z"]
        check(not alive, "%s: no worker left running: %r" % (sent.name, alive))
        left = litter(folder)
        check(not left, "%s at %s: litter %r" % (sent.name, product, left))
        if product != "night_profile.tsv":
            check(not os.path.exists(os.path.join(folder, "o", "b")) or os.listdir(os.path.join(folder, "o", "b")),
                  "%s: no empty frame folder" % sent.name)


def a_worker_killed_by_a_signal_left_its_temporaries(folder):
    settings(folder)
    frame(folder, "a.pgm")
    p = held_night(folder, "tavrolin_data.txt", ["a.pgm"])
    for worker in children(p.pid):
        os.kill(worker, signal.SIGKILL)
    try:
        out, err = p.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        p.kill()
        out, err = p.communicate()
    check(p.returncode == 2 and b"a: failed (code 2): the worker measuring it ended by signal 9" in out,
          "exit %d %r" % (p.returncode, out))
    check(not litter(folder), "litter: %r" % litter(folder))


if __name__ == "__main__":
    SCENE = tempfile.mkdtemp(prefix="tavrolin_night_bad_scene_")
    try:
        subprocess.run([SCENE_TOOL, "--seed", "23", "--frames", "2", SCENE], check=True, capture_output=True)
        for test in (gain_and_saturation_nan_were_accepted_and_ignored,
                     config_nope_was_called_tavrolinconfig,
                     frame_beginning_with_a_dash_said_frame_is_required,
                     jobs_ignored_the_affinity_mask,
                     non_utf8_and_control_bytes_in_names_crashed_the_night,
                     out_in_the_input_folder_overwrote_a_frame_named_master_dark,
                     a_link_at_the_png_temporary_had_its_target_overwritten,
                     huge_sparse_darks_made_a_huge_master_dark,
                     a_frame_with_a_long_sparse_tail_was_hashed_whole,
                     a_path_of_a_hundred_million_points_took_a_gigabyte,
                     a_full_disk_under_the_master_dark_said_no_frame_can_be_measured,
                     a_full_disk_was_never_named,
                     a_full_disk_cut_a_picture_short_and_called_it_drawn,
                     out_of_memory_outside_the_planes_ended_with_134_and_left_a_temporary,
                     unwritable_plots_ended_with_0_and_night_json_said_0,
                     sigchld_ignored_made_good_frames_fail_with_code_0,
                     a_moment_without_fork_failed_a_frame,
                     a_signal_left_workers_running_and_litter,
                     a_worker_killed_by_a_signal_left_its_temporaries):
            started = time.time()
            case(test)
            print("%-75s %.1f s" % (test.__name__, time.time() - started))
    finally:
        shutil.rmtree(SCENE, ignore_errors=True)
    print("%d failure(s)" % len(failures))
    sys.exit(1 if failures else 0)
