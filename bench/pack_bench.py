#!/usr/bin/env python3
"""Parvo packing a folder against gcab (CAB, MSZIP) and jlha (LZH, lh5), timed in alternating pairs.

  bench/pack_bench.py [--tree corpus|mixed|bench|large] [--size-mib N] [--runs 5]
                      [--packs run,cab] [--curve] [--before OTHER_PARVO] [--parvo PARVO]
                      [--build-dir build/bench] [--no-build] [--keep DIR] [--references]

Packs the tree as a user does: Parvo is given the folder as a dropped path (a fresh HOME with the
format preference stored, so start-up, the walk, the coding, the conversion to the
self-extracting program and the final fsync are all timed); gcab -c -z packs the same top-level
names from inside the tree. One untimed round warms the page cache, then --runs rounds (at least
5) run every packer once, the order reversed from round to round, so each Parvo run has a gcab run
beside it under the same load. Every run writes into a fresh folder, after os.sync(), so no run
pays for the write-back of the one before; its output is deleted once measured.

Packs (--packs): run, the default preference: the cabinet, then the self-extracting NAME.run;
cab, the "cab  " preference: NAME.cab alone; lzh, the "lha  " preference against jlha.
--curve times the run pack at each LZX search effort (PARVO_LZX_EFFORT 1 to 3; 2 is the
default) and, when wimtools is installed, wimlib's LZX at 2 MiB chunks.

The trees: corpus (the default, 56 MB): seq 1 2000000 as one file, 200 decompressed
/usr/share/doc texts as one, 40 shared libraries under 2 MB, 1,500 small text files, 8 MiB of
noise. large: --size-mib MiB (312 for the full size) of noise, prose, logs and binaries in
files of 1 to 8 MiB. mixed and bench are run_bench.py's extraction trees.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_bench  # noqa: E402  (the trees, the build and the timing are shared)

PREFERENCES = {"run": ("cabex", "run"), "cab": ("cab  ", "cab"), "lzh": ("lha  ", "lzh")}
PEERS = {"run": "gcab", "cab": "gcab", "lzh": "jlha"}
PEER_COMMANDS = {
    "gcab": lambda out, members: ["gcab", "-c", "-z", out] + members,
    "jlha": lambda out, members: ["jlha", "aq", out] + members,
}
WALL_GOAL = 2.0  # the default pack's wall time against gcab's
SIZE_GOAL = 0.76  # the cab preference's cabinet against gcab's
PEAK_GOAL_MIB = 64


class Packer:
    """One way of packing the tree, and its measurements."""

    def __init__(self, label, command_for, output_for):
        self.label = label
        self.command_for = command_for  # home -> (command, env, cwd)
        self.output_for = output_for  # home -> the archive written
        self.walls, self.users, self.systems = [], [], []
        self.peak_kib = 0
        self.size = 0


def parvo_packer(label, parvo, tree, pack, extra_env=None):
    """Parvo packing tree as a dropped folder, the preference stored in a fresh HOME."""
    code, extension = PREFERENCES[pack]

    def command_for(home):
        os.makedirs(os.path.join(home, ".config"))
        os.makedirs(os.path.join(home, "Desktop"))
        with open(os.path.join(home, ".config", "norrin.ini"), "w") as ini:
            ini.write('[parvo]\narcdllselect="%s"\n' % code)
        env = {"HOME": home, "PATH": os.environ["PATH"], "LC_ALL": "C"}
        env.update(extra_env or {})
        return [parvo, tree], env, os.path.dirname(tree)

    return Packer(label, command_for,
                  lambda home: os.path.join(home, "Desktop", "tree." + extension))


def peer_packer(label, command, tree, members):
    """A peer packing the tree's top-level names from inside it, in the same environment as
    Parvo (the caller's environment once let the peer run with other settings)."""
    return Packer(label, lambda home: (
        command(os.path.join(home, "out"), members),
        {"HOME": home, "PATH": os.environ["PATH"], "LC_ALL": "C"}, tree),
        lambda home: os.path.join(home, "out"))


def run_once(packer, scratch, timed):
    home = tempfile.mkdtemp(prefix="run-", dir=scratch)
    command, env, cwd = packer.command_for(home)
    os.sync()  # the previous run's output is written back before the clock starts
    previous = os.getcwd()
    os.chdir(cwd)
    try:
        seconds, usage, status, message = run_bench.time_process(
            command, env, os.path.join(home, "stderr"))
    finally:
        os.chdir(previous)
    if status != 0 or (packer.label.startswith("parvo") and message):
        raise RuntimeError("%s failed (status %d): %s" % (packer.label, status, message))
    packer.size = os.path.getsize(packer.output_for(home))
    if timed:
        packer.walls.append(seconds)
        packer.users.append(usage.ru_utime)
        packer.systems.append(usage.ru_stime)
    packer.peak_kib = max(packer.peak_kib, usage.ru_maxrss)
    shutil.rmtree(home)


def measure(packers, scratch, runs):
    """One untimed warm-up round, then runs rounds of every packer, the order reversed each
    round: every packer's run has the others' beside it."""
    for packer in packers:
        run_once(packer, scratch, False)
    for round_index in range(runs):
        run_bench.log("round %d of %d" % (round_index + 1, runs))
        for packer in (packers if round_index % 2 == 0 else packers[::-1]):
            run_once(packer, scratch, True)


def paired_ratio(packer, peer):
    """The median of the round-by-round ratios: each run against the peer's run of its round."""
    return statistics.median(ours / theirs for ours, theirs in zip(packer.walls, peer.walls))


def print_table(packers, peer):
    print("%-12s %7s %7s %7s %7s %7s %8s %11s %7s %7s %6s" % (
        "packer", "wall s", "min s", "max s", "user s", "sys s", "peak MiB", "bytes",
        "wall r", "pair r", "size r"))
    for packer in packers:
        ratios = ("", "", "")
        if peer is not None and packer is not peer:
            ratios = ("%.2f" % (statistics.median(packer.walls) / statistics.median(peer.walls)),
                      "%.2f" % paired_ratio(packer, peer), "%.3f" % (packer.size / peer.size))
        print("%-12s %7.2f %7.2f %7.2f %7.2f %7.2f %8.1f %11d %7s %7s %6s" % (
            packer.label, statistics.median(packer.walls), min(packer.walls), max(packer.walls),
            statistics.median(packer.users), statistics.median(packer.systems),
            packer.peak_kib / 1024, packer.size, *ratios))


def print_goals(packers, peer):
    byname = {packer.label: packer for packer in packers}
    checks = []
    default = byname.get("parvo run") or byname.get("parvo run 2*")
    if default and peer:
        ratio = paired_ratio(default, peer)
        checks.append(("default pack (.run) wall, paired median, x gcab", ratio, WALL_GOAL,
                       ratio <= WALL_GOAL))
    if "parvo cab" in byname and peer:
        ratio = byname["parvo cab"].size / peer.size
        checks.append(("cab preference's cabinet size, x gcab", ratio, SIZE_GOAL,
                       ratio <= SIZE_GOAL))
    parvos = [packer for packer in packers if packer.label.startswith("parvo")]
    if parvos:
        peak = max(packer.peak_kib for packer in parvos) / 1024
        checks.append(("Parvo's peak memory, MiB", peak, PEAK_GOAL_MIB, peak < PEAK_GOAL_MIB))
    for what, value, goal, met in checks:
        print("  %-50s %7.2f  goal %5.2f  %s" % (what, value, goal, "met" if met else "NOT MET"))


def describe(tree, runs, args):
    files, size = 0, 0
    for parent, _, names in os.walk(tree):
        for name in names:
            files += 1
            size += os.path.getsize(os.path.join(parent, name))
    print("tree %s: %d files, %.1f MB; %d cores; %d timed rounds after one warm-up" % (
        args.tree, files, size / 1e6, os.cpu_count(), runs))
    print("load average at the start: %.2f %.2f %.2f" % os.getloadavg())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tree", choices=sorted(run_bench.TREES), default="corpus")
    parser.add_argument("--size-mib", type=int,
                        help="the bench and large trees' size (100 and 312 MiB by default)")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--packs", default="run,cab")
    parser.add_argument("--curve", action="store_true")
    parser.add_argument("--before", help="another build's bin/parvo, timed in the same rounds")
    parser.add_argument("--parvo", help="time this bin/parvo instead of building one")
    parser.add_argument("--build-dir", default=os.path.join(run_bench.ROOT, "build", "bench"))
    parser.add_argument("--no-build", action="store_true")
    parser.add_argument("--keep")
    parser.add_argument("--references", action="store_true")
    args = parser.parse_args()
    if args.size_mib is None:
        args.size_mib = 312 if args.tree == "large" else 100
    if args.runs < 5:
        print("note: fewer than 5 rounds; the medians below are not the measure of record")
    run_bench.become_subreaper()
    if args.parvo:
        parvo = os.path.abspath(args.parvo)
    else:
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
        describe(tree, args.runs, args)
        if args.references:
            for compressor in (["gzip", "-6"], ["xz", "-9"]):
                size = len(subprocess.run(
                    "tar cf - . | %s" % " ".join(compressor), shell=True, cwd=tree, check=True,
                    stdout=subprocess.PIPE).stdout)
                print("tar | %-7s %11d bytes" % (" ".join(compressor), size))
        packers = []
        packs = [pack for pack in args.packs.split(",") if pack]
        if args.curve:
            for effort in (1, 2, 3):
                packers.append(parvo_packer("parvo run %d%s" % (effort, "*" if effort == 2 else ""),
                                            parvo, tree, "run",
                                            {"PARVO_LZX_EFFORT": str(effort)}))
            packs = [pack for pack in packs if pack != "run"]
        for pack in packs:
            packers.append(parvo_packer("parvo " + pack, parvo, tree, pack))
        if args.before:
            packers.append(parvo_packer("before run", os.path.abspath(args.before), tree, "run"))
        peers = sorted({PEERS[pack] for pack in packs + (["run"] if args.curve else [])})
        for program in peers:
            if shutil.which(program):
                packers.append(peer_packer(program, PEER_COMMANDS[program], tree, members))
            else:
                print("note: %s is not installed; no ratios to it" % program)
        if args.curve and shutil.which("wimlib-imagex"):
            for level, label in ((None, "wim lzx"), (100, "wim lzx100")):
                compress = "--compress=LZX" + (":%d" % level if level else "")
                packers.append(Packer(label, lambda home, compress=compress: (
                    ["wimlib-imagex", "capture", tree, os.path.join(home, "out.wim"), compress,
                     "--chunk-size=2M", "--no-acls"],
                    {"HOME": home, "PATH": os.environ["PATH"], "LC_ALL": "C"}, tree),
                    lambda home: os.path.join(home, "out.wim")))
        measure(packers, scratch, args.runs)
        print("load average at the end:   %.2f %.2f %.2f" % os.getloadavg())
        peer = next((packer for packer in packers if packer.label == "gcab"), None)
        print_table(packers, peer)
        print("(medians of %d rounds; wall r: median wall over gcab's median wall; pair r: the "
              "median of each round's wall over gcab's wall in the same round, the figure the "
              "goal is read from; size r: bytes over gcab's; * the default effort)" % args.runs)
        print_goals(packers, peer)
        return 0
    finally:
        shutil.rmtree(work if not args.keep else scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
