"""The contenders: the reference host's backup, the raw Win32 loop, Wine's
xcopy and the native Linux copy, each a command line for an output folder."""

from .datasets import copy_check
from .units import virtual_path, windows_path
from .watch import SYSTEM32

# The host's default buffer (host/cli/Arguments.h), which the contender runs use:
# the same as the native dd bs=1M, so the comparison is buffer for buffer.
DEFAULT_BUFFER = "1M"


class Contender:
    def __init__(self, name, command, check=None, parse=None, env=None):
        self.name = name
        self.command = command  # function(output folder) -> argv
        self.check = check      # function(output folder, first) -> error text or None
        self.parse = parse      # function(stdout) -> seconds measured inside, or None
        self.env = env
        self.seconds = []
        self.peaks = []
        self.calls = None  # requests per item (see watch.counted)


def host_name(threads, buffer=DEFAULT_BUFFER):
    return f"host backup --threads {threads}" + ("" if buffer == DEFAULT_BUFFER else f" --buffer {buffer}")


def host_backup(wine, data, source, threads, buffer=DEFAULT_BUFFER):
    def command(output):
        return ["wine", wine.program("diskway-host.exe"), "--data", windows_path(data), "backup",
                virtual_path(source), virtual_path(output), "--buffer", buffer, "--threads", str(threads)]
    return Contender(host_name(threads, buffer), command, env=wine.env)


def rawcopy(wine, source, name="raw Win32 loop (rawcopy)", options=()):
    return Contender(name, lambda out: ["wine", wine.program("rawcopy.exe"), windows_path(source),
                                        windows_path(out), *options], env=wine.env)


def xcopy(wine, source):
    return Contender("xcopy /E /I /H /K",
                     lambda out: ["wine", SYSTEM32 + "xcopy.exe", "/E", "/I", "/H", "/K", "/Q", "/Y",
                                  windows_path(source), windows_path(out)], env=wine.env)


def native(name, script, source, env):
    """A bash `script` with the source as $1 and the output as $2."""
    return Contender(name, lambda out: ["bash", "-c", script, "native", source, out], env=env)


def checked(source, contenders):
    """`contenders`, each checked to have copied `source` whole."""
    check = copy_check(source)
    for c in contenders:
        c.check = check
    return contenders
