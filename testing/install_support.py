"""Helpers for the install engine's end-to-end tests: what a package carries, what an install
left behind (files, record, shortcuts, work folders), packages built on the fly, a tiny drive."""
import contextlib
import os
import subprocess
import tempfile
import unittest
from hashlib import sha256
from pathlib import Path

from pe_resources import RT_RCDATA, read_resources
from winetest import TESTAPPS, pack

PROGRAMS = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs"
DESKTOP = r"C:\users\Public\Desktop"
SHORTCUT_NAMES = ("Velmora.lnk", "岫澜.lnk", "岫澜 (Velmora).lnk")


class Package:
    def __init__(self, exe):
        resources = read_resources(exe)
        self.manifest = resources[(RT_RCDATA, 1000)]
        lines = (line.split("\t") for line in self.manifest.decode("utf-8").splitlines())
        self.files = {relative.replace("/", "\\"): resources[(RT_RCDATA, int(number))]
                      for number, relative, *_ in lines}


def installed_problems(prefix, folder, package):
    """Differences between the folder and the package (files, record), as texts."""
    expected = {**package.files, ".install-manifest": package.manifest}
    found = {name: prefix.unix(folder + "\\" + name).read_bytes() for name in prefix.listing(folder)}
    problems = [f"{name} is missing, extra or differs from the package"
                for name in sorted(set(found) | set(expected), key=str.lower) if found.get(name) != expected.get(name)]
    if prefix.attributes(folder + "\\.install-manifest") & 0x7 != 0x2:
        problems.append(".install-manifest is not hidden-only")
    return problems


def lnk_info(path):
    """{field: value} as Debian's lnkinfo prints it ("Local path", "Working directory", ...)."""
    output = subprocess.run(["lnkinfo", str(path)], capture_output=True, text=True).stdout
    fields = [line.partition(":") for line in output.splitlines() if line.startswith("\t")]
    return {name.strip(): value.strip() for name, sep, value in reversed(fields) if sep and name.strip()}


def shortcuts(prefix):
    return {folder: [n for n in SHORTCUT_NAMES if prefix.exists(folder + "\\" + n)] for folder in (PROGRAMS, DESKTOP)}


def work_folders(prefix, folder):
    path = prefix.unix(folder)
    names = os.listdir(path.parent) if path.parent.is_dir() else []
    return sorted(n for n in names if n.startswith((path.name + ".staging-", path.name + ".backup-")))


def tree_state(root):
    """{path below a Unix folder: digest, "link" or None (a folder)}; a file: its digest; missing: None."""
    def state(path):
        return "link" if path.is_symlink() else None if path.is_dir() else sha256(path.read_bytes()).hexdigest()
    root = Path(root)
    if not root.is_dir():
        return state(root) if root.exists() else None
    return {str(path.relative_to(root)): state(path) for path in root.rglob("*")}


def placeholder_payload():
    """The three files every package holds at its top: stand-ins but a real Velmora.exe."""
    return {"Velmora.exe": (TESTAPPS / "Velmora.exe").read_bytes(), "Uninstall.exe": b"MZ uninstall stand-in",
            "Velmora.Maintenance.exe": b"MZ maintenance stand-in"}


def build_package(output, files, descriptor=None, kit=None):
    """A setup package of {relative path: bytes}; with descriptor (a runtime descriptor file) it
    fetches the runtime when it is missing; kit replaces the build's kit (the kill-point kit)."""
    with tempfile.TemporaryDirectory(prefix="velmora-payload-") as work:
        for relative, data in files.items():
            target = Path(work, relative.replace("\\", "/"))
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(data)
        args = ["--runtime-descriptor", descriptor] if descriptor else ["--no-descriptor"]
        code, err = pack(output, "--payload", work, *args, *(["--kit", kit] if kit else []))
        assert code == 0, err
    return Path(output)


@contextlib.contextmanager
def small_drive(prefix, letter, size, inodes):
    """A tmpfs of the given size mapped as a drive of the prefix; writes beyond it fail with
    ERROR_DISK_FULL. Skips the test where this run may not mount one (not root)."""
    with tempfile.TemporaryDirectory(prefix="velmora-drive-") as mount_point:
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},nr_inodes={inodes}", "tmpfs",
                                  mount_point], stderr=subprocess.PIPE, text=True)
        if mounted.returncode != 0:
            raise unittest.SkipTest(f"a tmpfs could not be mounted: {mounted.stderr.strip()}")
        link = prefix.path / "dosdevices" / f"{letter.lower()}:"
        try:
            link.symlink_to(mount_point)
            yield mount_point
        finally:
            link.unlink(missing_ok=True)
            subprocess.run(["umount", mount_point], check=False)
