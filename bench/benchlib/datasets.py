"""The data sets: generated once into the scratch folder and reused while
their description stays the same, and the checks that a copy of one is
whole."""

import os
import shutil

from .units import KIB, MIB

def sizes(quick):
    """The data sets of a full run, or a tenth of each for a smoke check."""
    part = 10 if quick else 1
    return {
        "large": dict(files=4, size=(16 if quick else 256) * MIB),
        "small": dict(folders=200 // part, per_folder=100, size=4 * KIB),
        # One folder of 10,000 files: Wine finds a name without regard to
        # case by reading the whole folder, so each new file costs in
        # proportion to the files already there, for every Windows program.
        "wide": dict(folders=1, per_folder=10_000 // part, size=4 * KIB),
        "flat": dict(entries=100_000 // part),
        "mapping_calls": 20_000 // part,
        "empty_listings": 5_000 // part,
    }


def write_file(path, size, block):
    with open(path, "wb") as out:
        left = size
        while left > 0:
            chunk = block[: min(left, len(block))]
            out.write(chunk)
            left -= len(chunk)


def generate(scratch, name, description, build):
    """Creates scratch/name/src unless a finished one with the same
    description is there; `build(folder)` fills it."""
    root = os.path.join(scratch, name)
    source = os.path.join(root, "src")
    stamp = os.path.join(root, "ready")
    wanted = repr(description)
    if os.path.isfile(stamp) and open(stamp).read() == wanted:
        return source
    print(f"generating {name}: {description}", flush=True)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(source)
    build(source)
    with open(stamp, "w") as out:
        out.write(wanted)
    return source


def make_large(files, size):
    block = os.urandom(MIB)

    def build(folder):
        for i in range(files):
            write_file(os.path.join(folder, f"large{i}.bin"), size, block)
    return build


def make_tree(folders, per_folder, size):
    content = os.urandom(size)

    def build(folder):
        for d in range(folders):
            sub = os.path.join(folder, f"dir{d:04d}")
            os.mkdir(sub)
            for f in range(per_folder):
                with open(os.path.join(sub, f"file{f:04d}.dat"), "wb") as out:
                    out.write(content)
    return build


def make_flat(entries):
    def build(folder):
        for i in range(entries):
            open(os.path.join(folder, f"entry{i:06d}"), "wb").close()
    return build


def tree_summary(folder):
    """(files, total bytes) below folder."""
    files = size = 0
    for base, _, names in os.walk(folder):
        files += len(names)
        size += sum(os.lstat(os.path.join(base, n)).st_size for n in names)
    return files, size


def same_contents(source, target):
    """True when every file below source is in target with the same bytes."""
    for base, _, names in os.walk(source):
        rel = os.path.relpath(base, source)
        for n in names:
            a = os.path.join(base, n)
            b = os.path.join(target, rel, n)
            if not os.path.isfile(b) or os.path.getsize(a) != os.path.getsize(b):
                return False
            with open(a, "rb") as fa, open(b, "rb") as fb:
                while True:
                    x = fa.read(MIB)
                    if x != fb.read(MIB):
                        return False
                    if not x:
                        break
    return True


def warm(folder):
    """Reads every file once so all contenders start from a warm page cache."""
    for base, _, names in os.walk(folder):
        for n in names:
            with open(os.path.join(base, n), "rb") as f:
                while f.read(MIB):
                    pass


def copy_check(source):
    """A check of a contender's output: the files and bytes of `source`, and
    on the first run also the same contents."""
    files, size = tree_summary(source)

    def check(output, thorough):
        got_files, got_size = tree_summary(output)
        if (got_files, got_size) != (files, size):
            return f"{got_files} files, {got_size} bytes instead of {files}, {size}"
        if thorough and not same_contents(source, output):
            return "contents differ"
        return None
    return check
