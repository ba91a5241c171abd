"""The results: tables of medians, minima and maxima with ratios to a
baseline row, the machine they ran on, and verdicts against the targets."""

import os
import platform
import statistics
import subprocess

from .units import MIB


class Table:
    def __init__(self, title, unit, amount, baseline, item="file"):
        self.title = title
        self.item = item          # what the calls are counted per
        self.unit = unit          # "MiB/s", "files/s", "entries/s"
        self.amount = amount      # work per run in that unit's numerator
        self.baseline = baseline  # name of the row the ratios refer to
        self.rows = []
        self.calls = {}           # name -> requests per item (see watch.counted)
        self.notes = []

    def add(self, name, seconds, peak=None, calls=None):
        self.rows.append((name, seconds, peak))
        if calls is not None:
            self.calls[name] = calls

    def median(self, name):
        for n, s, _ in self.rows:
            if n == name:
                return statistics.median(s)
        raise KeyError(name)

    def rate(self, name):
        return self.amount / self.median(name)

    def ratio(self, name, to=None):
        return self.median(to or self.baseline) / self.median(name)

    def best(self, name):
        for n, s, _ in self.rows:
            if n == name:
                return min(s)
        raise KeyError(name)

    def best_ratio(self, name, to=None):
        """The ratio of the fastest runs: what is left when the machine's
        disturbances, which only ever add time, are least."""
        return self.best(to or self.baseline) / self.best(name)

    def markdown(self):
        has_peak = any(p for _, _, p in self.rows)
        has_calls = bool(self.calls)
        head = f"| contender | median s | min s | max s | {self.unit} | vs {self.baseline} | same, min s |"
        head += " peak MiB |" if has_peak else ""
        head += f" requests/{self.item} |" if has_calls else ""
        lines = [f"**{self.title}**", "", head,
                 "|---|---:|---:|---:|---:|---:|---:|" + ("---:|" if has_peak else "") + ("---:|" if has_calls else "")]
        for name, seconds, peaks in self.rows:
            m = statistics.median(seconds)
            line = (f"| {name} | {m:.3f} | {min(seconds):.3f} | {max(seconds):.3f} | "
                    f"{self.amount / m:,.0f} | {self.ratio(name):.2f} | {self.best_ratio(name):.2f} |")
            if has_peak:
                line += f" {max(peaks) / MIB:.1f} |" if peaks else " |"
            if has_calls:
                calls = self.calls.get(name)
                line += f" {calls:,.1f} |" if calls is not None else " |"
            lines.append(line)
        lines += [""] + self.notes
        return "\n".join(lines)


def machine_text(scratch, memory):
    """The machine, without its paths: results are shared."""
    mem = next(l.split()[1] for l in open("/proc/meminfo") if l.startswith("MemTotal"))
    cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
    device = subprocess.run(["df", "--output=source,fstype", scratch], stdout=subprocess.PIPE,
                            text=True).stdout.splitlines()[-1].split()
    disk = device[0]
    rotational = f"/sys/block/{os.path.basename(disk)}/queue/rotational"
    kind = ""
    if os.path.exists(rotational):
        kind = ", rotational" if open(rotational).read().strip() == "1" else ", non-rotational"
    wine = subprocess.run(["wine", "--version"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          text=True).stdout.strip()
    dirty = "/".join(open(f"/proc/sys/vm/{k}").read().strip()
                     for k in ("dirty_background_ratio", "dirty_ratio", "dirty_expire_centisecs"))
    return (f"- CPU: {cpu}, `nproc` {os.cpu_count()}\n"
            f"- RAM: {int(mem) // 1024} MiB\n"
            f"- disk: {os.path.basename(disk)} ({device[1]}{kind})\n"
            f"- kernel {platform.release()}, vm.dirty_background_ratio/dirty_ratio/dirty_expire_centisecs {dirty}"
            f"\n- {memory.state}\n"
            f"- {wine}, load average at start {os.getloadavg()[0]:.2f}")


def verdict(met, text):
    return f"- {'MET' if met else 'MISSED'}: {text}"
