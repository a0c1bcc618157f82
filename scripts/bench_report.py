#!/usr/bin/env python3
"""Turns the raw lines of scripts/bench.sh ("PLACE RUN KEY VALUE") into the tables it
prints and keeps in docs/benchmarks.md."""
import collections
import datetime
import statistics
import sys

results, size, cores, memory, wine, machine, fast, target = sys.argv[1:9]
size = int(size)
values = collections.defaultdict(list)
runs = collections.defaultdict(dict)
notes = {}
for line in open(results):
    parts = line.split()
    if len(parts) == 3 and parts[0] == "-":
        notes[parts[1]] = parts[2]
        continue
    if len(parts) != 4:
        continue
    place, run, key, value = parts
    try:
        number = float(value)
    except ValueError:
        notes[key] = value
        continue
    if number < 0:  # a figure the program could not take
        continue
    values[(place, key)].append(number)
    if run.isdigit():
        runs[(place, int(run))][key] = number

nan = float("nan")
blocks = size / 512


def spread(v):
    if not v:
        return nan, nan, nan, 0
    return statistics.median(v), min(v), max(v), len(v)


def stats(place, key):
    return spread(values[(place, key)])


def one(place, key):
    v = values[(place, key)]
    return v[0] if v else nan


def rate(seconds):
    return size / seconds / 1e6


def run_ratios(place, faster, slower):
    """Per run, the speed of `slower` as a share of `faster`'s: faster's time / slower's."""
    return [r[faster] / r[slower] for (p, _), r in sorted(runs.items())
            if p == place and faster in r and slower in r and r[slower] > 0]


# machine: how 32-bit code ran, "natively" or "through qemu-i386"; fast: whether the
# preload of scripts/fast-syscalls.c was "in force", "off", or "none" (the qemu road).
if machine == "natively":
    road = ("32-bit code ran natively on this host's kernel; the fast kernel entry "
            f"(scripts/fast-syscalls.c preloaded) was {'in force' if fast == 'in force' else 'OFF'}")
else:
    road = f"32-bit code ran {machine}; no preload on that road (qemu makes the system calls itself)"
crossed = sorted({(p, r) for (p, r), v in runs.items() if any(k.startswith("foreign_entry_") for k in v)})
if crossed:
    road += ("; but another run's qemu-i386 entry stood during the turns of "
             + ", ".join(f"{p} run {r}" for p, r in crossed) + ", so some of their 32-bit processes went through qemu")
measured = ("the shipped 32-bit Kestrand.exe against a 32-bit bare loop doing the same work, all under "
            "Wine's 32-bit loader")

out = []
out.append(f"Measured: {measured}.")
out.append("")
head = ["Place", "What", "Runs", "Median", "Min", "Max", "Median MB/s"]
rows = []
ratios = {}
what_of = (("split_seconds", "split through the window"),
           ("threaded_loop_seconds", "loop on a thread beside a window"),
           ("plain_loop_seconds", "loop, process never had a thread"),
           ("unchecked_loop_seconds", "loop on a thread, no read-back"),
           ("bare_loop_seconds", "loop on a thread, no hash, no read-back"))
for place in ("disk", "tmpfs"):
    for key, what in what_of:
        m, lo, hi, n = stats(place, key)
        rows.append([place, what, str(n), f"{m:.2f} s", f"{lo:.2f} s", f"{hi:.2f} s", f"{rate(m):.1f}"])
    # Median: the ratio of the median speeds; min and max: the runs' own ratios, the spread.
    for faster, slower, what in (("threaded_loop_seconds", "split_seconds", "split / threaded loop"),
                                 ("plain_loop_seconds", "threaded_loop_seconds",
                                  "threaded loop / never-threaded loop"),
                                 ("unchecked_loop_seconds", "split_seconds",
                                  "split / loop without the read-back"),
                                 ("unchecked_loop_seconds", "threaded_loop_seconds",
                                  "threaded loop / loop without the read-back"),
                                 ("bare_loop_seconds", "split_seconds", "split / loop neither hashing nor checking"),
                                 ("bare_loop_seconds", "threaded_loop_seconds",
                                  "threaded loop / loop neither hashing nor checking")):
        single = run_ratios(place, faster, slower)
        m = stats(place, faster)[0] / stats(place, slower)[0]
        _, lo, hi, n = spread(single)
        if faster == "threaded_loop_seconds" and slower == "split_seconds":
            ratios[place] = (m, lo, hi, spread(single)[0])
        rows.append([place, what + " (speed)", str(n), f"{m:.3f}", f"{lo:.3f}", f"{hi:.3f}", ""])
widths = [max(len(r[i]) for r in rows + [head]) for i in range(len(head))]


def line(cells):
    return "| " + " | ".join(c.ljust(w) for c, w in zip(cells, widths)) + " |"


table = [line(head), "|" + "|".join("-" * (w + 2) for w in widths) + "|"] + [line(r) for r in rows]
out += table
out.append("")
out.append("A ratio's median is that of the median speeds, its minimum and maximum those of single "
           "runs (each against the same loop's run beside it).")

# The kernel's two entries, timed by the never-threaded loop's process after its copy.
int80 = spread(values[("disk", "int80_us")] + values[("tmpfs", "int80_us")])
vdso = spread(values[("disk", "vdso_us")] + values[("tmpfs", "vdso_us")])
per_block = {(p, k): stats(p, k)[0] / blocks * 1e6 for p in ("disk", "tmpfs")
             for k in ("threaded_loop_seconds", "plain_loop_seconds")}
out.append("")
out.append("| Kernel entry of a 32-bit process (getpid) | Probes | Median | Min | Max |")
out.append("|---|---|---|---|---|")
out.append(f"| `int $0x80` | {int80[3]} | {int80[0]:.3f} µs | {int80[1]:.3f} µs | {int80[2]:.3f} µs |")
out.append(f"| vDSO (`sysenter`/`syscall`) | {vdso[3]} | {vdso[0]:.3f} µs | {vdso[1]:.3f} µs | {vdso[2]:.3f} µs |")
out.append("")
tmpfs_blocks = (per_block[("tmpfs", "threaded_loop_seconds")], per_block[("tmpfs", "plain_loop_seconds")])
why = (f"Why the two loops can differ here: a kernel entry by `int $0x80` took {int80[0]:.2f} µs on this "
       f"host and one through the vDSO {vdso[0]:.2f} µs, and the root's 32-bit glibc makes every read "
       "and write by `int $0x80` once a process has had a second thread, two entries per 512-byte block. ")
if fast == "in force":
    why += ("The preload puts those calls back on the vDSO, so on tmpfs a block cost "
            f"{tmpfs_blocks[0]:.2f} µs on the thread and {tmpfs_blocks[1]:.2f} µs in the never-threaded "
            "process (median runs).")
else:
    why += (f"Without the preload a block on tmpfs cost {tmpfs_blocks[0]:.2f} µs on the thread against "
            f"{tmpfs_blocks[1]:.2f} µs in the never-threaded process (median runs).")
out.append(why)

out.append("")
out.append("The same runs counted in processor time (user and system, as Linux counts it in /proc) "
           "instead of wall time: the work each side did, whatever else the shared cores were "
           "busy with. The split's is that of the whole Kestrand.exe process over the same "
           "intervals, its window answering the bench's samples included; the driver's is the "
           "bench's own, which the loops do not have.")
out.append("")
out.append("| Place | What | Median | Min | Max |")
out.append("|---|---|---|---|---|")
cpu_ratios = {}
for place in ("disk", "tmpfs"):
    for key, what in (("split_cpu_seconds", "Kestrand.exe during the split"),
                      ("threaded_loop_cpu_seconds", "loop on a thread beside a window"),
                      ("plain_loop_cpu_seconds", "loop, process never had a thread"),
                      ("driver_cpu_seconds", "the bench driving the split")):
        m, lo, hi, n = stats(place, key)
        out.append(f"| {place} | {what} | {m:.2f} s | {lo:.2f} s | {hi:.2f} s |")
    cpu_ratios[place] = stats(place, "threaded_loop_cpu_seconds")[0] / stats(place, "split_cpu_seconds")[0]
    out.append(f"| {place} | threaded loop / split (ratio of the medians) | {cpu_ratios[place]:.3f} | | |")

out.append("")
out.append("Every run, in the order made (seconds; each one's pieces in brackets):")
out.append("")
detail = ["| Place | Run | Order | Split (1 + 2) | Threaded loop (1 + 2) | Never-threaded loop (1 + 2) "
          "| Loop without read-back (1 + 2) | Loop neither hashing nor checking (1 + 2) |",
          "|---|---|---|---|---|---|---|---|"]


def timed(r, prefix):
    return (f"{r.get(prefix + 'seconds', nan):.2f} ({r.get(prefix + 'piece1_seconds', nan):.2f} + "
            f"{r.get(prefix + 'piece2_seconds', nan):.2f})")


for (place, run) in sorted(runs, key=lambda k: (k[0] != "disk", k[1])):
    r = runs[(place, run)]
    if "split_seconds" not in r:
        continue
    order = sorted(("split", "threaded", "plain", "unchecked", "bare"), key=lambda w: r.get("order_" + w, 9))
    detail.append(f"| {place} | {run} | {', '.join(order)} | {timed(r, 'split_')} | "
                  f"{timed(r, 'threaded_loop_')} | {timed(r, 'plain_loop_')} | {timed(r, 'unchecked_loop_')} | "
                  f"{timed(r, 'bare_loop_')} |")
out += detail

answers = values[("disk", "answer_median_ms")] + values[("tmpfs", "answer_median_ms")]
answer_max = values[("disk", "answer_max_ms")] + values[("tmpfs", "answer_max_ms")]
peaks = values[("disk", "peak_working_set")] + values[("tmpfs", "peak_working_set")]
identical = (values[("disk", "pieces_identical")] + values[("tmpfs", "pieces_identical")])
scripts = values[("disk", "script_written")] + values[("tmpfs", "script_written")]
kept = [
    ("Pieces of every run joined natively, identical to the source",
     "yes" if identical and all(identical) else "NO"),
    ("Joining script written by every split", "yes" if scripts and all(scripts) else "NO"),
    ("Joining script under Wine's cmd.exe rebuilds the source",
     "yes" if values[("tmpfs", "rejoin_identical")] == [1.0] else "NO"),
    ("Window answer time while copying, median of the runs' medians",
     f"{statistics.median(answers):.2f} ms" if answers else "none"),
    ("Window answer time while copying, maximum", f"{max(answer_max):.2f} ms" if answer_max else "none"),
    ("Gauge levels seen rising in the 999,999,999-byte piece (then the full fill)",
     f"{one('tmpfs', 'profile_band_levels_seen'):.0f}, up to level "
     f"{one('tmpfs', 'profile_last_level_seen'):.0f} of 51"),
    ("Peak working set of Kestrand.exe", f"{max(peaks) / 1048576:.1f} MiB" if peaks else "none"),
]
checks = [stats(p, "threaded_loop_check_seconds")[0] for p in ("disk", "tmpfs")]
before = one("disk", "probe_cached_before")
after_unbuffered = one("disk", "probe_cached_after_unbuffered")
after_buffered = one("disk", "probe_cached_after_buffered")
if after_buffered > 0 and before == 0:
    honoured = ("no: the unbuffered read left the file in the page cache, so under this Wine the "
                "read-back came from the cache, not the disk" if after_unbuffered > 0 else
                "yes: the unbuffered read left nothing in the page cache, so it went to the disk")
else:
    honoured = "not settled: the page cache could not be seen or emptied here"
kept.append(("Wine passes FILE_FLAG_NO_BUFFERING on to the bench's disk (a 64 MiB file read "
             f"unbuffered: cached bytes {before:.0f} before, {after_unbuffered:.0f} after; read "
             f"buffered: {after_buffered:.0f})", honoured))
out.append("")
out.append(f"The read-back of the threaded loop took {checks[0]:.2f} s of its run on disk and "
           f"{checks[1]:.2f} s on tmpfs (medians of the runs).")
out.append("")
out.append("| What | Result |")
out.append("|---|---|")
out += [f"| {a} | {b} |" for a, b in kept]

out.append("")
out.append("Where the time goes: the real window hosted in one process, one 999,999,999-byte "
           "piece by the real piece writer after the same piece by the bare loop, then the "
           "costs around the copy one by one:")
out.append("")
out.append("| What | disk | tmpfs |")
out.append("|---|---|---|")
profile = [
    ("Bare loop before any thread, piece 1 (flush included)", "profile_loop_seconds", "{:.2f} s"),
    ("  of which the flush", "profile_loop_flush_seconds", "{:.2f} s"),
    ("  per 512-byte block", "profile_loop_block_us", "{:.2f} µs"),
    ("  processor time", "profile_loop_cpu_seconds", "{:.2f} s"),
    ("Real piece writer, piece 1, from Ok to the next destination offered", "profile_writer_seconds", "{:.2f} s"),
    ("  processor time (the whole process)", "profile_writer_cpu_seconds", "{:.2f} s"),
    ("Starting a thread (_beginthread to its first instruction)", "profile_thread_start_us", "{:.0f} µs"),
    ("One band of the gauge", "profile_band_us", "{:.0f} µs"),
    ("The full gauge", "profile_full_gauge_us", "{:.0f} µs"),
    ("A message sent from another thread, answered", "profile_send_us", "{:.0f} µs"),
    ("A repaint of the whole window", "profile_repaint_us", "{:.0f} µs"),
]
for what, key, fmt in profile:
    out.append(f"| {what} | {fmt.format(one('disk', key))} | {fmt.format(one('tmpfs', key))} |")
writer = {p: one(p, "profile_writer_seconds") for p in ("disk", "tmpfs")}
loop1 = {p: one(p, "profile_loop_seconds") for p in ("disk", "tmpfs")}
out.append(f"| writer / loop (speed) | {loop1['disk'] / writer['disk']:.3f} | "
           f"{loop1['tmpfs'] / writer['tmpfs']:.3f} |")
cpu_loop = {p: one(p, "profile_loop_cpu_seconds") for p in ("disk", "tmpfs")}
cpu_writer = {p: one(p, "profile_writer_cpu_seconds") for p in ("disk", "tmpfs")}
out.append(f"| loop / writer (processor time) | {cpu_loop['disk'] / cpu_writer['disk']:.3f} | "
           f"{cpu_loop['tmpfs'] / cpu_writer['tmpfs']:.3f} |")
out.append(f"| Running under WoW64 | {'yes' if one('disk', 'profile_wow64') else 'no'} | "
           f"{'yes' if one('tmpfs', 'profile_wow64') else 'no'} |")

out.append("")
for place in ("disk", "tmpfs"):
    levels = one(place, "profile_band_levels_seen")
    around = (one(place, "profile_thread_start_us") + levels * one(place, "profile_band_us") +
              one(place, "profile_full_gauge_us") + one(place, "profile_send_us") +
              one(place, "profile_repaint_us")) / 1e6
    out.append(f"On {place}, what the writer does around the copy of the first piece (a thread "
               f"start, {levels:.0f} bands, the full gauge, the notification and a whole repaint "
               f"for the one it causes) adds up to {around * 1000:.1f} ms, "
               f"{around / one(place, 'profile_loop_seconds') * 100:.2f} % of the bare loop's "
               "time for that piece.")
out.append("")
if machine != "natively":
    out.append("32-bit code ran under qemu-i386 (this kernel runs none, or the run was told not to), "
               "so the split and the loops all did: the ratios hold the program against the same "
               "platform cost, but the speeds are the emulator's, not a Windows machine's.")
    out.append("")
for place in ("tmpfs", "disk"):
    m, lo, hi, per_run = ratios[place]
    holds = "holds" if m >= 0.95 else "does NOT hold"
    out.append(f"On {place}, 0.95 {holds}: the split runs at {m:.3f} of the threaded loop's speed "
               f"(ratio of the medians; single runs {lo:.3f} to {hi:.3f}, their median {per_run:.3f}; "
               f"processor time {cpu_ratios[place]:.3f}).")
out.append("")
out.append(f"Load average before and after: {notes.get('load_before', '?')}, {notes.get('load_after', '?')}.")

text = "\n".join(out)
print(text)
with open(target, "w") as doc:
    doc.write("# Benchmarks\n\n")
    doc.write(f"{road[0].upper()}{road[1:]}.\n\n")
    doc.write(f"Measured by `make bench` on {datetime.date.today().isoformat()}: "
              f"{cores} cores shared with other work, {memory} of memory, {wine}. "
              "A 1 GiB file of random bytes cut into 999,999,999 bytes and the rest, in the "
              "same folder by each. The split and the loops take turns, which goes first "
              "turning too; before every run the previous outputs are deleted, `sync` runs "
              "and the source is read into the page cache. All flush each piece before "
              "closing it. Times are taken inside the Windows programs, so Wine's start-up is "
              "outside them; the split's time runs from the press of \"Ok\" at a piece's size "
              "to the next destination offered (for the last piece: to the window's end, "
              "the joining script written).\n\n")
    doc.write(text + "\n")
