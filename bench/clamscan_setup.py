"""clamscan and clamd set up as korbu's engine is, in one place: the benchmarks
(bench/compare.py, bench/engine/vs-clamscan.sh) and the parity check
(scripts/parity.py) compare korbu-scan with clamscan run with these options.

Run as a program, it prints the clamscan options one a line, for shell scripts.
"""
import re

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

# The same set-up for clamd, whose clamdscan --multiscan spreads one tree over
# clamd's threads: the nearest thing ClamAV has to a parallel scan.
CLAMD_OPTIONS = [
    "ScanArchive yes", "ScanMail yes", "ScanOLE2 yes", "ScanPE yes", "ScanHTML no",
    "ScanELF no", "ScanPDF no", "ScanSWF no", "ScanXMLDOCS no", "ScanHWP3 no",
    "ScanOneNote no", "ScanImage no", "ScanImageFuzzyHash no", "HeuristicAlerts yes",
    "AlertBrokenExecutables yes", "AlertEncrypted yes", "AlertExceedsMax yes",
    "MaxRecursion 6", "MaxFiles 1000", "MaxFileSize 10M", "DisableCache yes",
]


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
