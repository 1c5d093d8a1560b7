#!/usr/bin/env python3
"""Where an extraction's wall time goes, per thread: user, system and waiting seconds.

  bench/thread_split.py ARCHIVES_DIR [--runs 9] [--threads 0,1,default] [--build-dir build/bench]

ARCHIVES_DIR holds bench.zip, bench.tar, ... (run_bench.py --keep DIR leaves them in
DIR/archives). Each archive is extracted by parvo at each landing-thread count in alternating
rounds, each run into a fresh HOME, with bench/thread_times.c preloaded: it records every thread's
wall, user and system time as the thread ends. Prints medians: the reading (main) thread, and the
landing threads summed. Waiting is wall minus user minus system.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def build_shim(folder):
    shim = os.path.join(folder, "thread_times.so")
    subprocess.run(["cc", "-O2", "-shared", "-fPIC", "-o", shim,
                    os.path.join(ROOT, "bench", "thread_times.c"), "-ldl"], check=True)
    return shim


def run_once(parvo, shim, archive, threads, scratch, index):
    home = os.path.join(scratch, "run%d" % index)
    os.makedirs(os.path.join(home, "Desktop"))
    times = os.path.join(home, "times")
    environment = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    environment.update(HOME=home, XDG_DESKTOP_DIR=os.path.join(home, "Desktop"),
                       XDG_DATA_HOME=os.path.join(home, "data"), LD_PRELOAD=shim,
                       PARVO_THREAD_TIMES=times)
    if threads != "default":
        environment["PARVO_LANDING_THREADS"] = threads
    os.sync()
    subprocess.run([parvo, archive], env=environment, check=True, stdin=subprocess.DEVNULL)
    rows = [line.split() for line in open(times)]
    main = next([float(x) for x in row[1:]] for row in rows if row[0] == "main")
    workers = [[float(x) for x in row[1:]] for row in rows if row[0] == "worker"]
    return main, [sum(w[1] for w in workers), sum(w[2] for w in workers), len(workers)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("archives")
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--threads", default="0,1,default")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "bench"))
    arguments = parser.parse_args()
    parvo = os.path.join(arguments.build_dir, "bin", "parvo")
    counts = arguments.threads.split(",")
    with tempfile.TemporaryDirectory(dir=os.path.dirname(os.path.abspath(arguments.archives))) as scratch:
        shim = build_shim(scratch)
        index = 0
        print("fmt  threads   wall  main user  sys  wait | landing user  sys")
        for name in sorted(os.listdir(arguments.archives)):
            if not name.startswith("bench."):
                continue
            archive = os.path.join(arguments.archives, name)
            results = {count: [] for count in counts}
            for round_index in range(arguments.runs):
                order = counts if round_index % 2 == 0 else counts[::-1]
                for count in order:
                    index += 1
                    results[count].append(run_once(parvo, shim, archive, count, scratch, index))
            for count in counts:
                median = lambda pick: statistics.median(pick(r) for r in results[count])
                wall, user, system = (median(lambda r, i=i: r[0][i]) for i in range(3))
                print("%-4s %-8s %6.3f %10.3f %4.3f %5.3f | %12.3f %4.3f" % (
                    name[6:], count, wall, user, system, wall - user - system,
                    median(lambda r: r[1][0]), median(lambda r: r[1][1])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
