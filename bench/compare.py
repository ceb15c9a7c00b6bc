#!/usr/bin/env python3
"""compare.py: the measurements behind compare.sh, printed as one Markdown table.

  compare.py --build DIR --tree DIR --work DIR --runs N [--database DIR]
             [--variants N] [--engine-files N]

Each pair of commands runs once to warm the page cache, then RUNS times
alternately, so a load change on the machine hits both sides alike; the table
holds the medians and their ratios. Peak resident memory comes from
/usr/bin/time -f %M when installed, else from the rusage that wait4 reports for
the child (the same figure).
"""
import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

from clamscan_setup import CLAMSCAN_OPTIONS, KORBU_SCAN_OPTIONS, ClamdFailed, clamd_server, clamscan_results

GNU_TIME = "/usr/bin/time"

class Failed(Exception):
    pass


def process_cpu_seconds(pid):
    """User + system seconds a running process has used so far (from /proc)."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def process_peak_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def run_once(command, out_path, work):
    """Runs command with stdout to out_path; returns (seconds, CPU seconds, peak KiB,
    status). The CPU time is user + system of the command and its children (when
    wrapped in GNU time, time's own share is a few milliseconds)."""
    memory_file = os.path.join(work, "peak-rss")
    wrapped = command
    if os.access(GNU_TIME, os.X_OK):
        wrapped = [GNU_TIME, "-f", "%M", "-o", memory_file] + command
    with open(out_path, "wb") as out, open(os.path.join(work, "stderr"), "wb") as err:
        start = time.perf_counter()
        child = subprocess.Popen(wrapped, stdout=out, stderr=err)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    cpu = usage.ru_utime + usage.ru_stime
    if wrapped is command:
        peak = usage.ru_maxrss
    else:
        with open(memory_file) as f:
            # GNU time writes "Command exited with non-zero status N" first then.
            peak = int(f.read().split()[-1])
    return seconds, cpu, peak, child.returncode


def measure_pair(first, second, runs, work, accepted=(0, 1), server=None, discard=()):
    """Warm-up run of each, then runs alternating runs; medians per command. With a
    server pid, the CPU time that server spends during the second command's runs is
    added to that command's, and its peak memory is the server's. The output of the
    commands labelled in discard goes to /dev/null."""
    def out_path(label):
        return os.devnull if label in discard else os.path.join(work, label + ".out")
    results = []
    for label, command in (first, second):
        out = out_path(label)
        _, _, _, status = run_once(command, out, work)
        if status not in accepted:
            with open(os.path.join(work, "stderr"), errors="replace") as f:
                raise Failed("%s exited with %d: %s" % (label, status, f.read().strip()[-500:]))
    times = {first[0]: [], second[0]: []}
    cpus = {first[0]: [], second[0]: []}
    peaks = {first[0]: [], second[0]: []}
    for _ in range(runs):
        for label, command in (first, second):
            served = server is not None and label == second[0]
            server_cpu = process_cpu_seconds(server) if served else 0.0
            seconds, cpu, peak, status = run_once(command, out_path(label), work)
            if served:
                cpu += process_cpu_seconds(server) - server_cpu
                peak = process_peak_kib(server)
            if status not in accepted:
                raise Failed("%s exited with %d during the timed runs" % (label, status))
            times[label].append(seconds)
            cpus[label].append(cpu)
            peaks[label].append(peak)
    for label, _ in (first, second):
        results.append((statistics.median(times[label]), statistics.median(cpus[label]),
                        statistics.median(peaks[label])))
    return results


def crc_figures(build, runs):
    """Median nanoseconds per call of the own CRC-32, zlib's and the bytewise table."""
    command = [os.path.join(build, "crc_bench"), "--benchmark_filter=^Crc(Korbu|Zlib|Bytewise)/",
               "--benchmark_repetitions=%d" % runs, "--benchmark_report_aggregates_only=true",
               "--benchmark_format=json",
               # Repetitions of the three in shuffled order, so a load change is shared.
               "--benchmark_enable_random_interleaving=true"]
    done = subprocess.run(command, capture_output=True, check=False)
    if done.returncode != 0:
        raise Failed("crc_bench exited with %d: %s" % (done.returncode, done.stderr.decode(errors="replace")))
    figures = {}
    for bench in json.loads(done.stdout)["benchmarks"]:
        match = re.fullmatch(r"Crc(\w+)/(\d+)_median", bench["name"])
        if match and bench.get("aggregate_name") == "median":
            scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[bench["time_unit"]]
            figures[(match.group(1), int(match.group(2)))] = bench["real_time"] * scale
    return figures


def own_crc_name(build):
    flags = os.path.join(build, "src/detect/CMakeFiles/korbu_detect.dir/flags.make")
    try:
        with open(flags) as f:
            text = f.read()
    except OSError:
        return "own"
    if "KORBU_HAVE_LIBDEFLATE" in text:
        return "own (libdeflate)"
    return "own (zlib)" if "KORBU_HAVE_ZLIB" in text else "own (slicing-by-8)"


def korbu_report(path):
    with open(path, "rb") as f:
        return json.loads(f.read().decode("utf-8", errors="replace"))


def clamscan_found(path, tree):
    """The detections in a clamscan output: file -> virus name."""
    return {f: name for f, name in clamscan_results(path, tree).items() if name != "OK"}


def name_counts(found):
    names = sorted(set(found.values()))
    return ", ".join("%s %d" % (name, list(found.values()).count(name)) for name in names) or "none"


def seconds_text(ns_or_s, unit):
    if unit == "ns":
        return "%.1f µs" % (ns_or_s / 1e3) if ns_or_s < 1e6 else "%.2f ms" % (ns_or_s / 1e6)
    return "%.3f s" % ns_or_s if ns_or_s < 10 else "%.1f s" % ns_or_s


def kib_text(kib):
    return "%.1f MiB" % (kib / 1024.0)


def row(what, ours, theirs, ratio):
    return "| %s | %s | %s | %s |" % (what, ours, theirs, ("%.3f" % ratio) if ratio < 0.1 else ("%.2f" % ratio))


def tree_summary(tree):
    files = size = 0
    for folder, _, names in os.walk(tree):
        for name in names:
            files += 1
            size += os.lstat(os.path.join(folder, name)).st_size
    return files, size


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--tree", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--database")
    parser.add_argument("--variants", type=int, default=0)
    parser.add_argument("--engine-files", type=int, default=0)
    args = parser.parse_args()
    scan = os.path.join(args.build, "korbu-scan")
    tree = os.path.abspath(args.tree)
    os.environ["WINEPREFIX"] = os.path.join(args.work, "no-prefix")  # files only
    # A verdict cache of the run's own, never the user's; only the cache's own rows use it.
    os.environ["XDG_CACHE_HOME"] = os.path.join(args.work, "cache-home")
    problems = []
    lines = []

    files, size = tree_summary(tree)
    load_before = os.getloadavg()[0]

    crc = crc_figures(args.build, args.runs)
    own = own_crc_name(args.build)
    for length in sorted({n for _, n in crc}):
        label = "%d KiB" % (length // 1024) if length < 1 << 20 else "%d MiB" % (length >> 20)
        ours = crc[("Korbu", length)]
        for other, name in (("Zlib", "zlib"), ("Bytewise", "bytewise table")):
            lines.append(row("CRC-32 of %s: %s / %s" % (label, own, name), seconds_text(ours, "ns"),
                             seconds_text(crc[(other, length)], "ns"), ours / crc[(other, length)]))

    walk_cmd = [scan, "--no-memory", "--no-registry", "--no-cache", "--json", "--no-engine", tree]
    # cat's output goes to /dev/null: into a regular file, GNU cat hands the copy to the
    # kernel (copy_file_range) and never reads the bytes, which is no reading of the tree.
    read_cmd = ["find", tree, "-type", "f", "-exec", "cat", "{}", "+"]
    (walk_t, walk_c, walk_m), (read_t, read_c, read_m) = measure_pair(("walk", walk_cmd), ("read", read_cmd), args.runs,
                                                      args.work, discard=("read",))
    walk = korbu_report(os.path.join(args.work, "walk.out"))
    lines.append(row("walk with own detection: korbu-scan / find + cat", seconds_text(walk_t, "s"),
                     seconds_text(read_t, "s"), walk_t / read_t))
    lines.append(row("CPU time (user + system): korbu-scan walk / find + cat", seconds_text(walk_c, "s"),
                     seconds_text(read_c, "s"), walk_c / read_c))
    lines.append(row("peak memory: korbu-scan walk / find + cat", kib_text(walk_m), kib_text(read_m),
                     walk_m / read_m))
    own_found = [d for d in walk["detections"] if d["virus"].startswith("Brontok")]
    checks = ["own detection (walk): %d of %d variant files, %d of %d files scanned"
              % (len(own_found), args.variants, walk["files_scanned"], files)]
    if walk["engine"]["active"]:
        problems.append("the walk ran with an active engine")
    if len(own_found) != args.variants:
        problems.append("the walk found %d variant files, not %d" % (len(own_found), args.variants))
    if walk["files_scanned"] != files:
        problems.append("korbu-scan scanned %d of the %d files" % (walk["files_scanned"], files))

    database_line = "databases: none found, engine comparison left out"
    if args.database and shutil.which("clamscan"):
        full_cmd = [scan, "--no-memory", "--no-registry", "--no-cache", "--json", "--database", args.database]
        full_cmd += KORBU_SCAN_OPTIONS + [tree]
        clam_cmd = ["clamscan", "-r", "--no-summary", "--infected", "--database=" + args.database] \
            + CLAMSCAN_OPTIONS + [tree]
        (full_t, full_c, full_m), (clam_t, clam_c, clam_m) = measure_pair(("full", full_cmd), ("clamscan", clam_cmd),
                                                          args.runs, args.work)
        full = korbu_report(os.path.join(args.work, "full.out"))
        engine = full["engine"]
        database_line = "databases: %s (main.cvd version %s, daily.cvd version %s, %s signatures), " \
                        "loaded by both korbu-scan --database and clamscan -d" % (
                            args.database, engine["main_version"], engine["daily_version"], engine["signatures"])
        lines.append(row("full scan with engine: korbu-scan / clamscan -r", seconds_text(full_t, "s"),
                         seconds_text(clam_t, "s"), full_t / clam_t))
        lines.append(row("CPU time (user + system): korbu-scan full scan / clamscan -r",
                         seconds_text(full_c, "s"), seconds_text(clam_c, "s"), full_c / clam_c))
        lines.append(row("peak memory: korbu-scan full scan / clamscan -r", kib_text(full_m), kib_text(clam_m),
                         full_m / clam_m))
        # clamscan as its users run it: its own defaults, only the databases named.
        plain_cmd = ["clamscan", "-r", "--no-summary", "--infected", "--database=" + args.database, tree]
        (full2_t, full2_c, full2_m), (plain_t, plain_c, plain_m) = measure_pair(
            ("full", full_cmd), ("clamscan-plain", plain_cmd), args.runs, args.work)
        lines.append(row("full scan with engine: korbu-scan / clamscan -r (its defaults)",
                         seconds_text(full2_t, "s"), seconds_text(plain_t, "s"), full2_t / plain_t))
        lines.append(row("CPU time (user + system): korbu-scan / clamscan -r (its defaults)",
                         seconds_text(full2_c, "s"), seconds_text(plain_c, "s"), full2_c / plain_c))
        lines.append(row("peak memory: korbu-scan / clamscan -r (its defaults)", kib_text(full2_m),
                         kib_text(plain_m), full2_m / plain_m))
        if shutil.which("clamd") and shutil.which("clamdscan"):
            with clamd_server(args.database, args.work) as (pid, config, _):
                multi_cmd = ["clamdscan", "--config-file=" + config, "--multiscan", "--no-summary",
                             "--infected", tree]
                (full3_t, full3_c, full3_m), (multi_t, multi_c, multi_m) = measure_pair(
                    ("full", full_cmd), ("clamdscan", multi_cmd), args.runs, args.work, server=pid)
            lines.append(row("full scan with engine: korbu-scan / clamdscan --multiscan",
                             seconds_text(full3_t, "s"), seconds_text(multi_t, "s"), full3_t / multi_t))
            lines.append(row("CPU time (user + system, clamd's included): korbu-scan / clamdscan --multiscan",
                             seconds_text(full3_c, "s"), seconds_text(multi_c, "s"), full3_c / multi_c))
            lines.append(row("peak memory: korbu-scan / clamd", kib_text(full3_m), kib_text(multi_m),
                             full3_m / multi_m))
            multi = clamscan_found(os.path.join(args.work, "clamdscan.out"), tree)
            checks.append("clamdscan --multiscan detections: %d; %s" % (len(multi), name_counts(multi)))
        else:
            multi = None
            checks.append("clamd or clamdscan is not installed (Debian: clamav-daemon, clamdscan): "
                          "the clamdscan comparison is left out")
        ours = {d["file"]: d["virus"] for d in full["detections"] if not d["virus"].startswith("Brontok")}
        theirs = clamscan_found(os.path.join(args.work, "clamscan.out"), tree)
        checks.append("engine detections: korbu-scan %d, clamscan %d (%d engine test files); %s"
                      % (len(ours), len(theirs), args.engine_files, name_counts(theirs)))
        if not engine["active"]:
            problems.append("the engine was not active in the full scan")
        if ours != theirs:
            for path in sorted(set(ours) | set(theirs)):
                if ours.get(path) != theirs.get(path):
                    problems.append("%s: korbu-scan %r, clamscan %r" % (path, ours.get(path), theirs.get(path)))
        if multi is not None and multi != theirs:
            problems.append("clamdscan --multiscan and clamscan disagree on the detections")
        if len(ours) < args.engine_files:
            problems.append("fewer engine detections than engine test files")
    elif args.database:
        database_line = "databases: %s, but clamscan is not installed" % args.database
    if args.database:
        from cache_bench import cache_figures
        cache_lines, cache_checks, cache_problems = cache_figures(scan, tree, args.database, args.work, args.runs,
                                                                  files)
        lines += cache_lines
        checks += cache_checks
        problems += cache_problems

    load_after = os.getloadavg()[0]
    print("Medians of %d runs each; a ratio below 1 means korbu is faster or smaller." % args.runs)
    print("tree: %d files, %.0f MiB (generated files of up to 100 KiB, a tenth \"MZ\", plus detections)"
          % (files, size / 1048576.0))
    print(database_line)
    print("clamscan options: " + " ".join(CLAMSCAN_OPTIONS))
    print("load average (1 min) before %.2f, after %.2f" % (load_before, load_after))
    print()
    print("| Comparison | korbu | other | ratio |")
    print("|---|---:|---:|---:|")
    print("\n".join(lines))
    print()
    for line in checks:
        print(line)
    for problem in problems:
        print("MISMATCH: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (Failed, ClamdFailed) as failure:
        print("compare: %s" % failure, file=sys.stderr)
        sys.exit(2)
