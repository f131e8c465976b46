"""Uninstall tests: installations laid down by hand, the restart list, processes left running."""
import os
import re
import shutil
from pathlib import Path

from winetest import OUT, TESTAPPS, UNINSTALL_KEY, wait_until

MAINTENANCE = OUT / "Velmora.Maintenance.exe"
LAUNCHER = OUT / "Uninstall.exe"
SETUP = OUT / "VelmoraSetup.exe"
TEMP_FOLDER = r"C:\ProgramData\Velmora\installer-temp"
START_MENU_LINK = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Velmora.lnk"
DESKTOP_LINK = r"C:\users\Public\Desktop\Velmora.lnk"
LOCAL_APP_DATA = r"C:\users\root\AppData\Local\Velmora"
# A small installation: relative path, and bytes or the program to copy there.
SAMPLE_FILES = [("Velmora.exe", TESTAPPS / "Velmora.exe"), ("Uninstall.exe", LAUNCHER),
                ("Velmora.Maintenance.exe", MAINTENANCE),
                ("bin\\engine.dll", b"engine"), ("bin\\plugins\\scan.dll", b"scan"),
                ("resources\\strings\\zh-CN.txt", "你好".encode()), ("readme.txt", b"readme")]
# Its record, spelled in every way the worker must accept (CR LF, forward slashes, the
# programs in other letter case), with a file already gone and a folder listed.
RECORD = ["Velmora.exe", "UNINSTALL.EXE", "velmora.maintenance.exe", "bin\\engine.dll", "bin/plugins/scan.dll",
          "resources\\strings\\zh-CN.txt", "readme.txt", "missing\\gone.txt", "bin"]


def lay_down_installation(prefix, folder):
    """What an install leaves: files, the record listing them, shortcuts, the registry entry."""
    root = prefix.unix(folder)
    for relative, data in SAMPLE_FILES:
        target = root / relative.replace("\\", "/")
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(data, target) if isinstance(data, Path) else target.write_bytes(data)
    record = root / ".install-manifest"
    record.write_bytes("".join(f"{1001 + i}\t{path}\t1\t{'0' * 64}\r\n" for i, path in enumerate(RECORD)).encode())
    os.setxattr(record, "user.DOSATTRIB", b"0x22")
    for link in (START_MENU_LINK, DESKTOP_LINK):
        prefix.unix(link).parent.mkdir(parents=True, exist_ok=True)
        prefix.unix(link).write_bytes(b"L\0\0\0")
    launcher = folder + "\\Uninstall.exe"
    for name, data in (("DisplayName", "Velmora"), ("InstallLocation", folder),
                       ("UninstallString", f'"{launcher}" /uninstall'),
                       ("QuietUninstallString", f'"{launcher}" /uninstall /quiet')):
        prefix.reg_add(UNINSTALL_KEY, name, "REG_SZ", data)


def pending_renames(prefix):
    """Files scheduled for deletion at restart, as Windows paths."""
    _, data = prefix.reg_value(r"HKLM\System\CurrentControlSet\Control\Session Manager",
                               "PendingFileRenameOperations") or (None, "")
    return [entry[4:] for entry in data.split("\0") if entry.startswith("\\??\\")] if isinstance(data, str) else []


def short_name(prefix, path):
    """path with its last part's 8.3 name, as cmd's "dir /x" lists it beside the long one."""
    parent, name = path.rsplit("\\", 1)
    listing = prefix.run_raw(["cmd", "/c", "dir", "/x", parent + "\\"]).stdout
    found = re.search(rf" (\S+~\S+) +{re.escape(name)}\r?$", listing, re.MULTILINE)
    assert found, f"no short name for {path}:\n{listing}"
    return parent + "\\" + found[1]


def wait_for_scheduled(prefix, pattern, before=(), timeout=90):
    """Temporary copies added to the restart list since before: a copy's first step."""
    return wait_until(lambda: [p for p in pending_renames(prefix) if p not in before and
                               re.search(pattern, p, re.IGNORECASE)], timeout=timeout, step=0.3)


def wait_for_end(prefix, windows_path, timeout=90):
    """Waits until no process of this prefix runs that program (Wine shows a process's
    Windows path as its command line)."""
    name, marker = windows_path.rsplit("\\", 1)[-1].lower().encode(), f"WINEPREFIX={prefix.path}".encode()

    def runs(process):
        try:
            return (name in (process / "cmdline").read_bytes().lower()
                    and marker in (process / "environ").read_bytes())
        except OSError:
            return False

    return wait_until(lambda: not any(map(runs, Path("/proc").glob("[0-9]*"))), timeout=timeout, step=0.3)
