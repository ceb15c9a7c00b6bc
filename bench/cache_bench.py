"""The verdict cache's figures for compare.py: a rescan of the unchanged tree against
the first scan (which fills the cache), and a rescan after a database update that
adds signatures against a full scan with the updated databases (--no-cache), with
the verdicts of both compared, and the cache's size per 100,000 files.

The update is a database file added to a copy of the database folder: random body
and hash signatures that match nothing, and one hash signature of a file of the
tree, which both scans must report. Before the update the copy also holds
KORBU_BENCH_SYNTHETIC random signatures (default 100,000: three quarters hash, the
rest body and logical signatures, as in ClamAV's own databases), so that the engine
is nearer the size of ClamAV's published databases (8.7 million signatures) than
the 17 of the test databases: with those alone a small engine of 2,000 signatures
is no smaller than the full one, and a rescan costs what a full scan does, since
libclamav's work per byte does not depend on the number of signatures. The update's
rows run at most three times each.
"""
import hashlib
import os
import random
import shutil
import subprocess

from compare import Failed, korbu_report, measure_pair, row, seconds_text

UPDATE_SIGNATURES = 2000


def write_synthetic(folder, count, rng):
    """count random signatures in three loose databases, matching nothing."""
    hashes = count * 3 // 4
    logical = count // 20
    bodies = count - hashes - logical
    with open(os.path.join(folder, "synthetic.hdb"), "w") as f:
        for i in range(hashes):
            f.write("%s:%d:Synthetic.Hash-%d\n" % (rng.randbytes(16).hex(), rng.randint(64, 1 << 22), i))
    with open(os.path.join(folder, "synthetic.ndb"), "w") as f:
        for i in range(bodies):
            f.write("Synthetic.Body-%d:0:*:%s\n" % (i, rng.randbytes(rng.randint(12, 40)).hex()))
    with open(os.path.join(folder, "synthetic.ldb"), "w") as f:
        for i in range(logical):
            f.write("Synthetic.Logical-%d;Engine:51-255,Target:1;0&1;%s;%s\n"
                    % (i, rng.randbytes(rng.randint(6, 16)).hex(), rng.randbytes(rng.randint(6, 16)).hex()))


def write_update(folder, target, rng):
    """The update: UPDATE_SIGNATURES new signatures, one of them the hash of target."""
    with open(target, "rb") as f:
        data = f.read()
    with open(os.path.join(folder, "update.hdb"), "w") as f:
        f.write("%s:%d:Korbu.Bench.Update-Hit\n" % (hashlib.md5(data).hexdigest(), len(data)))
        for i in range(UPDATE_SIGNATURES // 2 - 1):
            f.write("%s:%d:Korbu.Bench.Update-Hash-%d\n" % (rng.randbytes(16).hex(), rng.randint(64, 1 << 20), i))
    with open(os.path.join(folder, "update.ndb"), "w") as f:
        for i in range(UPDATE_SIGNATURES // 2):
            f.write("Korbu.Bench.Update-Body-%d:0:*:%s\n" % (i, rng.randbytes(rng.randint(12, 32)).hex()))


def detections(report):
    return {d["file"]: d["virus"] for d in report["detections"]}


def folder_bytes(folder):
    total = 0
    for where, _, names in os.walk(folder):
        total += sum(os.lstat(os.path.join(where, name)).st_size for name in names)
    return total


def store_bytes(files):
    """The size of the store of verdicts for that many files (VerdictStore.h)."""
    slots = 1 << 12
    while files * 4 > slots * 3 and slots < 1 << 21:
        slots *= 4
    return 64 + 32 * min(slots, 1 << 21)


def fresh(cache_home, snapshot=None):
    """A shell prefix that empties the cache (or puts a snapshot of it back) first."""
    script = 'rm -rf "$0" && mkdir -p "$0"' + (' && cp -a "$1/." "$0"' if snapshot else "") + ' && shift && exec "$@"'
    return ["sh", "-c", script, cache_home] + ([snapshot] if snapshot else ["-"])


def cache_figures(scan, tree, database, work, runs, files):
    """(table lines, check lines, problems)."""
    lines, checks, problems = [], [], []
    cache_home = os.environ["XDG_CACHE_HOME"]
    rng = random.Random(20261209)
    synthetic = int(os.environ.get("KORBU_BENCH_SYNTHETIC", "100000"))
    before = os.path.join(work, "db-before")
    after = os.path.join(work, "db-after")
    base = [scan, "--no-memory", "--no-registry", "--json"]

    # The unchanged tree: the first scan fills an empty cache, the rescan reads it.
    first_cmd = fresh(cache_home) + base + ["--database", database, tree]
    rescan_cmd = base + ["--database", database, tree]
    (first_t, first_c, _), (again_t, again_c, _) = measure_pair(("first", first_cmd), ("rescan", rescan_cmd), runs, work)
    first = korbu_report(os.path.join(work, "first.out"))
    again = korbu_report(os.path.join(work, "rescan.out"))
    lines.append(row("rescan of the unchanged tree: korbu-scan with its verdict cache / first scan",
                     seconds_text(again_t, "s"), seconds_text(first_t, "s"), again_t / first_t))
    lines.append(row("CPU time (user + system): rescan with the cache / first scan",
                     seconds_text(again_c, "s"), seconds_text(first_c, "s"), again_c / first_c))
    store = os.path.join(cache_home, "korbu")
    verdicts = os.path.getsize(os.path.join(store, "verdicts"))
    checks.append("verdict cache: the rescan took %d of %d files from the cache; the cache folder holds %.2f MiB, "
                  "its store of verdicts %.2f MiB for %d files (32-byte slots, grown fourfold while more than "
                  "three quarters are taken: %.1f MiB for 100,000 files)"
                  % (again["cache"]["from_cache"], again["files_scanned"], folder_bytes(store) / 1048576.0,
                     verdicts / 1048576.0, files, store_bytes(100000) / 1048576.0))
    if detections(first) != detections(again):
        problems.append("the rescan from the cache and the first scan disagree on the detections")
    if again["cache"]["from_cache"] != again["files_scanned"] - len(again["detections"]):
        problems.append("the rescan judged %d clean files again"
                        % (again["files_scanned"] - len(again["detections"]) - again["cache"]["from_cache"]))

    # A database update: the cache as a scan before the update left it, put back
    # before every timed run, against a full scan with the updated databases.
    shutil.rmtree(before, ignore_errors=True)
    shutil.copytree(database, before)
    if synthetic:
        write_synthetic(before, synthetic, rng)
    fill = subprocess.run(fresh(cache_home) + base + ["--database", before, tree], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, check=False)
    if fill.returncode not in (0, 1):
        raise Failed("the scan before the update exited with %d: %s" % (fill.returncode, fill.stderr.decode()[-300:]))
    snapshot = os.path.join(work, "cache-before-update")
    shutil.rmtree(snapshot, ignore_errors=True)
    shutil.copytree(store, snapshot)
    shutil.rmtree(after, ignore_errors=True)
    shutil.copytree(before, after)
    target = sorted(os.path.join(where, name) for where, _, names in os.walk(tree) for name in names
                    if name.endswith(".dat"))[len(first["detections"])]
    write_update(after, target, rng)
    delta_cmd = fresh(store, snapshot) + base + ["--database", after, tree]
    full_cmd = base + ["--no-cache", "--database", after, tree]
    (delta_t, delta_c, _), (full_t, full_c, _) = measure_pair(("update-cached", delta_cmd), ("update-full", full_cmd),
                                                              min(runs, 3), work)
    delta = korbu_report(os.path.join(work, "update-cached.out"))
    full = korbu_report(os.path.join(work, "update-full.out"))
    lines.append(row("rescan after a database update adding %d signatures: with the verdict cache / "
                     "korbu-scan --no-cache" % UPDATE_SIGNATURES,
                     seconds_text(delta_t, "s"), seconds_text(full_t, "s"), delta_t / full_t))
    lines.append(row("CPU time (user + system): rescan after the update with the cache / --no-cache",
                     seconds_text(delta_c, "s"), seconds_text(full_c, "s"), delta_c / full_c))
    checks.append("after the update: %d files judged against the added signatures only, %d detections with the "
                  "cache, %d without (identical: %s); signatures before the update %d (%d synthetic), after %s"
                  % (delta["cache"]["checked_against_new_signatures"], len(delta["detections"]),
                     len(full["detections"]), "yes" if detections(delta) == detections(full) else "NO",
                     int(again["engine"]["signatures"]) + synthetic, synthetic, full["engine"]["signatures"]))
    if detections(delta) != detections(full):
        for path in sorted(set(detections(delta)) | set(detections(full))):
            if detections(delta).get(path) != detections(full).get(path):
                problems.append("after the update, %s: with the cache %r, without %r"
                                % (path, detections(delta).get(path), detections(full).get(path)))
    if detections(full).get(target) is None:
        problems.append("the updated databases did not detect %s" % target)
    if delta["cache"]["checked_against_new_signatures"] == 0:
        problems.append("after the update no file was judged against the added signatures alone")
    if not full["engine"]["active"]:
        raise Failed("the engine was not active in the scans of the update")
    return lines, checks, problems
