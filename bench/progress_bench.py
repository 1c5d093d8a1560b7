#!/usr/bin/env python3
"""What following a call's progress costs: batch start-up, and user CPU time before and after.

  bench/progress_bench.py --before BUILD_DIR [--after BUILD_DIR] [--size-mib N] [--runs N]

BUILD_DIRs are Release builds (parvo and the five libraries) of the two revisions; --after
defaults to build/bench, built here. Without a display, as batch runs are.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_bench  # noqa: E402  (the tree, the packers and the timing)

ROOT = run_bench.ROOT


def run_parvo(parvo, path, home, scratch, environment_extra=None):
    """Runs parvo on path with a fresh desktop; returns (wall s, user s, stderr)."""
    shutil.rmtree(os.path.join(home, "Desktop"), ignore_errors=True)
    env = {"HOME": home, "PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8"}
    env.update(environment_extra or {})
    wall, usage, status, message = run_bench.time_process(
        [parvo, path], env, os.path.join(scratch, "stderr"))
    if status != 0:
        raise SystemExit("%s %s failed (%d): %s" % (parvo, path, status, message))
    return wall, usage.ru_utime, message


def spawned_wall(command, env):
    """Wall seconds from spawning command to reaping it: no shell between, so that only Python's
    own spawning adds to it."""
    start = time.perf_counter()
    pid = os.posix_spawn(command[0], command, env)
    _, status = os.waitpid(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit("%s failed" % " ".join(command))
    return time.perf_counter() - start


def startup(parvo, scratch, runs):
    """Median wall time of a one-file extraction into a fresh desktop, less that of /bin/true
    spawned alike (the spawning's own cost), and whether any Qt library was loaded."""
    home = os.path.join(scratch, "home-startup")
    os.makedirs(home, exist_ok=True)
    archive = os.path.join(scratch, "one.zip")
    with open(os.path.join(scratch, "one.txt"), "w") as text:
        text.write("one file\n")
    subprocess.run(["zip", "-q", "-j", archive, os.path.join(scratch, "one.txt")], check=True)
    env = {"HOME": home, "PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8"}
    walls, spawning = [], []
    for _ in range(runs):
        shutil.rmtree(os.path.join(home, "Desktop"), ignore_errors=True)
        walls.append(spawned_wall([parvo, archive], env))
        spawning.append(spawned_wall(["/bin/true"], env))
    log = os.path.join(scratch, "loaded")
    run_parvo(parvo, archive, home, scratch, {"LD_DEBUG": "files", "LD_DEBUG_OUTPUT": log})
    loaded = ""
    for name in os.listdir(scratch):
        if name.startswith("loaded."):  # one per process, the launching shell's too
            with open(os.path.join(scratch, name)) as lines:
                loaded += lines.read()
            os.remove(os.path.join(scratch, name))
    return statistics.median(walls) - statistics.median(spawning), "libQt6" in loaded


def user_cpu(parvo, jobs, scratch, runs):
    """Median user CPU seconds of each job (a path dropped on parvo)."""
    home = os.path.join(scratch, "home-cpu")
    os.makedirs(os.path.join(home, ".config"), exist_ok=True)
    figures = {}
    for name, path, preference in jobs:
        with open(os.path.join(home, ".config", "norrin.ini"), "w") as settings:
            settings.write("[parvo]\narcdllselect=\"%s\"\n" % preference)
        figures[name] = statistics.median(
            run_parvo(parvo, path, home, scratch)[1] for _ in range(runs))
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--before", required=True)
    parser.add_argument("--after", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--size-mib", type=int, default=40)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    run_bench.become_subreaper()
    after = run_bench.build_parvo(args.after)
    before = os.path.join(args.before, "bin", "parvo")
    with tempfile.TemporaryDirectory(prefix="parvo-progress-bench-") as scratch:
        tree = os.path.join(scratch, "tree")
        run_bench.build_tree("corpus", tree, args.size_mib, args.seed)
        archives = run_bench.pack_archives(tree, scratch, ["zip", "lzh", "cab"])
        jobs = [("extract " + fmt, path, "cabex") for fmt, path in sorted(archives.items())]
        jobs += [("pack cab+run", tree, "cabex"), ("pack lzh", tree, "lha  ")]

        print("batch start-up (one-file zip), median of %d:" % (args.runs * 4))
        for label, parvo in (("before", before), ("after", after)):
            seconds, qt = startup(parvo, scratch, args.runs * 4)
            print("  %-6s %6.1f ms  Qt loaded: %s" % (label, seconds * 1000, "yes" if qt else "no"))

        print("user CPU s, median of %d (%d MiB tree):" % (args.runs, args.size_mib))
        print("  %-14s %8s %8s %7s" % ("job", "before", "after", "change"))
        # Alternating, so that a noisy moment hits both alike.
        cpu_before, cpu_after = {}, {}
        for _ in range(args.runs):
            for figures, parvo in ((cpu_before, before), (cpu_after, after)):
                for name, seconds in user_cpu(parvo, jobs, scratch, 1).items():
                    figures.setdefault(name, []).append(seconds)
        for name, _, _ in jobs:
            b = statistics.median(cpu_before[name])
            a = statistics.median(cpu_after[name])
            print("  %-14s %8.3f %8.3f %+6.1f%%" % (name, b, a, (a / b - 1) * 100 if b else 0))


if __name__ == "__main__":
    main()
