#!/usr/bin/env python3
"""parity.py [--table] [--clamd] KORBU_SCAN: korbu-scan and clamscan judge the same files alike.

Both scan every file of Debian's clamav-testfiles and a set of crafted archives
(past each of the engine's limits, at 1 MiB and one byte either side, where the
engine library switches between reading a file itself and letting libclamav map
it) with the same databases; clamscan runs with the options that equal korbu's
engine set-up (bench/clamscan_setup.py). Every file must get the same answer, or
an answer that differs in one of the documented ways below (the README lists
them). Prints the files whose answers differ (with --table, every file) and the
counts; exit status 0 when it holds, 1 when it does not, 2 when it could not run. Without clamscan, the test files or the databases it says so
and exits 0.

With --clamd, korbu-scan with its own engine and korbu-scan --clamd, through a
clamd of this check's own set up with docs/clamd-korbu.conf, judge the same files:
every file must get the same answer, or differ in the one way documented below.

Environment: KORBU_PARITY_DB (database folder, default ../shared/engine-test-db),
KORBU_PARITY_TESTFILES (default /usr/share/clamav-testfiles).
"""
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(top, "bench"))
from clamscan_setup import CLAMD_SETTINGS_FILE, CLAMSCAN_OPTIONS, KORBU_SCAN_OPTIONS, ClamdFailed, clamd_server, clamscan_results  # noqa: E402

EICAR = b"X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*"
MIB = 1 << 20

# The ways korbu's answer may differ from clamscan's, each a documented choice:
# (name, korbu's answer, clamscan's answer).
DOCUMENTED = [
    # A file over the engine's size limit: clamscan's over-limit alert names it;
    # korbu lists it as not scanned whole, since the memory and registry scans
    # would otherwise offer to delete every large program.
    ("file over the engine's size limit", "NOT SCANNED WHOLE (maxfilesize)",
     "Heuristics.Limits.Exceeded.MaxFileSize"),
    # A member libclamav cuts to the size limit and scans in part, without an
    # alert: clamscan says OK, korbu that the file was not judged whole.
    ("member cut to the engine's size limit", "NOT SCANNED WHOLE (maxfilesize)", "OK"),
]

# The one way korbu-scan --clamd may differ from korbu-scan with its own engine:
# clamd cuts such a member to its MaxFileSize as libclamav does, but tells its
# clients nothing of it, so the cut cannot be seen through clamd.
CLAMD_DOCUMENTED = [
    ("member cut to the engine's size limit, unseen through clamd", "NOT SCANNED WHOLE (maxfilesize)", "OK"),
]


def zip_bytes(members, padded_to=None):
    """A zip of (name, data, deflated) members; with padded_to, a stored member
    "pad" comes last so that the archive has exactly that many bytes."""
    def build(items):
        out = io.BytesIO()
        with zipfile.ZipFile(out, "w") as z:
            for name, data, deflated in items:
                info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
                info.compress_type = zipfile.ZIP_DEFLATED if deflated else zipfile.ZIP_STORED
                z.writestr(info, data)
        return out.getvalue()
    if padded_to is None:
        return build(members)
    empty_pad = len(build(members + [("pad", b"", False)]))
    if empty_pad > padded_to:
        raise ValueError("members longer than %d bytes" % padded_to)
    data = build(members + [("pad", b"\0" * (padded_to - empty_pad), False)])
    assert len(data) == padded_to
    return data


def nested(data, depth):
    for level in range(depth):
        data = zip_bytes([("level%d" % level, data, False)])
    return data


def write_crafted(folder, clam_exe):
    """The crafted files; returns how many."""
    os.makedirs(folder)
    carried = clam_exe or EICAR
    past = {
        # Past 1,000 files: the carried file is the 1,002nd member.
        "past-maxfiles": [("m%04d" % i, b"x", False) for i in range(1001)] + [("carried", carried, False)],
        # Past 6 levels: the carried file seven zips deep.
        "past-maxrecursion": [("nested.zip", nested(carried, 7), False)],
        # Past 10 MiB in one member: the carried file after 11 MiB of zeros.
        "past-member-size": [("big", b"\0" * (11 * MIB) + carried, True)],
    }
    count = 0
    for name, members in past.items():
        for size in (MIB - 1, MIB, MIB + 1):
            with open(os.path.join(folder, "%s-%d.zip" % (name, size)), "wb") as f:
                f.write(zip_bytes(members, size))
            count += 1
    # A jar of 1,452 small members with the carried file last, as real ones are.
    with open(os.path.join(folder, "many-members.jar"), "wb") as f:
        f.write(zip_bytes([("a/C%04d.class" % i, b"\xca\xfe\xba\xbe" + bytes(100), True) for i in range(1451)]
                          + [("carried", carried, False)]))
    # Over the size limit as a whole: 11 MB of zeros, then a zip with the carried file.
    with open(os.path.join(folder, "zeros-then-zip.bin"), "wb") as f:
        f.write(b"\0" * 11000000 + zip_bytes([("carried", carried, False)]))
    with open(os.path.join(folder, "eicar.com"), "wb") as f:
        f.write(EICAR)
    with open(os.path.join(folder, "clean.txt"), "wb") as f:
        f.write(b"nothing to see here\n")
    return count + 4


def korbu_answers(report):
    answers = {}
    for row in report["detections"]:
        answers[row["file"]] = row["virus"]
    for row in report["not_scanned_whole"]:
        answers[row["file"]] = "NOT SCANNED WHOLE (%s)" % row["limit"]
    for row in report["errors"]:
        answers[row["file"]] = "ERROR: " + row["error"]
    return answers


class Failed(Exception):
    pass


def korbu_run(korbu, engine_args, files, env):
    """korbu-scan's answers for the files with these engine options."""
    ours = subprocess.run([korbu, "--no-memory", "--no-registry", "--no-cache", "--json", "--max-filesize=0"]
                          + KORBU_SCAN_OPTIONS + engine_args + [files], capture_output=True, env=env)
    if ours.returncode not in (0, 1):
        raise Failed("korbu-scan %s exited with %d: %s" % (" ".join(engine_args), ours.returncode,
                                                            ours.stderr.decode(errors="replace")))
    report = json.loads(ours.stdout)
    if not report["engine"]["active"]:
        raise Failed("korbu-scan's engine is not active: %s" % report["engine"].get("not_loaded_reason"))
    return korbu_answers(report)


def clamscan_run(database, files, work):
    clam_out = os.path.join(work, "clamscan.out")
    with open(clam_out, "wb") as out:
        theirs = subprocess.run(["clamscan", "-r", "--no-summary", "--database=" + database]
                                + CLAMSCAN_OPTIONS + [files], stdout=out, stderr=subprocess.DEVNULL)
    if theirs.returncode not in (0, 1):
        raise Failed("clamscan exited with %d" % theirs.returncode)
    return clamscan_results(clam_out, files)


def main():
    args = sys.argv[1:]
    table = "--table" in args
    with_clamd = "--clamd" in args
    args = [arg for arg in args if arg not in ("--table", "--clamd")]
    if len(args) != 1:
        print(__doc__.strip().splitlines()[0], file=sys.stderr)
        return 2
    korbu = os.path.abspath(args[0])
    database = os.path.abspath(os.environ.get("KORBU_PARITY_DB", os.path.join(top, "..", "shared", "engine-test-db")))
    testfiles = os.environ.get("KORBU_PARITY_TESTFILES", "/usr/share/clamav-testfiles")
    needed = ["clamd", "clamdscan"] if with_clamd else ["clamscan"]
    missing = [what for what, there in [(tool, shutil.which(tool)) for tool in needed]
               + [("the test files in " + testfiles, os.path.isdir(testfiles)),
                  ("the databases in " + database, os.path.isfile(os.path.join(database, "main.cvd"))),
                  (korbu, os.access(korbu, os.X_OK))] if not there]
    if missing:
        print("parity: skipped, missing " + ", ".join(missing))
        return 0
    work = tempfile.mkdtemp(prefix="korbu-parity-")
    try:
        files = os.path.join(work, "files")
        shutil.copytree(testfiles, os.path.join(files, "clamav-testfiles"))
        clam_exe = os.path.join(testfiles, "clam.exe")
        crafted = write_crafted(os.path.join(files, "crafted"),
                                open(clam_exe, "rb").read() if os.path.isfile(clam_exe) else None)
        env = dict(os.environ, WINEPREFIX=os.path.join(work, "no-prefix"))
        mine = korbu_run(korbu, ["--database", database], files, env)
        if with_clamd:
            with clamd_server(database, work) as (_, _, socket):
                theirs = korbu_run(korbu, ["--clamd", socket], files, env)
            other, documented = "korbu-scan --clamd", CLAMD_DOCUMENTED
            settings = "clamd settings: " + os.path.relpath(CLAMD_SETTINGS_FILE, top)
        else:
            theirs = clamscan_run(database, files, work)
            other, documented = "clamscan", DOCUMENTED
            settings = "clamscan options: " + " ".join(CLAMSCAN_OPTIONS)
        all_files = sorted(os.path.join(folder, name) for folder, _, names in os.walk(files) for name in names)
        rows, problems, differences = [], [], {}
        for path in all_files:
            k = mine.get(path, "OK")
            c = theirs.get(path, "OK" if with_clamd else "(no answer)")
            kind = "same" if k == c else next((name for name, ko, co in documented if (ko, co) == (k, c)), None)
            if kind is None:
                problems.append(path)
                kind = "UNDOCUMENTED DIFFERENCE"
            elif kind != "same":
                differences[kind] = differences.get(kind, 0) + 1
            if table or kind != "same":
                rows.append("| %s | %s | %s | %s |" % (os.path.relpath(path, files), k, c, kind))
        print("parity of korbu-scan and %s: %d files (%d of clamav-testfiles, %d crafted), databases %s"
              % (other, len(all_files), len(all_files) - crafted, crafted, database))
        print(settings)
        print("| File | korbu-scan | %s | |" % other)
        print("|---|---|---|---|")
        print("\n".join(rows))
        print("same: %d; documented differences: %s; undocumented: %d"
              % (len(all_files) - len(problems) - sum(differences.values()),
                 ", ".join("%s %d" % item for item in sorted(differences.items())) or "none", len(problems)))
        return 1 if problems else 0
    except (Failed, ClamdFailed) as failure:
        print("parity: %s" % failure, file=sys.stderr)
        return 2
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
