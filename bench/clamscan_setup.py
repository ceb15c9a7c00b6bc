"""clamscan and clamd set up as korbu's engine is, in one place: the benchmarks
(bench/compare.py, bench/engine/vs-clamscan.sh) and the parity check
(scripts/parity.py) compare korbu-scan with clamscan run with these options.

Run as a program, it prints the clamscan options one a line, for shell scripts.
"""
import contextlib
import os
import re
import subprocess
import time

# Option word 879 (archives, mail, OLE2 and PE parsed; encrypted, broken and
# over-limit files and the engine's heuristics alerted; no HTML, ELF, PDF, ...
# parsers), korbu's limits (6 levels, 1000 files, 10 MiB), and no scan cache.
CLAMSCAN_OPTIONS = [
    "--scan-archive=yes", "--scan-mail=yes", "--scan-ole2=yes", "--scan-pe=yes",
    "--scan-html=no", "--scan-elf=no", "--scan-pdf=no", "--scan-swf=no",
    "--scan-xmldocs=no", "--scan-hwp3=no", "--scan-onenote=no", "--scan-image=no",
    "--scan-image-fuzzy-hash=no", "--heuristic-alerts=yes", "--alert-broken=yes",
    "--alert-encrypted=yes", "--alert-exceeds-max=yes",
    "--max-recursion=6", "--max-files=1000", "--max-filesize=10M", "--disable-cache",
]

# korbu-scan parses these formats too unless told not to; off, it judges as the
# window's engine does, which is what the comparisons are of.
KORBU_SCAN_OPTIONS = [
    "--scan-pdf=no", "--scan-elf=no", "--scan-xmldocs=no", "--scan-swf=no", "--scan-hwp3=no", "--scan-onenote=no",
]

# The same set-up for clamd (clamdscan --multiscan spreads one tree over clamd's
# threads, the nearest thing ClamAV has to a parallel scan; korbu-scan --clamd
# takes its verdicts from it): the settings of docs/clamd-korbu.conf, the one
# place they are written.
CLAMD_SETTINGS_FILE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                   "docs", "clamd-korbu.conf")


def clamd_settings():
    with open(CLAMD_SETTINGS_FILE) as f:
        return [line.strip() for line in f if line.strip() and not line.lstrip().startswith("#")]


CLAMD_OPTIONS = clamd_settings()


class ClamdFailed(Exception):
    pass


@contextlib.contextmanager
def clamd_server(database, work, extra=(), name="clamd"):
    """A clamd of our own on a socket in work (plus any TCP socket in extra), with
    the databases and korbu's set-up; yields (pid, config file, socket path) once it
    answers, and stops it afterwards."""
    socket = os.path.join(work, name + ".sock")
    config = os.path.join(work, name + ".conf")
    with open(config, "w") as f:
        f.write("\n".join(["LocalSocket " + socket, "Foreground yes", "DatabaseDirectory " + database,
                           "TemporaryDirectory " + work, "MaxThreads %d" % max(2, os.cpu_count() or 1)]
                          + CLAMD_OPTIONS + list(extra)) + "\n")
    log = open(os.path.join(work, name + ".log"), "wb")
    server = subprocess.Popen(["clamd", "-c", config], stdout=log, stderr=subprocess.STDOUT)
    try:
        deadline = time.monotonic() + 600
        while subprocess.run(["clamdscan", "--config-file=" + config, "--ping", "1"],
                             capture_output=True, check=False).returncode != 0:
            if server.poll() is not None or time.monotonic() > deadline:
                raise ClamdFailed("clamd did not start (see its log: %s)" % log.name)
            time.sleep(0.1)
        yield server.pid, config, socket
    finally:
        server.terminate()
        server.wait()
        log.close()


def clamscan_results(path, root):
    """The answers of clamscan (or clamdscan) in the output file at path for the
    files under root: file -> virus name, or "OK" for a clean file."""
    results = {}
    with open(path, "rb") as f:
        for line in f.read().decode("utf-8", errors="replace").splitlines():
            match = re.fullmatch(r"(.*): (?:(.+) FOUND|(OK))", line)
            if match and match.group(1).startswith(root):
                results[match.group(1)] = match.group(2) or match.group(3)
    return results


if __name__ == "__main__":
    print("\n".join(CLAMSCAN_OPTIONS))
