"""Uninstall tests: installations laid down by hand or by a real quiet install, the
launcher's stand-in that records how it was started, and waits for processes that the
programs start and do not wait for."""
import os
import re
import shutil
from pathlib import Path

from winetest import OUT, TESTAPPS, UNINSTALL_KEY, wait_until

MAINTENANCE = OUT / "Velmora.Maintenance.exe"
LAUNCHER = OUT / "Uninstall.exe"
SETUP = OUT / "VelmoraSetup.exe"
HOLD_FILE = TESTAPPS / "hold_file.exe"
RECORD_START = TESTAPPS / "record_start.exe"
APP = TESTAPPS / "Velmora.exe"
TEMP_FOLDER = r"C:\ProgramData\Velmora\installer-temp"
START_MENU_LINK = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Velmora.lnk"
DESKTOP_LINK = r"C:\users\Public\Desktop\Velmora.lnk"
LOCAL_APP_DATA = r"C:\users\root\AppData\Local\Velmora"

# Files of a small installation: (relative path, bytes). The programs are added on top.
SAMPLE_FILES = [
    ("Velmora.exe", None),
    ("bin\\engine.dll", b"engine"),
    ("bin\\plugins\\scan.dll", b"scan"),
    ("resources\\strings\\en-US.txt", b"hello"),
    ("resources\\strings\\zh-CN.txt", "你好".encode()),
    ("readme.txt", b"readme"),
]


def start_records(prefix, record):
    """Lines that record_start.exe appended: (own path, command line, show state, folder)."""
    path = prefix.unix(record)
    if not path.exists():
        return []
    return [tuple(line.split("\t")) for line in path.read_text("utf-8").splitlines() if line]


def temp_copies(prefix, pattern, folder=TEMP_FOLDER):
    root = prefix.unix(folder)
    if not root.is_dir():
        return []
    return sorted(name for name in os.listdir(root) if re.fullmatch(pattern, name))


def lay_down_installation(prefix, folder, extra_files=(), register=True):
    """What an install leaves: packaged files with the record listing them, the
    programs of this project among them, shortcuts and the registry entry."""
    files = list(SAMPLE_FILES) + [("Uninstall.exe", None), ("Velmora.Maintenance.exe", None)]
    files += list(extra_files)
    sources = {"Velmora.exe": APP, "Uninstall.exe": LAUNCHER, "Velmora.Maintenance.exe": MAINTENANCE}
    root = prefix.unix(folder)
    for relative, data in files:
        target = root / relative.replace("\\", "/")
        target.parent.mkdir(parents=True, exist_ok=True)
        if data is None:
            shutil.copyfile(sources[relative], target)
        else:
            target.write_bytes(data)
    record = root / ".install-manifest"
    record.write_bytes("".join(f"{1001 + i}\t{path}\t1\t{'0' * 64}\n" for i, (path, _) in enumerate(files)).encode())
    os.setxattr(record, "user.DOSATTRIB", b"0x22")
    for link in (START_MENU_LINK, DESKTOP_LINK):
        path = prefix.unix(link)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(b"L\0\0\0")
    launcher = folder + "\\Uninstall.exe"
    for name, data in (("DisplayName", "Velmora"), ("DisplayVersion", "1.0.1"), ("InstallLocation", folder),
                       ("UninstallString", f'"{launcher}" /uninstall'),
                       ("QuietUninstallString", f'"{launcher}" /uninstall /quiet')) if register else ():
        prefix.reg_add(UNINSTALL_KEY, name, "REG_SZ", data)
    return [relative for relative, _ in files]


def fill_user_data(prefix):
    """The application's per-user folder: the update cache that goes and settings that stay."""
    base = prefix.unix(LOCAL_APP_DATA)
    for relative in ("updates/1.0.2/package.bin", "cache/thumbs/a.bin", "settings.json", "licence/key.dat"):
        path = base / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(b"data")


def pending_renames(prefix):
    """Files scheduled for deletion at restart, as Windows paths."""
    _, data = prefix.reg_value(r"HKLM\System\CurrentControlSet\Control\Session Manager",
                               "PendingFileRenameOperations") or (None, "")
    return [entry[4:] for entry in data.split("\0") if entry.startswith("\\??\\")] if isinstance(data, str) else []


def run_with_variables(prefix, program, *args, env=None, **variables):
    """Runs a program with Windows environment variables changed through cmd: Wine sets
    ProgramData and its kin itself and ignores the Unix values. An empty value unsets."""
    sets = "&&".join(f"set {name}={value}" for name, value in variables.items())
    return prefix.run("cmd", "/c", f"{sets}&&{program} {' '.join(args)}", env=env)


def maintenance_copy(prefix, name="Maintenance-test.exe"):
    """A copy of the maintenance program inside the prefix. Programs that uninstall in
    place schedule their own file for deletion at restart: never run build/out's."""
    target = prefix.unix(TEMP_FOLDER) / name
    target.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(MAINTENANCE, target)
    return TEMP_FOLDER + "\\" + name


def short_name(prefix, path):
    """The 8.3 name of an existing path, as Windows gives it to anyone who asks."""
    result = prefix.run_raw([TESTAPPS / "short_name.exe", path])
    if result.returncode != 0:
        raise AssertionError(f"no short name for {path}")
    return result.stdout


def registered_command(prefix, value_name):
    """A registered uninstall command split as the system splits it: program and switches."""
    text = prefix.reg_value(UNINSTALL_KEY, value_name)[1]
    match = re.fullmatch(r'"([^"]*)"\s*(.*)', text)
    return [match.group(1), *match.group(2).split()]


def wait_for_scheduled(prefix, pattern, before=(), timeout=90):
    """Temporary copies added to the restart list since before: a copy's first step."""
    return wait_until(lambda: [p for p in pending_renames(prefix) if p not in before and
                               re.search(pattern, p, re.IGNORECASE)], timeout=timeout, step=0.3)


def wait_for_end(prefix, windows_path, timeout=90):
    """Waits until no process of this prefix runs that program (Wine shows a process's
    Windows path as its command line)."""
    name = windows_path.rsplit("\\", 1)[-1].lower().encode()
    marker = f"WINEPREFIX={prefix.path}".encode()

    def running():
        for process in Path("/proc").glob("[0-9]*"):
            try:
                if name in (process / "cmdline").read_bytes().lower() and marker in (process / "environ").read_bytes():
                    return True
            except OSError:
                pass
        return False

    return wait_until(lambda: not running(), timeout=timeout, step=0.3)
