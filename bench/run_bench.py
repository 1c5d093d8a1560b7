#!/usr/bin/env python3
"""Parvo end to end against the fastest peer tool of each archive format.

  bench/run_bench.py [--size-mib 100] [--tree bench|mixed] [--runs 5] [--verify]
                     [--formats zip,tar,lzh,cab,arj] [--build-dir build/bench] [--no-build]
                     [--keep DIR] [--before OTHER_PARVO]

Builds a seeded mixed tree (text, binaries, thousands of small files, one large file), packs it
with the peer archivers, then times extraction by the built parvo and by every peer that reads
the format: one untimed warm-up each, then --runs rounds that time every tool once in alternating
order, each run into a fresh empty folder. Prints median wall and CPU (user + system) seconds, peak
memory (max RSS) and Parvo's ratios to the fastest peer; with --before, another build of parvo
runs in the same rounds and Parvo's ratio to it is printed too. The exit status is 0
unless a build, an archiver or an extraction fails.
"""
import argparse
import ctypes
import glob
import gzip
import hashlib
import itertools
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GOAL_RATIO = 1.1
SMALL_FILES_AT_100_MIB = 5000
ARCHIVE_BASE = "bench"  # Parvo extracts bench.EXT into HOME/Desktop/bench
BEFORE = "parvo-old"  # the label of the --before build
LIBRARY_TARGETS = ["cab32", "unlha32", "unzip32", "tar32", "unarj32"]
SAFE_NAME_CHARACTERS = set("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-")
PR_SET_CHILD_SUBREAPER = 36
LAUNCH = '"$@" </dev/null >/dev/null 2>"$0" & echo $!'  # sh -c LAUNCH STDERR_PATH COMMAND...
BINARY_FOLDERS = {"bin": "/usr/bin", "lib": "/usr/lib/x86_64-linux-gnu"}

# Commands that pack the members (top-level names of the tree, run inside it) into OUT.
PACKERS = {
    "zip": ("zip", lambda out, members: ["zip", "-r", "-q", out] + members),
    "tar": ("tar", lambda out, members: ["tar", "cf", out] + members),
    "lzh": ("jlha", lambda out, members: ["jlha", "aq", out] + members),  # lh5
    "cab": ("gcab", lambda out, members: ["gcab", "-c", "-z", out] + members),  # MSZIP
    "arj": ("arj", lambda out, members: ["arj", "a", "-r", "-m1", "-y", out, "*"]),
}

# Peer extractors: (label, executable, command from archive and destination folder).
PEERS = {
    "zip": [("unzip", "unzip", lambda a, d: ["unzip", "-q", "-o", a, "-d", d]),
            ("bsdtar", "bsdtar", lambda a, d: ["bsdtar", "-xf", a, "-C", d]),
            ("7zz", "7zz", lambda a, d: ["7zz", "x", "-y", "-o" + d, a])],
    "tar": [("bsdtar", "bsdtar", lambda a, d: ["bsdtar", "-xf", a, "-C", d]),
            ("GNU tar", "tar", lambda a, d: ["tar", "xf", a, "-C", d]),
            ("7zz", "7zz", lambda a, d: ["7zz", "x", "-y", "-o" + d, a])],
    "lzh": [("lhasa", "lhasa", lambda a, d: ["lhasa", "-xqw=" + d, a]),
            ("bsdtar", "bsdtar", lambda a, d: ["bsdtar", "-xf", a, "-C", d]),
            ("7zz", "7zz", lambda a, d: ["7zz", "x", "-y", "-o" + d, a])],
    "cab": [("cabextract", "cabextract", lambda a, d: ["cabextract", "-q", "-d", d, a]),
            ("bsdtar", "bsdtar", lambda a, d: ["bsdtar", "-xf", a, "-C", d]),
            ("7zz", "7zz", lambda a, d: ["7zz", "x", "-y", "-o" + d, a])],
    "arj": [("arj", "arj", lambda a, d: ["arj", "x", "-y", a, d + "/"]),
            ("7zz", "7zz", lambda a, d: ["7zz", "x", "-y", "-o" + d, a])],
}


class Measurement:
    def __init__(self, fmt, tool):
        self.format, self.tool = fmt, tool
        self.seconds, self.user_seconds, self.system_seconds = [], [], []
        self.peak_kib, self.error = 0, None


def log(text):
    print(text, file=sys.stderr, flush=True)


def build_parvo(build_dir):
    """Configures a Release build folder if needed and builds parvo and the five libraries."""
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", "parvo"] + LIBRARY_TARGETS,
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, "bin", "parvo")


class Vocabulary:
    """Word-like tokens with a skewed frequency, as prose has."""

    def __init__(self, rng):
        syllables = ["ka", "ri", "to", "mel", "sun", "ver", "da", "no", "pli", "quo", "str", "en",
                     "ath", "or", "ux", "be", "lan", "gi", "ser", "mo", "tra", "ic", "al", "ze"]
        self.words = ["".join(rng.choices(syllables, k=rng.randint(1, 4))) for _ in range(3000)]
        self.cumulative = list(itertools.accumulate(1.0 / rank for rank in range(1, 3001)))

    def text(self, rng, size):
        """size bytes of sentences, one per line."""
        words = rng.choices(self.words, cum_weights=self.cumulative, k=size // 5 + 16)
        lines, used, index = [], 0, 0
        while used < size:
            count = rng.randint(6, 16)
            line = " ".join(words[index:index + count]).capitalize() + ".\n"
            index = (index + count) % (len(words) - 16)
            lines.append(line)
            used += len(line)
        return "".join(lines).encode("ascii")[:size]


def write_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as handle:
        handle.write(data)


def write_text_files(tree, rng, vocabulary, budget):
    used, index = 0, 0
    while used < budget:
        size = min(rng.randint(16 << 10, 512 << 10), budget - used)
        write_file(os.path.join(tree, "text", "part%02d" % (index % 8), "doc%04d.txt" % index),
                   vocabulary.text(rng, size))
        used, index = used + size, index + 1


def is_elf_binary(path):
    with open(path, "rb") as handle:
        return handle.read(4) == b"\x7fELF"


def copy_binaries(tree, rng, budget):
    """Copies a seeded choice of executables and shared libraries, up to budget bytes."""
    candidates = []
    for label, folder in sorted(BINARY_FOLDERS.items()):
        for entry in sorted(os.scandir(folder), key=lambda e: e.name):
            if (entry.is_file(follow_symlinks=False) and set(entry.name) <= SAFE_NAME_CHARACTERS
                    and 8 << 10 <= entry.stat().st_size <= 4 * MIB and is_elf_binary(entry.path)):
                candidates.append((label, entry.path, entry.stat().st_size))
    rng.shuffle(candidates)
    used = 0
    for label, path, size in candidates:
        if used + size <= budget:
            target = os.path.join(tree, "binaries", label, os.path.basename(path))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(path, target)
            used += size


def write_small_files(tree, rng, vocabulary, count):
    """count files of 100 B to 8 KiB, two folders deep; some text, some noise."""
    for index in range(count):
        size = rng.randint(100, 8 << 10)
        data = vocabulary.text(rng, size) if rng.random() < 0.6 else rng.randbytes(size)
        folder = os.path.join(tree, "small", "g%02d" % (index % 20), "h%02d" % (index // 20 % 10))
        write_file(os.path.join(folder, "f%05d.%s" % (index, "txt" if data.isascii() else "dat")),
                   data)


def write_large_file(tree, rng, vocabulary, size):
    """One file of 1 MiB blocks: noise, prose and repeated records in turn (partly compressible)."""
    record = b"".join(b"%08d|%s|%016x\n" % (n, vocabulary.words[n % 50].encode(), n * 7919)
                      for n in range(4096))
    path = os.path.join(tree, "large", "large.bin")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as handle:
        for block in range(max(1, size // MIB)):
            kind = block % 3
            if kind == 0:
                data = rng.randbytes(MIB)
            elif kind == 1:
                data = vocabulary.text(rng, MIB)
            else:
                data = (record * (MIB // len(record) + 1))[:MIB]
            handle.write(data)


def copy_libraries(tree, rng, count):
    """Copies a seeded choice of count shared libraries of 8 KiB to 4 MiB."""
    folder = BINARY_FOLDERS["lib"]
    candidates = sorted(entry.path for entry in os.scandir(folder)
                        if entry.is_file(follow_symlinks=False) and ".so" in entry.name
                        and set(entry.name) <= SAFE_NAME_CHARACTERS
                        and 8 << 10 <= entry.stat().st_size <= 4 * MIB
                        and is_elf_binary(entry.path))
    for path in rng.sample(candidates, min(count, len(candidates))):
        write_file(os.path.join(tree, "libraries", os.path.basename(path)),
                   open(path, "rb").read())


def build_mixed_corpus(tree, seed):
    """About 52 MB: 1,500 small files, 40 shared libraries, 20 MB of text, 8 MB of noise."""
    rng = random.Random(seed)
    vocabulary = Vocabulary(rng)
    write_small_files(tree, rng, vocabulary, 1500)
    copy_libraries(tree, rng, 40)
    write_text_files(tree, rng, vocabulary, 20 * 1000 * 1000)
    for index in range(8):
        write_file(os.path.join(tree, "noise", "noise%d.bin" % index), rng.randbytes(1000 * 1000))


def build_packing_corpus(tree, seed):
    """About 56 MB: seq 1 2000000 as one file, 200 decompressed /usr/share/doc .gz files as one,
    40 shared libraries under 2 MB, 1,500 text files of 100 to 4,200 bytes, 8 MiB of noise."""
    rng = random.Random(seed)
    write_file(os.path.join(tree, "seq.txt"),
               "".join("%d\n" % n for n in range(1, 2000001)).encode("ascii"))
    docs = sorted(glob.glob("/usr/share/doc/*/*.gz"))[:200]
    with open(os.path.join(tree, "docs.txt"), "wb") as out:
        for path in docs:
            with gzip.open(path, "rb") as handle:
                out.write(handle.read())
    folder = BINARY_FOLDERS["lib"]
    libraries = sorted(entry.path for entry in os.scandir(folder)
                       if entry.is_file(follow_symlinks=False) and ".so" in entry.name
                       and entry.stat().st_size < 2000000 and is_elf_binary(entry.path))[:40]
    for path in libraries:
        write_file(os.path.join(tree, "libs", os.path.basename(path)), open(path, "rb").read())
    vocabulary = Vocabulary(rng)
    for index in range(1500):
        write_file(os.path.join(tree, "small", "f%04d.txt" % index),
                   vocabulary.text(rng, rng.randint(100, 4200)))
    write_file(os.path.join(tree, "random.bin"), rng.randbytes(8 * MIB))


def build_large_tree(tree, size_mib, seed):
    """--size-mib MiB (312 for the full size): 40% noise, 34% prose, 16% logs, 10% executables
    and libraries, in files of 1 to 8 MiB."""
    rng = random.Random(seed)
    vocabulary = Vocabulary(rng)
    size = size_mib * MIB

    def files(kind, budget, make):
        used, index = 0, 0
        while used < budget:
            part = min(rng.randint(1 * MIB, 8 * MIB), budget - used)
            write_file(os.path.join(tree, kind, "%s%03d.%s" % (kind, index, "txt")), make(part))
            used, index = used + part, index + 1

    def logs(part):
        lines, used, second = [], 0, 1700000000
        while used < part:
            second += rng.randint(0, 3)
            line = "%s host%02d %s[%d]: %s %s\n" % (
                time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(second)), rng.randint(1, 12),
                rng.choice(["sshd", "cron", "kernel", "nginx", "systemd"]),
                rng.randint(100, 40000), rng.choice(["INFO", "WARN", "ERROR", "DEBUG"]),
                " ".join(rng.choices(vocabulary.words[:400], k=rng.randint(3, 12))))
            lines.append(line)
            used += len(line)
        return "".join(lines).encode("ascii")[:part]

    files("noise", size * 40 // 100, rng.randbytes)
    files("prose", size * 34 // 100, lambda part: vocabulary.text(rng, part))
    files("logs", size * 16 // 100, logs)
    copy_binaries(tree, rng, size * 10 // 100)


TREES = {"bench": "the mixed tree of --size-mib", "mixed": "about 52 MB, --size-mib ignored",
         "corpus": "the packing corpus, about 56 MB, --size-mib ignored",
         "large": "noise, prose, logs and libraries, --size-mib (312 for the full size)"}


def build_tree(kind, tree, size_mib, seed):
    if kind == "mixed":
        build_mixed_corpus(tree, seed)
    elif kind == "corpus":
        build_packing_corpus(tree, seed)
    elif kind == "large":
        build_large_tree(tree, size_mib, seed)
    else:
        build_corpus(tree, size_mib, seed)


def build_corpus(tree, size_mib, seed):
    rng = random.Random(seed)
    vocabulary = Vocabulary(rng)
    size = size_mib * MIB
    write_text_files(tree, rng, vocabulary, size // 10)
    copy_binaries(tree, rng, size // 4)
    write_small_files(tree, rng, vocabulary, max(1, SMALL_FILES_AT_100_MIB * size_mib // 100))
    write_large_file(tree, rng, vocabulary, size * 45 // 100)


def list_tree(folder):
    """Relative path -> absolute path of every regular file under folder."""
    files = {}
    for parent, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(parent, name)
            files[os.path.relpath(path, folder)] = path
    return files


def pack_archives(tree, archive_folder, formats):
    """Packs the tree once per format; a format whose packer is missing is left out."""
    members = sorted(os.listdir(tree))
    archives = {}
    for fmt in formats:
        program, command = PACKERS[fmt]
        if not shutil.which(program):
            log("skipping %s: %s is not installed" % (fmt, program))
            continue
        out = os.path.join(archive_folder, "%s.%s" % (ARCHIVE_BASE, fmt))
        if not os.path.exists(out):  # else kept from an earlier run with --keep
            log("packing %s with %s" % (fmt, program))
            partial = os.path.join(archive_folder, "partial", os.path.basename(out))
            os.makedirs(os.path.dirname(partial), exist_ok=True)
            subprocess.run(command(partial, members), cwd=tree, check=True,
                           stdout=subprocess.DEVNULL)
            os.rename(partial, out)
        archives[fmt] = out
    return archives


def become_subreaper():
    """Orphaned grandchildren are handed to this process, so it can wait4 them."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")


def time_process(command, env, stderr_path):
    """Runs command; returns (wall seconds, rusage, exit status, stderr text).

    A process forked from Python starts with Python's resident size as its max RSS, so the
    command is forked by a small shell instead, which prints its id and exits; the command is
    then reaped here (we are its subreaper) with its own rusage.
    """
    start = time.perf_counter()
    launcher = subprocess.Popen(["sh", "-c", LAUNCH, stderr_path] + command, env=env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
    pid = int(launcher.communicate()[0])
    _, status, usage = os.wait4(pid, 0)
    seconds = time.perf_counter() - start
    with open(stderr_path, "rb") as stderr:
        message = stderr.read().decode("utf-8", "replace").strip()
    return seconds, usage, os.waitstatus_to_exitcode(status), message


def check_extraction(destination, source_files, full):
    """None when destination holds the same names and sizes (and bytes, if full) as the source."""
    found = list_tree(destination)
    if found.keys() != source_files.keys():
        missing, extra = source_files.keys() - found.keys(), found.keys() - source_files.keys()
        return "%d files missing, %d unexpected (e.g. %s)" % (
            len(missing), len(extra), sorted(missing or extra)[0])
    for name, path in source_files.items():
        if os.path.getsize(found[name]) != os.path.getsize(path):
            return "%s: size differs" % name
        if full and file_digest(found[name]) != file_digest(path):
            return "%s: content differs" % name
    return None


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as handle:
        for chunk in iter(lambda: handle.read(MIB), b""):
            digest.update(chunk)
    return digest.digest()


def run_tool(result, command_for, scratch, source_files, verify, timed):
    """One run into a fresh folder, its output checked; False once the tool has failed."""
    home = tempfile.mkdtemp(prefix="run-", dir=scratch)
    os.makedirs(os.path.join(home, "Desktop"))
    os.makedirs(os.path.join(home, "out"))
    command, destination = command_for(home)
    env = {"PATH": os.environ.get("PATH", ""), "HOME": home, "LC_ALL": "C"}
    os.sync()  # write back the previous run's files before the clock starts
    seconds, usage, status, message = time_process(
        command, env, os.path.join(scratch, "stderr.txt"))
    # Parvo reports a failing library with a message and goes on; peers use the status.
    if status != 0 or (result.tool.startswith("parvo") and message):
        result.error = "exit status %d: %s" % (status, (message.splitlines() or [""])[0])
    else:
        result.error = check_extraction(destination, source_files, verify)
    # Outputs stay until the end: on ext4 without a journal, files created soon after
    # thousands were deleted pay for skipping the recently freed inodes.
    if result.error:
        return False
    if timed:
        result.seconds.append(seconds)
        result.user_seconds.append(usage.ru_utime)
        result.system_seconds.append(usage.ru_stime)
    result.peak_kib = max(result.peak_kib, usage.ru_maxrss)  # KiB on Linux
    return True


def measure_format(fmt, archive, parvo, scratch, source_files, args):
    """One untimed warm-up per tool, then --runs rounds in which every tool runs once, the order
    reversed each round, so that Parvo and each peer are timed in alternating pairs under the
    same load."""
    tools = [(label, lambda home, program=program: (
        [program, archive], os.path.join(home, "Desktop", ARCHIVE_BASE)))
        for label, program in [("parvo", parvo)] + ([(BEFORE, args.before)] if args.before else [])]
    for label, program, command in PEERS[fmt]:
        if shutil.which(program):
            tools.append((label, lambda home, c=command: (
                c(archive, os.path.join(home, "out")), os.path.join(home, "out"))))
        else:
            log("skipping %s for %s: not installed" % (label, fmt))
    results = {label: Measurement(fmt, label) for label, _ in tools}
    log("timing %s: %s" % (fmt, ", ".join(results)))
    for label, command_for in tools:
        run_tool(results[label], command_for, scratch, source_files, args.verify, False)
    for round_index in range(args.runs):
        for label, command_for in (tools if round_index % 2 == 0 else tools[::-1]):
            if not results[label].error:
                run_tool(results[label], command_for, scratch, source_files, False, True)
    return list(results.values())


def cpu_seconds(row):
    return [user + system for user, system in zip(row.user_seconds, row.system_seconds)]


def print_table(results, archives):
    """Medians of the alternating runs. Wall time decides the goal; CPU time (user + system) is
    steadier on a busy machine."""
    print("%-4s %-10s %7s %7s %7s %7s %8s %6s %6s %6s" % (
        "fmt", "tool", "med s", "worst s", "cpu s", "user s", "peak MiB", "ratio", "cpu r",
        "<=%.1f?" % GOAL_RATIO))
    for fmt in archives:
        rows = [r for r in results if r.format == fmt]
        peers = [r for r in rows if not r.tool.startswith("parvo") and not r.error]
        before = [r for r in rows if r.tool == BEFORE and not r.error]
        fastest = min((statistics.median(r.seconds) for r in peers), default=None)
        fastest_cpu = min((statistics.median(cpu_seconds(r)) for r in peers), default=None)
        for row in rows:
            if row.error:
                print("%-4s %-10s FAILED: %s" % (fmt, row.tool, row.error))
                continue
            median = statistics.median(row.seconds)
            cpu = statistics.median(cpu_seconds(row))
            ratio = cpu_ratio = goal = ""
            if row.tool == "parvo" and fastest:
                ratio = "%.2f" % (median / fastest)
                cpu_ratio = "%.2f" % (cpu / fastest_cpu)
                goal = "yes" if median <= GOAL_RATIO * fastest else "NO"
            print("%-4s %-10s %7.2f %7.2f %7.2f %7.2f %8.1f %6s %6s %6s" % (
                fmt, row.tool, median, max(row.seconds), cpu,
                statistics.median(row.user_seconds), row.peak_kib / 1024, ratio, cpu_ratio, goal))
        print("%-4s (archive %.1f MiB)" % ("", os.path.getsize(archives[fmt]) / MIB))
        parvo = [r for r in rows if r.tool == "parvo" and not r.error]
        if before and parvo:
            print("%-4s parvo / %s: wall %.2f, cpu %.2f" % (
                "", BEFORE, statistics.median(parvo[0].seconds) / statistics.median(before[0].seconds),
                statistics.median(cpu_seconds(parvo[0])) / statistics.median(cpu_seconds(before[0]))))


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size-mib", type=int, default=100, help="tree size (default 100)")
    parser.add_argument("--runs", type=int, default=5,
                        help="alternating rounds, each timing every tool once (default 5)")
    parser.add_argument("--tree", choices=sorted(TREES), default="bench",
                        help="; ".join("%s: %s" % item for item in sorted(TREES.items())))
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--verify", action="store_true",
                        help="also compare every extracted file's SHA-256 with the source")
    parser.add_argument("--formats", default="zip,tar,lzh,cab,arj")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--no-build", action="store_true", help="use the parvo already built")
    parser.add_argument("--keep", help="work in this folder and leave it (tree and archives)")
    parser.add_argument("--before", help="another built parvo, timed in the same rounds")
    args = parser.parse_args()
    args.formats = [f for f in args.formats.split(",") if f]
    unknown = set(args.formats) - PACKERS.keys()
    if unknown or args.runs < 1 or args.size_mib < 1:
        parser.error("bad --formats, --runs or --size-mib")
    return args


def main():
    args = parse_arguments()
    become_subreaper()
    parvo = os.path.join(os.path.abspath(args.build_dir), "bin", "parvo")
    if not args.no_build:
        parvo = build_parvo(os.path.abspath(args.build_dir))
    work = os.path.abspath(args.keep) if args.keep else tempfile.mkdtemp(prefix="parvo-bench-")
    tree, archive_folder, scratch = (os.path.join(work, name)
                                     for name in ("tree", "archives", "scratch"))
    try:
        for folder in (archive_folder, scratch):
            os.makedirs(folder, exist_ok=True)
        if not os.path.isdir(tree):
            log("building the %s tree" % args.tree)
            build_tree(args.tree, tree, args.size_mib, args.seed)
        source_files = list_tree(tree)
        log("%d files, %.1f MiB" % (len(source_files), sum(
            os.path.getsize(p) for p in source_files.values()) / MIB))
        archives = pack_archives(tree, archive_folder, args.formats)
        results = []
        for fmt, archive in archives.items():
            results += measure_format(fmt, archive, parvo, scratch, source_files, args)
        print_table(results, archives)
        return 1 if any(r.error for r in results) else 0
    finally:
        shutil.rmtree(work if not args.keep else scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
