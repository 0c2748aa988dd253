#!/usr/bin/env python3
"""Edges a fuzz corpus covers, per source file of ours.

Runs a libFuzzer target once over the given corpus folders (-runs=0
-print_coverage=1) and adds up libFuzzer's per-function edge counts by source
file: covered/total edges of every file under zip/, engine/, sfx/ and
platform/ linked into the target, then the sums by folder (or, with --files,
of the named files only). Used for the table in docs/fuzzing.md.

Usage: tools/fuzz-coverage.py build-fuzz/tests/fuzz_extract CORPUS... [--files engine/ZEArchive.cpp ...]
"""

import argparse
import collections
import os
import re
import subprocess

OURS = ("zip/", "engine/", "sfx/", "platform/")
LINE = re.compile(r"^(UN)?COVERED_FUNC: hits: \d+ edges: (\d+)/(\d+) .* (\S+):\d+$")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("target")
    ap.add_argument("corpus", nargs="+")
    ap.add_argument("--files", nargs="*", default=None,
                    help="only these files (paths relative to the source folder), with a sum")
    args = ap.parse_args()
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
    out = subprocess.run([args.target, "-runs=0", "-print_coverage=1", *args.corpus],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env).stdout
    edges = collections.defaultdict(lambda: [0, 0])
    for line in out.decode(errors="replace").splitlines():
        m = LINE.match(line)
        if not m:
            continue
        path = os.path.normpath(m.group(4))
        for root in OURS:
            at = path.find("/" + root)
            if at >= 0:
                rel = path[at + 1:]
                edges[rel][0] += int(m.group(2))
                edges[rel][1] += int(m.group(3))
                break
    wanted = args.files if args.files is not None else sorted(edges)
    covered = total = 0
    for f in wanted:
        c, t = edges.get(f, (0, 0))
        covered += c
        total += t
        print("%-40s %6d / %6d" % (f, c, t))
    if args.files:
        print("%-40s %6d / %6d" % ("sum", covered, total))
        return
    layers = collections.defaultdict(lambda: [0, 0])
    for f, (c, t) in edges.items():
        layers[f.split("/")[0]][0] += c
        layers[f.split("/")[0]][1] += t
    for layer, (c, t) in sorted(layers.items()):
        print("%-40s %6d / %6d" % (layer + "/ (all)", c, t))


if __name__ == "__main__":
    main()
