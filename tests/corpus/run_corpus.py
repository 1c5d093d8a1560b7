#!/usr/bin/env python3
"""Drops every archive of the shared corpus on the built parvo and holds the result against the
corpus manifest.

Each archive runs in a fresh temporary folder, in a process of its own with a time limit.
Expectations: ok (exactly the listed files with these SHA-256 sums), error (a non-zero result with
a message), contained and any (no crash, no hang, nothing written outside the archive's folder).
Archives named in the known-failures file are reported but do not fail the run.
"""
import argparse
import hashlib
import os
import subprocess
import sys
import tempfile
from collections import defaultdict
from concurrent.futures import ThreadPoolExecutor

TIMEOUT_SECONDS = 300  # a hang, not slowness: the 4.4 GiB member takes over a minute under ASan
SKIPPED = 77  # the exit status CTest is told means "skipped"


def read_manifest(path):
    expectations, files = {}, defaultdict(dict)
    with open(path, encoding="utf-8") as manifest:
        for line in manifest:  # comments and blank lines are neither kind
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "A":
                expectations[fields[1]] = fields[2]
            elif fields[0] == "F":
                files[fields[1]][fields[2]] = fields[3]
    return expectations, files


def sha256(path):
    with open(path, "rb") as stream:
        return hashlib.file_digest(stream, "sha256").hexdigest()


def inside(path, folder):
    path, folder = os.path.normpath(path), os.path.normpath(folder)
    return path == folder or path.startswith(folder + os.sep)


def survey(root, destination):
    """Regular files under destination, and everything written outside it."""
    found, outside = {}, []
    for folder, subfolders, names in os.walk(root):
        for name in subfolders + names:
            path = os.path.join(folder, name)
            if not inside(path, destination):
                if not inside(destination, path):  # not one of the folders leading to it
                    outside.append(path)
                continue
            if os.path.islink(path):
                target = os.path.join(os.path.dirname(path), os.readlink(path))
                if not inside(os.path.realpath(target), os.path.realpath(destination)):
                    outside.append(path + " -> " + os.readlink(path))
            elif os.path.isfile(path):
                relative = os.path.relpath(path, destination)
                found[relative.encode("utf-8", "surrogateescape").decode("utf-8", "replace")] = path
    return found, outside


def judge(name, expect, expected_files, args):
    with tempfile.TemporaryDirectory(prefix="parvo-corpus-") as root:
        home = os.path.join(root, "home")
        os.makedirs(home)
        env = {"PATH": os.environ.get("PATH", ""), "HOME": home, "LC_ALL": "C"}
        if "PARVO_LANDING_THREADS" in os.environ:  # the same results at any count
            env["PARVO_LANDING_THREADS"] = os.environ["PARVO_LANDING_THREADS"]
        try:
            # A session of its own has no terminal to ask an encrypted archive's password on.
            process = subprocess.run([args.parvo, os.path.join(args.corpus, name)], env=env,
                                     cwd=root, capture_output=True, start_new_session=True,
                                     timeout=TIMEOUT_SECONDS)
        except subprocess.TimeoutExpired:
            return "hang"
        message = process.stderr.decode("utf-8", "replace").strip()
        # Parvo shows nothing on success, and ends with status 2 when a job failed.
        if process.returncode not in (0, 2):
            return "crash" + (": " + message[-200:] if message else "")
        failed = process.returncode == 2 or bool(message)
        base = os.path.basename(name).lstrip(".").split(".")[0]
        found, outside = survey(root, os.path.join(home, "Desktop", base))
        if outside:
            return "wrote outside its folder: " + ", ".join(outside[:3])
        if expect == "ok":
            if failed:
                return "reported an error: " + message[:200]
            missing = sorted(set(expected_files) - set(found))
            extra = sorted(set(found) - set(expected_files))
            if missing or extra:
                return f"files differ: missing {missing[:3]} extra {extra[:3]}"
            for path, digest in expected_files.items():
                if sha256(found[path]) != digest:
                    return "content differs: " + path
        elif expect == "error" and not message:  # a message is always a failure
            return "no error reported"
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--corpus", required=True, type=os.path.abspath)
    parser.add_argument("--parvo", required=True, type=os.path.abspath)
    parser.add_argument("--known-failures")
    args = parser.parse_args()

    if not os.path.isfile(os.path.join(args.corpus, "MANIFEST.tsv")):
        print("corpus not present: skipped")
        return SKIPPED
    expectations, files = read_manifest(os.path.join(args.corpus, "MANIFEST.tsv"))
    known = {}
    if args.known_failures and os.path.exists(args.known_failures):
        with open(args.known_failures, encoding="utf-8") as listing:
            for line in listing:
                if line.strip() and not line.startswith("#"):
                    name, _, reason = line.strip().partition(" ")
                    known[name] = reason.strip()

    chosen = sorted(expectations.items())
    with ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        problems = pool.map(lambda item: judge(*item, files.get(item[0], {}), args), chosen)
    tally = defaultdict(lambda: [0, 0])
    failures, known_seen, fixed = [], [], []
    for (name, expect), problem in zip(chosen, problems):
        tally[name.split("/")[0]][0 if problem is None else 1] += 1
        if problem is None:
            if name in known:
                fixed.append(name)
        elif name in known:
            known_seen.append(f"{name} ({known[name]}): {problem}")
        else:
            failures.append(f"{name} [{expect}]: {problem}")

    for kind, (good, bad) in sorted(tally.items()):
        print(f"{kind}: {good} of {good + bad} as the manifest says")
    for line in failures:
        print("FAIL " + line)
    for line in known_seen:
        print("known failure: " + line)
    for name in fixed:
        print(f"now passes, drop it from the known failures: {name}")
    passed = sum(good for good, _ in tally.values())
    print(f"{passed} passed, {len(failures)} failed, {len(known_seen)} skipped")
    return 1 if failures or fixed else 0


if __name__ == "__main__":
    sys.exit(main())
