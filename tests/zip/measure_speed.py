#!/usr/bin/env python3
"""Times UnZip against unzip and bsdtar on a ~100 MiB mixed tree packed with `zip -r`.

  measure_speed.py --libdir build/NAME/lib [--runs 3] [--keep DIR]

The tree: text (headers), binaries (shared libraries), thousands of small files and one large
file. Each tool extracts into a fresh folder; the best of the runs is reported, after checking
that UnZip's output matches unzip's byte for byte.
"""
import argparse
import ctypes
import filecmp
import os
import random
import resource
import shutil
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20


def copy_files(source, target, budget, suffixes):
    used = 0
    for folder, _, names in sorted(os.walk(source)):
        for name in sorted(names):
            path = os.path.join(folder, name)
            if not name.endswith(suffixes) or os.path.islink(path) or not os.path.isfile(path):
                continue
            size = os.path.getsize(path)
            if size == 0 or used + size > budget:
                continue
            destination = os.path.join(target, os.path.relpath(path, source))
            os.makedirs(os.path.dirname(destination), exist_ok=True)
            shutil.copyfile(path, destination)
            used += size
            if used >= budget * 0.95:
                return used
    return used


def make_tree(root):
    generator = random.Random(7)
    copy_files("/usr/include", os.path.join(root, "text"), 30 * MIB, (".h", ".hpp", ""))
    copy_files("/usr/lib/x86_64-linux-gnu", os.path.join(root, "binaries"), 30 * MIB, (".so",))
    words = [bytes(generator.choices(b"abcdefghijklmnopqrstuvwxyz", k=generator.randint(2, 9)))
             for _ in range(2000)]
    for index in range(5000):
        folder = os.path.join(root, "small", f"d{index // 100:02}")
        os.makedirs(folder, exist_ok=True)
        body = b" ".join(generator.choices(words, k=generator.randint(20, 600)))
        with open(os.path.join(folder, f"f{index:04}.txt"), "wb") as stream:
            stream.write(body)
    with open(os.path.join(root, "large.bin"), "wb") as stream:
        for _ in range(25):
            stream.write(b" ".join(generator.choices(words, k=100000))[: MIB // 2])
            stream.write(generator.randbytes(MIB // 2))


def unzip_library(libdir):
    library = ctypes.CDLL(os.path.join(libdir, "libunzip32.so"))
    library.UnZip.restype = ctypes.c_int32
    library.UnZip.argtypes = [ctypes.c_int32, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32]
    return library.UnZip


def cpu_seconds():
    own, children = (resource.getrusage(who) for who in
                     (resource.RUSAGE_SELF, resource.RUSAGE_CHILDREN))
    return own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime


def timed(action, destination):
    """Wall and CPU seconds; the CPU figure is steadier on a busy machine."""
    shutil.rmtree(destination, ignore_errors=True)
    os.makedirs(destination)
    subprocess.run(["sync"], check=True)
    start, cpu = time.perf_counter(), cpu_seconds()
    action()
    return time.perf_counter() - start, cpu_seconds() - cpu


def same_trees(left, right):
    for folder, _, names in os.walk(left):
        for name in names:
            mine = os.path.join(folder, name)
            theirs = os.path.join(right, os.path.relpath(mine, left))
            if not os.path.isfile(theirs) or not filecmp.cmp(mine, theirs, shallow=False):
                return False
            if int(os.stat(mine).st_mtime) != int(os.stat(theirs).st_mtime):
                return False
    count = lambda root: sum(len(names) for _, _, names in os.walk(root))
    return count(left) == count(right)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--libdir", required=True)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--keep", help="folder for the tree and archive, reused when present")
    args = parser.parse_args()
    work = args.keep or tempfile.mkdtemp(prefix="parvo-speed-")
    tree, archive = os.path.join(work, "tree"), os.path.join(work, "corpus.zip")
    if not os.path.exists(archive):
        make_tree(tree)
        subprocess.run(["zip", "-q", "-r", archive, "."], cwd=tree, check=True)
    entry = unzip_library(os.path.abspath(args.libdir))
    output = ctypes.create_string_buffer(256)

    def ours(destination):
        line = f'-xv "{archive}" "{destination}/"'.encode()
        if entry(0, line, output, 256) != 0:
            sys.exit("UnZip failed: " + output.value.decode())

    tools = {
        "UnZip": ours,
        "unzip -q -o": lambda d: subprocess.run(["unzip", "-q", "-o", archive, "-d", d], check=True),
        "bsdtar -xf": lambda d: subprocess.run(["bsdtar", "-xf", archive, "-C", d], check=True),
    }
    size = os.path.getsize(archive)
    files = sum(len(names) for _, _, names in os.walk(tree)) if os.path.isdir(tree) else 0
    print(f"archive {size / MIB:.1f} MiB, {files} files")
    best = {}
    for _ in range(args.runs):
        for name, action in tools.items():
            destination = os.path.join(work, "out-" + name.split()[0])
            wall, cpu = timed(lambda: action(destination), destination)
            previous = best.get(name, (wall, cpu))
            best[name] = (min(previous[0], wall), min(previous[1], cpu))
    if not same_trees(os.path.join(work, "out-UnZip"), os.path.join(work, "out-unzip")):
        sys.exit("UnZip and unzip disagree")
    reference = best["unzip -q -o"]
    for name, (wall, cpu) in best.items():
        print(f"{name:12} wall {wall:6.2f} s ({wall / reference[0]:.2f}x unzip)"
              f"   cpu {cpu:6.2f} s ({cpu / reference[1]:.2f}x unzip)")
    if not args.keep:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
