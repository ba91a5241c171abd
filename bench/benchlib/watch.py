"""Running the programs: the Wine server kept up, each run timed with the
peak memory of its process, outputs taken away outside the timed part, the
contenders alternated round after round, and the machine's free page
reporting held off when asked."""

import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time

from .units import KIB, MIB

# Wine's own programs by full path: by bare name, wine starts them through
# start.exe in a second process, which would not be the one measured.
SYSTEM32 = "C:\\windows\\system32\\"


def die(message):
    raise SystemExit(f"bench: {message}")


class Wine:
    def __init__(self, build):
        self.bin = os.path.join(build, "bin")
        self.env = dict(os.environ)
        self.env.setdefault("WINEPREFIX", os.path.join(build, "wineprefix"))
        self.env["WINEDEBUG"] = "-all"
        self.env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
        self.keepalive = None

    def program(self, name):
        return os.path.join(self.bin, name)

    def start_server(self):
        """Keeps the prefix's wineserver up for the whole run, so no timed
        run pays for its start: cmd.exe waits on a pipe we hold and ends on
        its own when we close it."""
        self.keepalive = subprocess.Popen(["wine", SYSTEM32 + "cmd.exe"], env=self.env, stdin=subprocess.PIPE,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        run_checked(["wine", self.program("rawcopy.exe")], self.env, allowed=(2,))

    def stop_server(self):
        if self.keepalive is not None:
            self.keepalive.stdin.close()
            self.keepalive.wait()


def run_checked(command, env, allowed=(0,)):
    code, stdout, stderr = run_captured(command, env, lambda process: process.wait())
    if code not in allowed:
        die(f"{' '.join(command)} failed ({code}): {stderr[-2000:]}")
    return stdout


def run_captured(command, env, wait):
    """Runs `command` with its output in files, not pipes: when a Wine program
    is the one that starts the wineserver, the server's helper processes
    inherit its handles and keep a pipe open long after it ended.
    `wait(process)` returns the exit code."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        code = wait(process)
        out.seek(0)
        err.seek(0)
        return code, out.read().decode(errors="replace"), err.read().decode(errors="replace")


def read_hwm(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * KIB
    except (FileNotFoundError, ProcessLookupError, ValueError):
        pass
    return 0


def timed(command, env):
    """Runs `command`; returns (seconds, peak resident bytes, stdout).
    Wine runs a Windows program in the process it was started as, after two
    execs (wine64, then its preloader), so the child's VmHWM, polled while it
    runs, is the Windows program's. wait4's ru_maxrss is not: it keeps the
    peak of the images before the execs, which is larger than the whole
    Windows program's once the runtime DLLs are stripped."""
    measured = {}

    def wait(process):
        stop = threading.Event()

        def poll():
            while not stop.wait(0.01):
                measured["polled"] = max(measured.get("polled", 0), read_hwm(process.pid))
        poller = threading.Thread(target=poll, daemon=True)
        poller.start()
        _, status = os.waitpid(process.pid, 0)
        measured["seconds"] = time.perf_counter() - start
        stop.set()
        poller.join()
        process.returncode = os.waitstatus_to_exitcode(status)
        measured["peak"] = measured.get("polled", 0)
        return process.returncode

    start = time.perf_counter()
    code, stdout, stderr = run_captured(command, env, wait)
    if code != 0:
        die(f"{' '.join(command)} failed ({code}):\n{stdout[-2000:]}{stderr[-2000:]}")
    return measured["seconds"], measured["peak"], stdout


def server_pid(env):
    """The prefix's wineserver: its working folder is named for the device
    and inode of the prefix."""
    prefix = os.stat(env["WINEPREFIX"])
    key = f"server-{prefix.st_dev:x}-{prefix.st_ino:x}"
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink(f"/proc/{pid}/cwd").endswith("/" + key):
                return int(pid)
        except OSError:
            pass
    die(f"no wineserver runs for {env['WINEPREFIX']}")


def strace_calls(summary):
    """The total number of calls in an `strace -c` summary file."""
    for line in open(summary):
        fields = line.split()
        if fields and fields[-1] == "total":
            return int(fields[3])
    return 0


def counted(command, env):
    """Runs `command` once, untimed, and counts its requests: for a Windows
    program the system calls the prefix's wineserver makes meanwhile, which
    is where its requests to Wine are served (tracing the program as well
    would slow the run tenfold); for a native program its own system calls.
    Unlike times, the counts do not depend on the machine or on what else
    runs on it."""
    with tempfile.TemporaryDirectory() as folder:
        summary = os.path.join(folder, "calls")
        trace = ["strace", "-c", "-f", "-q", "-o", summary]
        quiet = dict(env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if command[0] == "wine":
            server = subprocess.Popen(trace + ["-p", str(server_pid(env))], stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
            time.sleep(0.5)  # attached
            code = subprocess.run(command, **quiet).returncode
            server.send_signal(signal.SIGINT)
            server.wait()
        else:
            code = subprocess.run(trace + command, **quiet).returncode
        if code != 0:
            die(f"{' '.join(command)} failed ({code}) while its calls were counted")
        return strace_calls(summary)


def trash_of(scratch):
    return os.path.join(scratch, "trash")


def prepare(output):
    """Untimed, right before a run: the folder that will hold the output
    exists, the output itself does not."""
    if output:
        shutil.rmtree(output, ignore_errors=True)
        os.makedirs(os.path.dirname(output), exist_ok=True)


def finish(output, dispose):
    """Untimed, right after a run is checked: sync writes its output back, so
    no later run pays for that writeback, then `dispose` takes the output
    away, and the next run starts at once, reusing the page cache the output
    held (see HeldFreeMemory)."""
    os.sync()
    if output:
        dispose(output)


def discard(output):
    shutil.rmtree(output, ignore_errors=True)


def set_aside(trash):
    """For outputs of many files: moved into `trash`, deleted after the last
    workload. ext4 skips inodes freed in the last five minutes when it
    allocates new ones, so deleting thousands of files before each run would
    make every run slower than the one before."""
    def dispose(output):
        if os.path.exists(output):
            os.makedirs(trash, exist_ok=True)
            os.rename(output, os.path.join(trash, str(time.monotonic_ns())))
    return dispose


class HeldFreeMemory:
    """On a virtual machine with free page reporting, the hypervisor takes
    back guest memory as soon as it is freed; the next run's writes fault it
    back in, at up to two seconds per GiB, on some runs and not others: a
    1 GiB dd swings from 0.2 to 2 s. Asked to (`hold`, as root), memory is
    kept free for longer than a run before it is reported, so every
    contender reuses the page cache the last output held, and the setting is
    restored at the end, also when the run is stopped. Otherwise nothing on
    the machine changes, and the results say that runs may swing."""
    KNOB = "/sys/module/page_reporting/parameters/min_free_ms"
    HOLD_MS = 60_000

    def __init__(self, hold):
        self.hold = hold
        self.saved = None
        self.state = "free page reporting: none on this machine"

    def __enter__(self):
        if not os.path.exists(self.KNOB):
            return self
        current = open(self.KNOB).read().strip()
        if not self.hold:
            self.state = (f"free page reporting left as it was (min_free_ms {current}; --hold-free-memory "
                          f"holds it off): single copy runs may swing")
            return self
        try:
            with open(self.KNOB, "w") as knob:
                knob.write(str(self.HOLD_MS))
            self.saved = current
            self.state = (f"free page reporting held off for the run, as asked with --hold-free-memory "
                          f"(min_free_ms {current} -> {self.HOLD_MS}, restored after)")
        except OSError as error:
            self.state = (f"free page reporting left on ({error.strerror} on {self.KNOB}): "
                          f"single copy runs swing widely")
        return self

    def __exit__(self, *_):
        if self.saved is not None:
            with open(self.KNOB, "w") as knob:
                knob.write(self.saved)


def alternate(contenders, rounds, output, label, dispose=discard, warmups=1):
    """`warmups` untimed rounds, then `rounds` rounds; each round starts with
    the next contender, so none always runs right after the same one. Every
    run writes to `output` (None: the contender writes nothing), which
    `dispose` takes away once it is checked."""
    n = len(contenders)
    os.sync()  # the data sets just generated or read
    for r in range(-warmups, rounds):
        order = contenders[r % n:] + contenders[:r % n] if r >= 0 else contenders
        times = []
        for c in order:
            prepare(output)
            seconds, peak, stdout = timed(c.command(output), c.env)
            if c.parse:
                seconds = c.parse(stdout)
            if c.check:
                problem = c.check(output, r == -warmups)  # contents compared once
                if problem:
                    die(f"{label}: {c.name} produced a wrong copy: {problem}")
            finish(output, dispose)
            if r >= 0:
                c.seconds.append(seconds)
                c.peaks.append(peak)
            times.append(f"{seconds:.2f}" + (f" ({peak / MIB:.1f} MiB)" if peak else ""))
        print(f"  {label}: {'warm-up' if r < 0 else f'round {r + 1}/{rounds}'}: "
              f"{', '.join(f'{contenders.index(c) + 1}={t}' for c, t in zip(order, times))} s", flush=True)


def count_calls(contenders, output, items, dispose=discard):
    """One counted run of each contender: its requests per item copied or
    listed."""
    for c in contenders:
        prepare(output)
        calls = counted(c.command(output), c.env)
        finish(output, dispose)
        c.calls = calls / items
    print(f"  counted calls of {len(contenders)} contenders", flush=True)
