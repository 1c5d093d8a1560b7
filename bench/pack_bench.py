#!/usr/bin/env python3
"""Parvo packing a folder against gcab (CAB, MSZIP) and jlha (LZH, lh5), in one run.

Parvo packs CAB with -ml:21, LZX with a 2 MiB window, so the cab row sets LZX against gcab's MSZIP.

  bench/pack_bench.py [--size-mib 100] [--tree bench|mixed|corpus|large] [--runs 3]
                      [--formats cab,lzh] [--build-dir build/bench] [--no-build] [--keep DIR]
                      [--references] [--curve]

Uses the seeded mixed tree of run_bench.py (or, with --tree mixed, its smaller tree of small files,
shared libraries, text and noise). --references also prints the sizes of the tree as a tar through
gzip -6 and xz -9, the ceiling to measure against. Parvo packs it as a dropped folder (a fresh HOME with
the preference stored, so the whole program is timed, the final sync included); the peer packs
the same tree from inside it. Prints the best wall time, CPU times, peak memory, the archive size
and Parvo's ratios to the peer (time and size; below 1 is better).

--curve measures the CAB row at each LZX search effort (PARVO_LZX_EFFORT 1 to 3; 2 is the
default) and wimlib's LZX at 2 MiB chunks (wimtools, at its default level and its slowest), all
against gcab.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_bench  # noqa: E402  (the tree, the build and the timing are shared)

PREFERENCE = {"cab": "cab  ", "lzh": "lha  "}
PEERS = {
    "cab": ("gcab", lambda out, members: ["gcab", "-c", "-z", out] + members),
    "lzh": ("jlha", lambda out, members: ["jlha", "aq", out] + members),
}


def measure(command_for, output_for, scratch, runs):
    """Best wall time, lowest user and system times, peak KiB and the archive's size."""
    walls, users, systems, peak, size = [], [], [], 0, 0
    for run in range(runs + 1):  # the first run warms the caches and is not counted
        home = tempfile.mkdtemp(prefix="run-", dir=scratch)
        command, env, cwd = command_for(home)
        previous = os.getcwd()
        os.chdir(cwd)
        try:
            seconds, usage, status, message = run_bench.time_process(
                command, env, os.path.join(home, "stderr"))
        finally:
            os.chdir(previous)
        if status != 0:
            raise RuntimeError("%s failed: %s" % (command[0], message))
        size = os.path.getsize(output_for(home))
        if run > 0:
            walls.append(seconds)
            users.append(usage.ru_utime)
            systems.append(usage.ru_stime)
            peak = max(peak, usage.ru_maxrss)
        shutil.rmtree(home)
    return min(walls), min(users), min(systems), peak, size


def parvo_command(parvo, tree, fmt, extra_env=None):
    """Parvo packing tree as a dropped folder with the format preference stored in a fresh HOME."""
    def command_for(home):
        config = os.path.join(home, ".config")
        os.makedirs(config)
        with open(os.path.join(config, "norrin.ini"), "w") as ini:
            ini.write('[parvo]\narcdllselect="%s"\n' % PREFERENCE[fmt])
        env = {"HOME": home, "PATH": os.environ["PATH"]}
        env.update(extra_env or {})
        return [parvo, tree], env, os.path.dirname(tree)
    return command_for


def print_curve(parvo, tree, members, scratch, runs):
    """The CAB packers' time and size: Parvo at each search effort, gcab, wimlib's LZX."""
    rows = []
    for effort in (1, 2, 3):
        name = "parvo %d%s" % (effort, "*" if effort == 2 else "")
        rows.append((name, measure(parvo_command(parvo, tree, "cab", {"PARVO_LZX_EFFORT": str(effort)}),
                                   lambda home: os.path.join(home, "Desktop", "tree.cab"),
                                   scratch, runs)))
    rows.append(("gcab -z", measure(
        lambda home: (PEERS["cab"][1](os.path.join(home, "out"), members), dict(os.environ), tree),
        lambda home: os.path.join(home, "out"), scratch, runs)))
    if shutil.which("wimlib-imagex"):
        for level, label in ((None, "wim lzx"), (100, "wim lzx100")):
            compress = "--compress=LZX" + (":%d" % level if level else "")
            rows.append((label, measure(
                lambda home, compress=compress: (
                    ["wimlib-imagex", "capture", tree, os.path.join(home, "out.wim"), compress,
                     "--chunk-size=2M", "--no-acls"], dict(os.environ), tree),
                lambda home: os.path.join(home, "out.wim"), scratch, runs)))
    gcab = dict(rows)["gcab -z"]
    print("%-11s %7s %7s %7s %8s %9s %6s %6s" % (
        "packer", "best s", "user s", "sys s", "peak MiB", "size MiB", "time", "size"))
    for name, (wall, user, system, peak, size) in rows:
        print("%-11s %7.2f %7.2f %7.2f %8.1f %9.2f %6.2f %6.3f" % (
            name, wall, user, system, peak / 1024, size / run_bench.MIB, wall / gcab[0],
            size / gcab[4]))
    print("(* the default; time and size as ratios to gcab -z)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size-mib", type=int, default=100)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--formats", default="cab,lzh")
    parser.add_argument("--build-dir", default=os.path.join(run_bench.ROOT, "build", "bench"))
    parser.add_argument("--no-build", action="store_true")
    parser.add_argument("--keep")
    parser.add_argument("--tree", choices=sorted(run_bench.TREES), default="bench")
    parser.add_argument("--references", action="store_true")
    parser.add_argument("--curve", action="store_true")
    args = parser.parse_args()
    run_bench.become_subreaper()
    build_dir = os.path.abspath(args.build_dir)
    parvo = os.path.join(build_dir, "bin", "parvo")
    if not args.no_build:
        parvo = run_bench.build_parvo(build_dir)
    work = os.path.abspath(args.keep) if args.keep else tempfile.mkdtemp(prefix="parvo-pack-")
    tree, scratch = os.path.join(work, "tree"), os.path.join(work, "scratch")
    os.makedirs(scratch, exist_ok=True)
    try:
        if not os.path.isdir(tree):
            run_bench.log("building the %s tree" % args.tree)
            run_bench.build_tree(args.tree, tree, args.size_mib, args.seed)
        members = sorted(os.listdir(tree))
        if args.references:
            for compressor in (["gzip", "-6"], ["xz", "-9"]):
                size = len(subprocess.run(
                    "tar cf - . | %s" % " ".join(compressor), shell=True, cwd=tree, check=True,
                    stdout=subprocess.PIPE).stdout)
                print("tar | %-7s %9.2f MiB" % (" ".join(compressor), size / run_bench.MIB))
        if args.curve:
            print_curve(parvo, tree, members, scratch, args.runs)
            return 0
        print("%-4s %-6s %7s %7s %7s %8s %9s %6s %6s" % (
            "fmt", "tool", "best s", "user s", "sys s", "peak MiB", "size MiB", "time", "size"))
        for fmt in [f for f in args.formats.split(",") if f]:
            program, peer_command = PEERS[fmt]

            ours = measure(parvo_command(parvo, tree, fmt), lambda home, fmt=fmt: os.path.join(
                home, "Desktop", "tree." + fmt), scratch, args.runs)
            rows = [("parvo", ours)]
            if shutil.which(program):
                theirs = measure(lambda home: (peer_command(os.path.join(home, "out"), members),
                                               dict(os.environ), tree),
                                 lambda home: os.path.join(home, "out"), scratch, args.runs)
                rows.append((program, theirs))
            for tool, (wall, user, system, peak, size) in rows:
                ratios = ("", "")
                if tool == "parvo" and len(rows) > 1:
                    ratios = ("%.2f" % (wall / rows[1][1][0]), "%.3f" % (size / rows[1][1][4]))
                print("%-4s %-6s %7.2f %7.2f %7.2f %8.1f %9.2f %6s %6s" % (
                    fmt, tool, wall, user, system, peak / 1024, size / run_bench.MIB, *ratios))
        return 0
    finally:
        shutil.rmtree(work if not args.keep else scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
