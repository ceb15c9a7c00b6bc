#!/usr/bin/env python3
"""The measures of bench/guard.sh, run inside its private mount namespace.

guard_bench.py KORBU_GUARD DATABASE FILES
"""
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

EICAR = b"X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*"
OPENS = 20000       # timed opens per file without a guard and with korbu-guard
SLOW_OPENS = 300    # with clamonacc, where each open takes clamd's time
EXECS = 500
SLOW_EXECS = 100
NEW_PROGRAMS = 10
UNPACKS = 3
EICAR_TRIALS = 5
IDLE_SECONDS = 10


def mount_tmpfs(path, size="2g"):
    os.makedirs(path, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=0755", "none", path], check=True)


def pct(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * p))]


def time_opens(path, count):
    took = []
    for _ in range(count):
        start = time.perf_counter_ns()
        fd = os.open(path, os.O_RDONLY)
        os.close(fd)
        took.append(time.perf_counter_ns() - start)
    return took


def time_execs(path, count):
    took = []
    for _ in range(count):
        start = time.perf_counter_ns()
        pid = os.posix_spawn(path, [path], {})
        os.waitpid(pid, 0)
        took.append(time.perf_counter_ns() - start)
    return took


def make_tree(src, files):
    rng = random.Random(7)
    tree = os.path.join(src, "tree")
    for i in range(files):
        folder = os.path.join(tree, f"d{i // 200:03d}", f"e{(i // 20) % 10}")
        os.makedirs(folder, exist_ok=True)
        size = rng.choice([300, 1200, 4000, 9000, 30000])
        head = b"MZ" if i % 10 == 0 else b""
        body = bytes(rng.choice(b"abcdefghijklmnop \n") for _ in range(64)) * (size // 64 + 1)
        name = f"f{i}.exe" if head else f"f{i}.txt"
        with open(os.path.join(folder, name), "wb") as out:
            out.write((head + body)[:size])
    archive = os.path.join(src, "tree.tar")
    subprocess.run(["tar", "-cf", archive, "-C", tree, "."], check=True)
    shutil.rmtree(tree)
    return archive


def cpu_seconds(pids):
    total = 0
    for pid in pids:
        with open(f"/proc/{pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        total += int(fields[11]) + int(fields[12])
    return total / os.sysconf("SC_CLK_TCK")


def wait_quiet(pids):
    """Seconds until a second passes in which the daemons use almost no CPU."""
    start = time.monotonic()
    while time.monotonic() - start < 300:
        before = cpu_seconds(pids)
        time.sleep(1)
        if cpu_seconds(pids) - before <= 0.02:
            break
    return max(0.0, time.monotonic() - start - 1)


def wait_line(log, text, deadline):
    while time.monotonic() < deadline:
        try:
            with open(log, errors="replace") as f:
                if text in f.read():
                    return True
        except FileNotFoundError:
            pass
        time.sleep(0.002)
    return False


class NoGuard:
    name = "no guard"

    def start(self, work, watched):
        self.pids = []

    def stop(self):
        pass


class KorbuGuard:
    name = "korbu-guard"

    def __init__(self, program, database, args):
        self.program, self.database, self.args = program, database, args

    def start(self, work, watched):
        self.log = os.path.join(work, "korbu-guard.log")
        env = dict(os.environ, HOME=work, XDG_DATA_HOME=os.path.join(work, "data"),
                   XDG_CACHE_HOME=os.path.join(work, "cache"))
        self.process = subprocess.Popen(
            [self.program, *self.args, "--no-syslog", "--no-notify", "--status-file",
             os.path.join(work, "run", "status"), "-d", self.database, watched], stderr=open(self.log, "wb"), env=env)
        if not wait_line(self.log, "korbu-guard: ready", time.monotonic() + 60):
            sys.exit("korbu-guard did not start:\n" + open(self.log).read())
        self.pids = [self.process.pid]

    def report_line(self, path):
        return (self.log, "found " + path)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=60)


class ClamOnAcc:
    name = "clamonacc"

    def __init__(self, database):
        self.database = database

    def start(self, work, watched):
        sockets = os.path.join(work, "clamd")
        os.makedirs(sockets, exist_ok=True)
        shutil.chown(sockets, "clamav", "clamav")
        self.log = os.path.join(work, "clamonacc.log")
        conf = os.path.join(work, "clamd.conf")
        with open(conf, "w") as out:
            out.write(f"LocalSocket {sockets}/clamd.sock\nFixStaleSocket yes\nUser clamav\n"
                      f"DatabaseDirectory {self.database}\nTemporaryDirectory {sockets}\nForeground yes\n"
                      f"LogFile {sockets}/clamd.log\nOnAccessIncludePath {watched}\nOnAccessPrevention yes\n"
                      "OnAccessExcludeUname clamav\n")
        self.clamd = subprocess.Popen(["clamd", "-c", conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.onacc = subprocess.Popen(["clamonacc", "-F", "--fdpass", "-c", conf, "-l", self.log, "--wait"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Active once an EICAR opened is refused.
        probe = os.path.join(watched, "probe.txt")
        with open(probe, "wb") as out:
            out.write(EICAR)
        deadline = time.monotonic() + 90
        while time.monotonic() < deadline:
            try:
                os.close(os.open(probe, os.O_RDONLY))
            except PermissionError:
                break
            time.sleep(0.2)
        else:
            sys.exit("clamonacc did not start refusing")
        os.unlink(probe)
        self.pids = [self.clamd.pid, self.onacc.pid]

    def report_line(self, path):
        return (self.log, path + ": Eicar")

    def stop(self):
        for process in (self.onacc, self.clamd):
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def measure(guard, work, watched, archive, true_program):
    slow = isinstance(guard, ClamOnAcc)
    results = {}
    plain = os.path.join(watched, "letter.txt")
    program = os.path.join(watched, "tool.exe")
    native = os.path.join(watched, "true")
    with open(plain, "wb") as out:
        out.write(b"dear reader\n" * 300)
    with open(program, "wb") as out:
        out.write(b"MZ" + bytes(random.Random(3).randrange(256) for _ in range(64 * 1024)))
    shutil.copy(true_program, native)
    os.chmod(native, 0o755)
    guard.start(work, watched)
    try:
        for path in (plain, program):
            time_opens(path, 3)  # seen once: judged, then known
        time_execs(native, 3)
        for label, path in (("open of a text file", plain), ("open of a Windows program seen before", program)):
            took = time_opens(path, SLOW_OPENS if slow else OPENS)
            results[label + " (median µs)"] = statistics.median(took) / 1000
            results[label + " (p99 µs)"] = pct(took, 0.99) / 1000
        took = time_execs(native, SLOW_EXECS if slow else EXECS)
        results["exec of a program seen before (median µs)"] = statistics.median(took) / 1000
        results["exec of a program seen before (p99 µs)"] = pct(took, 0.99) / 1000
        with open(true_program, "rb") as f:
            elf = f.read()
        firsts = []
        for i in range(NEW_PROGRAMS):
            path = os.path.join(watched, f"new{i}")
            with open(path, "wb") as out:
                out.write(elf + os.urandom(1024 * 1024 - len(elf)))
            os.chmod(path, 0o755)
            firsts.append(time_execs(path, 1)[0])
        results["first run of a new 1 MB program (median ms)"] = statistics.median(firsts) / 1e6
        unpacks = []
        for i in range(UNPACKS):
            target = os.path.join(watched, "tree")
            shutil.rmtree(target, ignore_errors=True)
            os.makedirs(target)
            start = time.perf_counter()
            subprocess.run(["tar", "-xf", archive, "-C", target], check=True)
            unpacks.append(time.perf_counter() - start)
        results["unpacking the tree (median s)"] = statistics.median(unpacks)
        results["judging the last tree unpacked, after tar ended (s)"] = wait_quiet(guard.pids)
        if hasattr(guard, "report_line"):
            delays = []
            for i in range(EICAR_TRIALS):
                path = os.path.join(watched, f"eicar{i}.txt")
                with open(path, "wb") as out:
                    out.write(EICAR)
                closed = time.monotonic()
                log, text = guard.report_line(path)
                if wait_line(log, text, closed + 5):
                    delays.append(time.monotonic() - closed)
            # clamonacc with prevention watches opens only: a closed file waits for its next reader.
            results["closing EICAR to its report (median ms)"] = (
                statistics.median(delays) * 1000 if delays else float("nan"))
        wait_quiet(guard.pids)
        before = cpu_seconds(guard.pids)
        time.sleep(IDLE_SECONDS)
        results["CPU while idle (% of a core)"] = (cpu_seconds(guard.pids) - before) / IDLE_SECONDS * 100
    finally:
        guard.stop()
    return results


def main():
    program, database, files = sys.argv[1], sys.argv[2], int(sys.argv[3])
    work = tempfile.mkdtemp(prefix="korbu-guard-bench.")
    os.chmod(work, 0o755)
    src = os.path.join(work, "src")
    mount_tmpfs(src)
    archive = make_tree(src, files)
    true_program = shutil.which("true")
    table = {}
    guards = [NoGuard(), KorbuGuard(program, database, os.environ.get("KORBU_GUARD_ARGS", "").split()), ClamOnAcc(database)]
    try:
        for guard in guards:
            watched = os.path.join(work, "watched-" + guard.name.replace(" ", "-"))
            mount_tmpfs(watched)
            try:
                table[guard.name] = measure(guard, work, watched, archive, true_program)
            finally:
                subprocess.run(["umount", "-l", watched])
    finally:
        subprocess.run(["umount", "-l", src])
        shutil.rmtree(work, ignore_errors=True)

    none, korbu, clam = (table[g.name] for g in guards)
    extra = os.environ.get("KORBU_GUARD_ARGS", "")
    print(f"korbu-guard{' ' + extra if extra else ''} against no guard and clamonacc + clamd "
          f"(OnAccessPrevention yes), {files} files unpacked, tmpfs, {os.cpu_count()} cores, "
          f"load {os.getloadavg()[0]:.1f}\n")
    print("| measure | no guard | korbu-guard | clamonacc | korbu-guard / none | clamonacc / korbu-guard |")
    print("|---|---:|---:|---:|---:|---:|")
    for key in korbu:
        n, k, c = none.get(key, float("nan")), korbu[key], clam.get(key, float("nan"))
        ratio = lambda a, b: f"{a / b:.2f}" if b == b and a == a and b > 0.01 else "-"
        print(f"| {key} | {n:.2f} | {k:.2f} | {c:.2f} | {ratio(k, n)} | {ratio(c, k)} |")
    for key in ("open of a text file (median µs)", "open of a Windows program seen before (median µs)",
                "exec of a program seen before (median µs)"):
        print(f"\nadded by korbu-guard, {key}: {korbu[key] - none[key]:.2f} µs; "
              f"by clamonacc: {clam[key] - none[key]:.2f} µs", end="")
    print()


if __name__ == "__main__":
    main()
