"""Sizes and the paths Wine's programs see."""

import os

KIB = 1024
MIB = 1024 * KIB
GIB = 1024 * MIB


def windows_path(path):
    """The Linux path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def virtual_path(path):
    """The Linux path in the plug-in's namespace (Z: is "/" under Wine)."""
    return "Z$" + os.path.abspath(path).replace("/", "\\")


def size_text(size):
    return f"{size // MIB} MiB" if size >= MIB else f"{size // KIB} KiB"
