"""The workloads, each a table and a verdict against its target: buffer
sizes, large files, small files with 1 to 8 threads, the wide folder, and
listing."""

import os
import re
import statistics

from .contenders import (DEFAULT_BUFFER, Contender, checked, host_backup, host_name, native, rawcopy,
                         xcopy)
from .datasets import generate, make_flat, make_large, make_tree, warm
from .tables import Table, verdict
from .units import GIB, MIB, size_text, windows_path
from .watch import alternate, count_calls, set_aside, trash_of, die

# Buffer sizes tried for the large files; the host accepts up to 64M.
BUFFERS = ["64K", "128K", "256K", "512K", "1M", "2M", "4M", "8M"]
# The host's default thread count (host/cli/Arguments.h).
DEFAULT_THREADS = 4
SMALL_THREADS = [1, 2, 4, 8]
LARGE_THREADS = [1, 2, DEFAULT_THREADS]


def default_verdict(table, hosts, label):
    """Whether the default worker count holds against the best fixed count
    of the same rounds."""
    default = host_name(DEFAULT_THREADS)
    best = max((h.name for h in hosts), key=table.rate)
    share = table.rate(default) / table.rate(best)
    return verdict(share >= 0.9, f"{label}: the default, {DEFAULT_THREADS} workers, at {share:.2f} of the best fixed "
                                 f"count ({best}) (target 0.90)")


def bench_buffers(wine, scratch, data, sizes, rounds, results):
    shape = sizes["large"]
    source = generate(scratch, "large", shape, make_large(**shape))
    warm(source)
    total = shape["files"] * shape["size"]
    contenders = checked(source, [host_backup(wine, data, source, 1, b) for b in BUFFERS])
    # The first workload of a run: copies in the first half minute after
    # free page reporting was held off came out a third slower, and rotating
    # the order spreads that over the medians unevenly. Three rounds settle it.
    alternate(contenders, rounds, os.path.join(scratch, "large", "out"), "buffers", warmups=3)
    count_calls(contenders, os.path.join(scratch, "large", "out"), shape["files"])
    best = min(contenders, key=lambda c: statistics.median(c.seconds))
    table = Table(f"buffer sizes for (a), one thread, {rounds} rounds", "MiB/s", total / MIB, best.name)
    for c in contenders:
        table.add(c.name, c.seconds, calls=c.calls)
    fastest = min(contenders, key=lambda c: min(c.seconds))
    results["best_buffer"] = BUFFERS[contenders.index(best)]
    table.notes.append(f"Fastest median: {results['best_buffer']}; fastest single run: "
                       f"{BUFFERS[contenders.index(fastest)]}.")
    results["buffers"] = table


def bench_large(wine, scratch, data, sizes, rounds, results):
    shape = sizes["large"]
    source = generate(scratch, "large", shape, make_large(**shape))
    warm(source)
    total = shape["files"] * shape["size"]
    dd = native("native dd bs=1M (ceiling)",
                'mkdir -p "$2" && for f in "$1"/*; do dd if="$f" of="$2/${f##*/}" bs=1M status=none; done',
                source, wine.env)
    # What every Windows contender pays and dd does not: CREATE_ALWAYS, which
    # the plug-in's write mode uses like CopyFileExW, makes Wine create the
    # file and then truncate it, and ext4 answers a truncate to zero by
    # writing the file back when it is closed (its replace-by-truncate
    # safeguard). dd truncating a file that exists pays the same.
    dd_truncating = native("native dd bs=1M into existing files (CREATE_ALWAYS's truncate)",
                           'mkdir -p "$2" && for f in "$1"/*; do t="$2/${f##*/}"; : > "$t"; '
                           'dd if="$f" of="$t" bs=1M status=none; done', source, wine.env)
    # With the sweep's best buffer too, when it ran first.
    best = results.get("best_buffer", DEFAULT_BUFFER)
    hosts = [host_backup(wine, data, source, t) for t in LARGE_THREADS]
    if best != DEFAULT_BUFFER:
        hosts.append(host_backup(wine, data, source, 1, best))
    contenders = checked(source, hosts + [rawcopy(wine, source), xcopy(wine, source), dd, dd_truncating])
    # The fixed cost in every Windows contender's time: starting a program
    # under Wine, measured as each copying an empty folder.
    empty = generate(scratch, "empty", {}, lambda folder: None)
    startups = [host_backup(wine, data, empty, 1), rawcopy(wine, empty)]
    alternate(contenders + startups, rounds, os.path.join(scratch, "large", "out"), "large files")
    count_calls(contenders, os.path.join(scratch, "large", "out"), shape["files"])
    table = Table(f"(a) large files: {shape['files']} files of {size_text(shape['size'])}, "
                  f"{total / GIB:.2f} GiB, {rounds} rounds", "MiB/s", total / MIB, dd.name)
    for c in contenders:
        table.add(c.name, c.seconds, c.peaks if c not in (dd, dd_truncating) else None, c.calls)
    raw, copy = contenders[len(hosts)].name, contenders[len(hosts) + 1].name
    if best != DEFAULT_BUFFER:
        table.notes.append(f"The buffer sweep's fastest median, {best}, copied at "
                           f"{table.ratio(hosts[-1].name, hosts[0].name):.2f} of the default {DEFAULT_BUFFER}'s "
                           f"speed here, in the same rounds.")
    host_start, raw_start = (statistics.median(c.seconds) for c in startups)
    table.notes.append(f"Starting under Wine, part of every Windows contender's time (medians): the host, which "
                       f"also loads the plug-in and creates its two instances, {host_start:.3f} s; the raw loop "
                       f"{raw_start:.3f} s.")
    results["large"] = table
    host = max((h.name for h in hosts[:len(LARGE_THREADS)]), key=table.rate)
    results["verdicts"].append(default_verdict(table, hosts[:len(LARGE_THREADS)], "(a) large files"))
    results["verdicts"].append(verdict(
        table.ratio(host) >= 0.7 and table.ratio(host, copy) > 1,
        f"(a) {host}, the fastest of {', '.join(map(str, LARGE_THREADS))} threads: {table.ratio(host):.2f} of native dd (target 0.70) and "
        f"{table.ratio(host, dd_truncating.name):.2f} of dd paying CREATE_ALWAYS's truncate; "
        f"{table.ratio(host, copy):.2f}x xcopy (target: ahead), {table.ratio(host, raw):.2f}x the raw loop; "
        f"one thread: {table.ratio(hosts[0].name):.2f} of dd, {table.ratio(hosts[0].name, copy):.2f}x xcopy; "
        f"fastest runs: {table.best_ratio(host):.2f} of dd, {table.best_ratio(host, copy):.2f}x xcopy"))


def tree_contenders(wine, scratch, data, sizes, name, threads):
    """The tree data set `name`, and the host with each of `threads`, the
    raw loop and xcopy copying it."""
    shape = sizes[name]
    source = generate(scratch, name, shape, make_tree(**shape))
    warm(source)
    hosts = [host_backup(wine, data, source, t) for t in threads]
    return shape, source, hosts, rawcopy(wine, source), xcopy(wine, source)


def bench_small(wine, scratch, data, sizes, rounds, results):
    shape, source, hosts, raw, copy = tree_contenders(wine, scratch, data, sizes, "small", SMALL_THREADS)
    cp = native("native cp -a (ceiling)", 'cp -a "$1" "$2"', source, wine.env)
    # The raw loop paying what every path mapping of the plug-in pays by
    # design, a registry read, four times a file (the two Opens, the check
    # that the source did not change while read, ApplyFileInfo).
    reads = rawcopy(wine, source, "raw loop + 4 registry reads per file", ["--mapping-reads", "4"])
    contenders = checked(source, hosts + [raw, reads, copy, cp])
    files = shape["folders"] * shape["per_folder"]
    output, dispose = os.path.join(scratch, "small", "out"), set_aside(trash_of(scratch))
    alternate(contenders, rounds, output, "small files", dispose)
    count_calls(contenders, output, files, dispose)
    table = Table(f"(b) small files: {files:,} files of {size_text(shape['size'])} in {shape['folders']} folders, "
                  f"{rounds} rounds", "files/s", files, raw.name)
    for c in contenders:
        table.add(c.name, c.seconds, c.peaks if c is not cp else None, c.calls)
    results["small"] = table
    table.notes.append(f"The registry reads cost {table.median(reads.name) - table.median(raw.name):.1f} s of the "
                       f"raw loop's {table.median(raw.name):.1f} s.")
    best = max((h.name for h in hosts), key=table.rate)
    results["verdicts"].append(default_verdict(table, hosts, "(b) small files"))
    results["verdicts"].append(requests_verdict(wine, scratch, data, files, hosts, reads))
    most = hosts[-1]
    peak = max(most.peaks)
    results["verdicts"].append(verdict(
        table.ratio(best, copy.name) >= 1.3 and table.ratio(best) >= 1.2,
        f"(b) {best}, the fastest: {table.ratio(best, copy.name):.2f}x xcopy's files/s (target 1.3), "
        f"{table.ratio(best):.2f}x the raw loop's (target 1.2); one thread: {table.ratio(hosts[0].name):.2f}x the "
        f"raw loop, {table.ratio(hosts[0].name, copy.name):.2f}x xcopy; fastest runs: "
        f"{table.best_ratio(best, copy.name):.2f}x xcopy, {table.best_ratio(best):.2f}x the raw loop"))
    results["verdicts"].append(verdict(
        peak < 64 * MIB,
        f"(d) peak memory with {SMALL_THREADS[-1]} threads {peak / MIB:.1f} MiB (target under 64); one thread "
        f"{max(hosts[0].peaks) / MIB:.1f} MiB"))


def requests_verdict(wine, scratch, data, files, hosts, reads):
    """The requests each file costs the host, with one worker and with the
    default, against the raw loop with the plug-in's registry reads. Each
    program's start (loading the plug-in, making every worker's instances)
    is counted on an empty folder and taken out: spread over the files it
    would favour the smaller program, more so the fewer the files."""
    one, default = hosts[0], next(h for h in hosts if h.name == host_name(DEFAULT_THREADS))
    empty = os.path.join(scratch, "empty", "src")
    os.makedirs(empty, exist_ok=True)
    starts = [host_backup(wine, data, empty, 1), host_backup(wine, data, empty, DEFAULT_THREADS),
              rawcopy(wine, empty, options=["--mapping-reads", "4"])]
    count_calls(starts, os.path.join(scratch, "empty", "out"), files)
    net = [c.calls - start.calls for c, start in zip((one, default, reads), starts)]
    return verdict(
        net[0] <= net[2] and net[1] <= 1.1 * net[0],
        f"(b) requests per file, starts taken out: one worker {net[0]:.1f}, the raw loop with the plug-in's four "
        f"registry reads {net[2]:.1f} (target: no more); {DEFAULT_THREADS} workers {net[1]:.1f}, "
        f"{net[1] / net[0]:.3f}x one worker (target 1.10 at most)")


def bench_wide(wine, scratch, data, sizes, rounds, results):
    shape, source, hosts, raw, copy = tree_contenders(wine, scratch, data, sizes, "wide", [1, DEFAULT_THREADS])
    contenders = checked(source, hosts + [raw, copy])
    files = shape["folders"] * shape["per_folder"]
    output, dispose = os.path.join(scratch, "wide", "out"), set_aside(trash_of(scratch))
    alternate(contenders, rounds, output, "wide folder", dispose)
    count_calls(contenders, output, files, dispose)
    table = Table(f"(e) one wide folder: {files:,} files of {size_text(shape['size'])}, {rounds} rounds", "files/s",
                  files, raw.name)
    for c in contenders:
        table.add(c.name, c.seconds, c.peaks, c.calls)
    small = results.get("small")
    if small is not None:
        table.notes.append(f"The same contenders in (b)'s folders of {sizes['small']['per_folder']}: the raw loop "
                           f"{small.rate(small.baseline):,.0f} files/s, xcopy {small.rate('xcopy /E /I /H /K'):,.0f}, "
                           f"the host with one thread {small.rate(host_name(1)):,.0f}.")
    results["wide"] = table
    results["verdicts"].append(default_verdict(table, hosts, "(e) wide folder"))
    default = hosts[-1].name
    results["verdicts"].append(verdict(
        table.ratio(default) >= 0.9,
        f"(e) {default}: {table.ratio(default):.2f} of the raw loop's files/s in one folder of {files:,} (target "
        f"0.90), {table.ratio(default, copy.name):.2f}x xcopy; one thread {table.ratio(hosts[0].name):.2f} of the "
        f"raw loop"))


def listbench(wine, mode, repeat, folder, data):
    argv = ["wine", wine.program("listbench.exe"), mode, str(repeat)]
    return argv + ([windows_path(folder), windows_path(data)] if folder else [])


def parse_listing(expected):
    """Seconds from listbench's output, after checking it saw `expected` entries."""
    def parse(stdout):
        match = re.search(r"(entries|calls) ([0-9]+) seconds ([0-9.]+)", stdout)
        if not match:
            die(f"listbench printed no time: {stdout!r}")
        if match.group(1) == "entries" and int(match.group(2)) != expected:
            die(f"listbench saw {match.group(2)} entries instead of {expected}")
        return float(match.group(3))
    return parse


def bench_listing(wine, scratch, data, sizes, rounds, results):
    entries = sizes["flat"]["entries"]
    folder = generate(scratch, "flat", sizes["flat"], make_flat(entries))
    empty = generate(scratch, "empty", {}, lambda folder: None)
    calls = sizes["empty_listings"]
    mappings = sizes["mapping_calls"]

    modes = [("raw FindFirstFileW/FindNextFileW", "raw"), ("ListFolder, ACL copying off", "plugin"),
             ("ListFolder, ACL copying on", "plugin-acl")]
    listings = [Contender(name, lambda out, m=m: listbench(wine, m, 1, folder, data),
                          parse=parse_listing(entries)) for name, m in modes]
    probes = [Contender(f"{name}, empty folder x{calls:,}", lambda out, m=m: listbench(wine, m, calls, empty, data),
                        parse=parse_listing(0)) for name, m in modes[:2]]
    probes.append(Contender(f"registry read of one path mapping x{mappings:,}",
                            lambda out: listbench(wine, "registry", mappings, None, None),
                            parse=parse_listing(None)))
    everything = listings + probes
    for c in everything:
        c.env = wine.env
    alternate(everything, rounds, None, "listing")
    count_calls(listings, None, entries)
    raw, off, on = (c.name for c in listings)
    table = Table(f"(c) listing one folder of {entries:,} entries (time inside the program, "
                  f"loading excluded), {rounds} rounds", "entries/s", entries, raw, item="entry")
    for c in listings:
        table.add(c.name, c.seconds, calls=c.calls)
    per_call = {c.name: statistics.median(c.seconds) / (calls if c is not probes[2] else mappings) * 1e6
                for c in probes}
    raw_empty, plugin_empty, registry = (per_call[c.name] for c in probes)
    table.notes.append(
        f"Per call, medians: ListFolder of an empty folder {plugin_empty:.1f} us, raw FindFirstFileW/FindNextFileW "
        f"of it {raw_empty:.1f} us; the registry read every path mapping makes (HKCU\\Network enumerated) "
        f"{registry:.1f} us on its own.")
    results["listing"] = table
    results["mapping_us"] = registry
    results["verdicts"].append(verdict(
        table.ratio(off) >= 0.8,
        f"(c) ListFolder at {table.ratio(off):.2f} of the raw loop's entries/s with ACL copying off (target 0.80); "
        f"{table.ratio(on):.2f} with it on"))
