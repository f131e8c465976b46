"""Helpers for the install engine's end-to-end tests: what a package carries, what an
install left behind (files, record, shortcuts read by lnkinfo, work folders), small
packages built on the fly and a tiny full drive."""
import contextlib
import hashlib
import os
import subprocess
import tempfile
import unittest
from pathlib import Path

from pe_resources import RT_RCDATA, read_resources
from winetest import TESTAPPS, pack

PROGRAMS = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs"
DESKTOP = r"C:\users\Public\Desktop"
SHORTCUT_NAMES = ("Velmora.lnk", "岫澜.lnk", "岫澜 (Velmora).lnk")


class Package:
    """The manifest and packaged files of a setup program, read from its resources."""

    def __init__(self, exe):
        resources = read_resources(exe)
        self.manifest = resources[(RT_RCDATA, 1000)]
        self.files = {}
        for line in self.manifest.decode("utf-8").splitlines():
            resource_id, relative = line.split("\t")[:2]
            self.files[relative.replace("/", "\\")] = resources[(RT_RCDATA, int(resource_id))]


def installed_problems(prefix, folder, package):
    """Differences between the folder and the package (files, record), as texts."""
    problems = []
    expected = sorted(list(package.files) + [".install-manifest"], key=str.lower)
    found = sorted(prefix.listing(folder), key=str.lower)
    if found != expected:
        problems.append(f"files {found} != {expected}")
    for relative, data in list(package.files.items()) + [(".install-manifest", package.manifest)]:
        path = prefix.unix(folder + "\\" + relative)
        if path.exists() and path.read_bytes() != data:
            problems.append(f"{relative} differs from the package")
    if prefix.attributes(folder + "\\.install-manifest") & 0x7 != 0x2:
        problems.append(".install-manifest is not hidden-only")
    return problems


def lnk_info(path):
    """{field: value} as Debian's lnkinfo prints it ("Local path", "Working directory", ...)."""
    result = subprocess.run(["lnkinfo", str(path)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    fields = {}
    for line in result.stdout.splitlines():
        name, sep, value = line.partition(":")
        if sep and name.strip() and name.startswith("\t"):
            fields.setdefault(name.strip(), value.strip())
    return fields


def shortcuts(prefix):
    """Names of our shortcuts present in each folder: {folder: [names]}."""
    return {folder: [n for n in SHORTCUT_NAMES if prefix.exists(folder + "\\" + n)] for folder in (PROGRAMS, DESKTOP)}


def work_folders(prefix, folder):
    """Staging and backup folders left beside an installation folder."""
    path = prefix.unix(folder)
    if not path.parent.is_dir():
        return []
    return sorted(p.name for p in path.parent.iterdir() if p.name.startswith((path.name + ".staging-",
                                                                              path.name + ".backup-")))


def tree_state(root):
    """Every path below a Unix folder with its content digest (None for folders)."""
    root = Path(root)
    if not root.exists():
        return None
    state = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames:
            state[os.path.relpath(os.path.join(dirpath, name), root)] = None
        for name in filenames:
            full = Path(dirpath, name)
            state[os.path.relpath(full, root)] = "link" if full.is_symlink() else \
                hashlib.sha256(full.read_bytes()).hexdigest()
    return state


def placeholder_payload():
    """The three files every package must hold at its top, small stand-ins but a real
    Velmora.exe so that shortcuts and the running check have a program."""
    return {"Velmora.exe": (TESTAPPS / "Velmora.exe").read_bytes(), "Uninstall.exe": b"MZ uninstall stand-in",
            "Velmora.Maintenance.exe": b"MZ maintenance stand-in"}


def build_package(output, files, manifest_lines=None, descriptor=None, kit=None):
    """A setup package of the given {relative path: bytes}. With manifest_lines (a function
    of the correct lines) it is built raw, so that the manifest may lie; with descriptor
    (a runtime descriptor file) it fetches the runtime when it is missing; kit replaces
    the build's kit (the kill-point kit)."""
    with tempfile.TemporaryDirectory(prefix="velmora-payload-") as work:
        work = Path(work)
        args = ["--kit", kit] if kit else []
        if manifest_lines is None:
            for relative, data in files.items():
                target = work / "payload" / relative.replace("\\", "/")
                target.parent.mkdir(parents=True, exist_ok=True)
                target.write_bytes(data)
            args += ["--payload", work / "payload"]
            args += ["--runtime-descriptor", descriptor] if descriptor else ["--no-descriptor"]
        else:
            lines = []
            for index, (relative, data) in enumerate(files.items()):
                (work / f"f{index}").write_bytes(data)
                args += ["--resource", f"{1001 + index}={work / f'f{index}'}"]
                lines.append(f"{1001 + index}\t{relative}\t{len(data)}\t{hashlib.sha256(data).hexdigest().upper()}")
            (work / "manifest.txt").write_bytes(("\n".join(manifest_lines(lines)) + "\n").encode("utf-8"))
            args += ["--manifest", work / "manifest.txt"]
        code, err = pack(output, *args)
        assert code == 0, err
    return Path(output)


@contextlib.contextmanager
def small_drive(prefix, letter, size="256k", inodes=64):
    """A tmpfs of the given size mapped as a drive of the prefix; writes beyond it fail
    with ERROR_DISK_FULL. Skips the test where this run may not mount one."""
    if os.geteuid() != 0:
        raise unittest.SkipTest("mounting a small drive needs root")
    mount_point = Path(tempfile.mkdtemp(prefix="velmora-drive-"))
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},nr_inodes={inodes}", "tmpfs",
                              str(mount_point)], stderr=subprocess.PIPE, text=True)
    if mounted.returncode != 0:
        mount_point.rmdir()
        raise unittest.SkipTest(f"a tmpfs could not be mounted: {mounted.stderr.strip()}")
    link = prefix.path / "dosdevices" / f"{letter.lower()}:"
    try:
        link.symlink_to(mount_point)
        yield mount_point
    finally:
        if link.is_symlink():
            link.unlink()
        subprocess.run(["umount", str(mount_point)], check=False)
        mount_point.rmdir()
