#!/usr/bin/env python3
"""Turns the raw lines of scripts/bench.sh into the table it prints and keeps."""
import collections
import datetime
import statistics
import sys

results, size, cores, memory, wine, target = sys.argv[1:7]
size = int(size)
values = collections.defaultdict(list)
for line in open(results):
    parts = line.split()
    if len(parts) == 3:
        values[parts[1]].append(float(parts[2]))


def med(key):
    return statistics.median(values[key]) if values[key] else float("nan")


def rate(seconds):
    return size / seconds / 1e6


split = rate(med("split_seconds"))
loop = rate(med("copy_seconds"))
dd = rate(med("dd_seconds"))
cat = rate(med("cat_seconds"))
rejoin = rate(med("rejoin_seconds"))
catjoin = rate(med("catjoin_seconds"))
runs = len(values["split_seconds"])
rows = [
    ("Split through the window (2 pieces)", f"{split:.1f} MB/s"),
    ("Bare 512-byte ReadFile/WriteFile loop, same Wine", f"{loop:.1f} MB/s"),
    ("dd bs=512, native", f"{dd:.1f} MB/s"),
    ("cat, native", f"{cat:.1f} MB/s"),
    ("split / bare loop", f"{split / loop:.3f}"),
    ("split / dd bs=512", f"{split / dd:.3f}"),
    ("split / cat", f"{split / cat:.3f}"),
    ("Rejoin script under cmd.exe", f"{rejoin:.1f} MB/s"),
    ("cat of the pieces, native", f"{catjoin:.1f} MB/s"),
    ("rejoin / cat", f"{rejoin / catjoin:.3f}"),
    ("Rejoined file identical to the source", "yes" if all(values["rejoin_identical"]) else "NO"),
    ("Window answer time while copying, median", f"{med('answer_median_ms'):.2f} ms"),
    ("Window answer time while copying, maximum", f"{max(values['answer_max_ms'] or [float('nan')]):.2f} ms"),
    ("Gauge fills for the 999,999,999-byte piece", f"{int(med('fills_first_piece'))} (at most 52)"),
    ("Peak working set of Kestrand.exe", f"{max(values['peak_working_set'] or [0]) / 1048576:.1f} MiB"),
]
width = max(len(r[0]) for r in rows)
table = [f"| {'What':<{width}} | Median of {runs} runs |", f"|{'-' * (width + 2)}|{'-' * 20}|"]
table += [f"| {a:<{width}} | {b} |" for a, b in rows]
print("\n".join(table))
with open(target, "w") as doc:
    doc.write("# Benchmarks\n\n")
    doc.write(f"Measured by `make bench` on {datetime.date.today().isoformat()}: "
              f"{cores} cores, {memory} of memory, {wine}. A 1 GiB file of random bytes, "
              "page cache warm; throughput in decimal MB/s; every figure is the median of "
              f"{runs} runs made in the same run of the script, except the maxima.\n\n")
    doc.write("\n".join(table) + "\n")
