#!/usr/bin/env python3
"""clamd_bench.py: the measurements behind clamd.sh, printed as one Markdown table.

  clamd_bench.py --build DIR --work DIR --tree DIR [--hdb N] [--ndb N] [--runs N]

A database of the test databases plus N generated hash and body signatures; a
clamd of the run's own on it (docs/clamd-korbu.conf), started once. Then, each
pair alternating RUNS times after a warm-up, medians and their ratios: the time
to the first verdict (one small file) and korbu-scan's peak memory with its own
engine against clamd already running; the tree with the local engine (-j 2)
against korbu-scan --clamd with one and two workers and against clamdscan
--multiscan --fdpass; two korbu-scan --clamd clients at once against one alone.
"""
import argparse
import hashlib
import os
import signal
import statistics
import subprocess
import sys
import time

from clamscan_setup import ClamdFailed, clamd_server
from compare import Failed, kib_text, process_peak_kib, run_once, seconds_text, tree_summary

SCAN_ARGS = ["--no-memory", "--no-registry", "--no-cache", "--no-summary", "--quiet"]


def write_database(shared, folder, hdb, ndb):
    os.makedirs(folder)
    for name in ("main.cvd", "daily.cvd"):
        with open(os.path.join(shared, name), "rb") as src, open(os.path.join(folder, name), "wb") as dst:
            dst.write(src.read())
    with open(os.path.join(folder, "bench.hdb"), "w") as out:
        for i in range(hdb):
            out.write("%s:%d:Bench.Hash-%d\n" % (hashlib.md5(b"h%d" % i).hexdigest(), 1000 + i % 50000, i))
    with open(os.path.join(folder, "bench.ndb"), "w") as out:
        for i in range(ndb):
            out.write("Bench.Body-%d:0:*:%s\n" % (i, hashlib.sha1(b"n%d" % i).hexdigest()))


def measure(commands, runs, work):
    """Warm-up run of each, then runs alternating rounds: label -> (median s, median peak KiB)."""
    for label, command in commands:
        _, _, _, status = run_once(command, os.devnull, work)
        if status not in (0, 1):
            with open(os.path.join(work, "stderr"), errors="replace") as f:
                raise Failed("%s exited with %d: %s" % (label, status, f.read().strip()[-500:]))
    times = {label: [] for label, _ in commands}
    peaks = {label: [] for label, _ in commands}
    for _ in range(runs):
        for label, command in commands:
            seconds, _, peak, status = run_once(command, os.devnull, work)
            if status not in (0, 1):
                raise Failed("%s exited with %d during the timed runs" % (label, status))
            times[label].append(seconds)
            peaks[label].append(peak)
    return {label: (statistics.median(times[label]), statistics.median(peaks[label])) for label, _ in commands}


def two_at_once(command, runs):
    """Median seconds until both of two copies of command, started together, end."""
    times = []
    for _ in range(runs + 1):
        start = time.perf_counter()
        children = [subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) for _ in range(2)]
        statuses = [child.wait() for child in children]
        if any(status not in (0, 1) for status in statuses):
            raise Failed("two clients at once: exit statuses %s" % statuses)
        times.append(time.perf_counter() - start)
    return statistics.median(times[1:])


def row(what, ours, theirs, ratio):
    return "| %s | %s | %s | %s |" % (what, ours, theirs, ("%.3f" % ratio) if ratio < 0.1 else ("%.2f" % ratio))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--tree", required=True)
    parser.add_argument("--shared", required=True)
    parser.add_argument("--hdb", type=int, default=1000000)
    parser.add_argument("--ndb", type=int, default=500000)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    # Stopped, it still stops its clamd.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    scan = os.path.join(args.build, "korbu-scan")
    os.environ["WINEPREFIX"] = os.path.join(args.work, "no-prefix")
    os.environ["XDG_CACHE_HOME"] = os.path.join(args.work, "cache-home")
    database = os.path.join(args.work, "db")
    write_database(args.shared, database, args.hdb, args.ndb)
    one = os.path.join(args.work, "one")
    os.makedirs(one)
    with open(os.path.join(one, "file.txt"), "w") as f:
        f.write("a small clean file\n")
    files, size = tree_summary(args.tree)
    lines = []
    try:
        started = time.perf_counter()
        with clamd_server(database, args.work) as (pid, config, socket):
            clamd_start = time.perf_counter() - started
            local = [scan, "--database", database] + SCAN_ARGS
            remote = [scan, "--clamd", socket] + SCAN_ARGS
            first = measure([("local", local + [one]), ("clamd", remote + [one])], args.runs, args.work)
            tree = measure([("local -j 2", local + ["-j", "2", args.tree]),
                            ("clamd -j 1", remote + ["-j", "1", args.tree]),
                            ("clamd -j 2", remote + ["-j", "2", args.tree]),
                            ("clamdscan", ["clamdscan", "--config-file=" + config, "--multiscan", "--fdpass",
                                           "--no-summary", "--infected", args.tree])],
                           args.runs, args.work)
            alone = tree["clamd -j 2"][0]
            both = two_at_once(remote + ["-j", "2", args.tree], args.runs)
            server_kib = process_peak_kib(pid)
    except (Failed, ClamdFailed) as failure:
        print("clamd bench: %s" % failure, file=sys.stderr)
        return 1
    lines.append("clamd bench: %d + %d generated signatures beside the test databases; tree of %d files, %.1f MB; "
                 "clamd started in %s, peak %s; %d runs, medians; %d cores"
                 % (args.hdb, args.ndb, files, size / 1e6, seconds_text(clamd_start, "s"), kib_text(server_kib),
                    args.runs, os.cpu_count()))
    lines.append("")
    lines.append("| Measure | clamd | other | ratio clamd/other |")
    lines.append("|---|---|---|---|")
    (lt, lp), (ct, cp) = first["local"], first["clamd"]
    lines.append(row("first verdict: korbu-scan --clamd vs its own engine (load included)",
                     seconds_text(ct, "s"), seconds_text(lt, "s"), ct / lt))
    lines.append(row("korbu-scan peak memory: --clamd vs its own engine", kib_text(cp), kib_text(lp), cp / lp))
    for label in ("clamd -j 1", "clamd -j 2"):
        lines.append(row("tree: korbu-scan --clamd %s vs its own engine -j 2 (load included)" % label[6:],
                         seconds_text(tree[label][0], "s"), seconds_text(tree["local -j 2"][0], "s"),
                         tree[label][0] / tree["local -j 2"][0]))
    for label in ("clamd -j 1", "clamd -j 2"):
        lines.append(row("tree: korbu-scan --clamd %s vs clamdscan --multiscan --fdpass" % label[6:],
                         seconds_text(tree[label][0], "s"), seconds_text(tree["clamdscan"][0], "s"),
                         tree[label][0] / tree["clamdscan"][0]))
    lines.append(row("tree: two korbu-scan --clamd -j 2 at once vs one alone", seconds_text(both, "s"),
                     seconds_text(alone, "s"), both / alone))
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
