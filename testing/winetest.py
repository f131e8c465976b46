"""End-to-end test support: per test class a copy of the template Wine prefix, its own wineserver
and Xvfb display, and readers of the prefix's registry, files and windows."""
import contextlib
import functools
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

SOURCE = Path(os.environ.get("VELMORA_SOURCE") or Path(__file__).resolve().parent.parent)
BUILD = Path(os.environ.get("VELMORA_BUILD") or SOURCE / "build")
OUT = BUILD / "out"
TESTAPPS = BUILD / "testapps"
KIT = BUILD / "kit"
UNINSTALL_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Velmora"
RUNTIME_KEY = r"HKLM\SOFTWARE\dotnet\Setup\InstalledVersions\x64\sharedfx\Microsoft.WindowsDesktop.App"


@functools.cache
def wine_loader():
    return subprocess.run([SOURCE / "testing" / "wine-path"], stdout=subprocess.PIPE, check=True,
                          text=True).stdout.strip()


def wineserver():
    return str(Path(wine_loader()).parent / "wineserver")


class WinePrefix:
    def __init__(self, name="e2e", locale="en_US.UTF-8"):
        template = Path(os.environ.get("VELMORA_WINE_TEMPLATE", BUILD / "wine" / "template"))
        if not (template / "system.reg").exists():
            raise RuntimeError(f"no template prefix at {template}: run the tests through scripts/test")
        base = Path("/dev/shm") if Path("/dev/shm").is_dir() else BUILD / "wine"
        self.path = Path(tempfile.mkdtemp(prefix=f"velmora-{name}-", dir=base))
        subprocess.run(["cp", "-a", f"{template}/.", str(self.path)], check=True)
        # The menu builder is off as in testing/wine-session.
        self.env = dict(os.environ, WINEPREFIX=str(self.path), WINEDEBUG="-all", WINEARCH="win64",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d", LANG=locale, LC_ALL=locale)
        self.start_server()

    def start_server(self):
        subprocess.run([wineserver(), "-p"], env=self.env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.run_raw(["cmd", "/c", "exit", "0"])

    def stop_server(self):
        for flag in ("-k", "-w"):
            subprocess.run([wineserver(), flag], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        self.stop_server()
        shutil.rmtree(self.path, ignore_errors=True)

    def run_raw(self, args, timeout=120, env=None):
        """Output goes through files, not pipes: Wine's background processes inherit the
        handles and would keep a pipe open long after the program ended."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run([wine_loader(), *map(str, args)], env=env or self.env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err, timeout=timeout)
            for name, file in (("stdout", out), ("stderr", err)):
                file.seek(0)
                setattr(result, name, file.read().decode("utf-8", "replace"))
            return result

    def run(self, program, *args, timeout=120, env=None):
        return self.run_raw([program, *args], timeout=timeout, env=env).returncode

    def start(self, program, *args, env=None):
        return subprocess.Popen([wine_loader(), str(program), *map(str, args)], env=env or self.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def in_locale(self, locale):
        return self.with_env(LANG=locale, LC_ALL=locale)

    def with_env(self, **changes):
        return dict(self.env, **changes)

    def unix(self, windows_path):
        base = (self.path / "dosdevices" / f"{windows_path[0].lower()}:").resolve()
        return base / windows_path[3:].replace("\\", "/")

    def exists(self, windows_path):
        return os.path.lexists(self.unix(windows_path))

    def listing(self, windows_path):
        root = self.unix(windows_path)
        return sorted(str(Path(dirpath, name).relative_to(root)).replace("/", "\\")
                      for dirpath, _, files in os.walk(root) for name in files)

    def attributes(self, windows_path):  # Wine keeps them in an extended attribute
        try:
            raw = os.getxattr(self.unix(windows_path), "user.DOSATTRIB")
            return int(re.match(rb"0x([0-9a-fA-F]+)", raw)[1], 16)
        except (OSError, TypeError):
            return 0

    def reg(self, *args):
        return self.run_raw(["reg", *args], timeout=60)

    def reg_add(self, key, name=None, kind="REG_SZ", data=""):
        value = ["/v", name, "/t", kind, "/d", str(data)] if name is not None else []
        result = self.reg("add", key, *value, "/f", "/reg:64")
        assert result.returncode == 0, result.stderr

    def reg_delete(self, key, name=None):
        self.reg("delete", key, *(["/v", name] if name is not None else []), "/f", "/reg:64")

    def reg_values(self, key):
        """{name: (type, data)} of a key, exact text (read through reg export), or None."""
        with tempfile.TemporaryDirectory() as work:
            target = Path(work) / "key.reg"
            if self.reg("export", key, self.windows_of(target), "/y", "/reg:64").returncode or not target.exists():
                return None
            text = target.read_bytes().decode("utf-16").replace("\\\r\n  ", "").replace("\\\n  ", "")
        values, sections = {}, 0
        for line in text.splitlines():
            sections += line.startswith("[")  # the key itself comes first, then its subkeys
            if sections == 1 and "=" in line:
                name, _, data = line.partition("=")
                values["" if name == "@" else parse_reg_data(name)[1]] = parse_reg_data(data)
        return values

    def reg_value(self, key, name):
        return (self.reg_values(key) or {}).get(name)

    def key_exists(self, key):
        return self.reg("query", key, "/reg:64").returncode == 0

    def windows_of(self, unix_path):
        return "Z:" + str(Path(unix_path).resolve()).replace("/", "\\")

    def register_runtime(self, version="8.0.11"):
        self.reg_add(RUNTIME_KEY + "\\" + version)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *map(str, args)], env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True).stdout.strip()

    def windows(self, title_passes):
        """Visible X windows whose title passes (xdotool's own --name search cannot match
        non-Latin titles)."""
        return (w for w in self.xdotool("search", "--onlyvisible", "--name", ".").split()
                if title_passes(self.window_name(w)))

    def wait_window(self, title_regex, timeout=30):
        window = wait_until(lambda: next(self.windows(lambda name: re.search(title_regex, name)), None), timeout, 0.2)
        if not window:
            raise AssertionError(f"no window titled {title_regex!r} within {timeout} s")
        return window

    def window_name(self, window):
        return self.xdotool("getwindowname", window)

    def dialogs(self):
        return list(self.windows(lambda name: name in ("Velmora", "岫澜")))

    def dialog_texts(self):
        result = self.run_raw([TESTAPPS / "window_probe.exe", "texts"])
        return result.returncode == 0 and result.stdout.strip() and result.stdout.splitlines()

    def answer_dialog(self, key, expect=(), timeout=60):
        """A key that arrives before the dialog takes input is lost, so it is pressed again."""
        window = wait_until(lambda: next(iter(self.dialogs()), None), timeout=timeout)
        if not window:
            raise AssertionError("no dialog titled Velmora or 岫澜 appeared")
        texts = (wait_until(self.dialog_texts, 30, 0.3) or ["(no texts read)"]) if expect else []
        for _ in range(5):
            time.sleep(0.5)
            self.press(window, key)
            if wait_until(lambda: window not in self.dialogs(), timeout=3):
                break
        else:
            raise AssertionError(f"the dialog did not close on {key}")
        # Checked after the answer, so that a wrong text fails this case alone and does
        # not leave a dialog that turns every later case into "another instance".
        if texts[:len(expect)] != list(expect):
            raise AssertionError(f"the dialog says {texts}, expected {list(expect)}")

    def press(self, window, *keys):
        """Focus follows the pointer without a window manager: move onto it first."""
        self.xdotool("mousemove", "--window", window, 20, 20)
        self.xdotool("windowfocus", "--sync", window)
        for key in keys:
            self.xdotool("key", "--window", window, key)
            time.sleep(0.1)


def wait_until(condition, timeout=60, step=0.1):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return condition()


def snapshot(root):
    """Mode, extended attribute names and bytes of everything below root but installer-temp."""
    paths = [root] + [p for p in root.rglob("*") if "installer-temp" not in p.parts]
    return {str(p): (p.stat().st_mode, sorted(os.listxattr(p)), p.is_file() and p.read_bytes()) for p in paths}


def fill_and_snapshot(root):
    """The application's own data in root, open to all: a folder the programs leave as it was."""
    for relative, text in (("logs/today.log", "log"), ("settings.json", "{}")):
        (root / relative).parent.mkdir(parents=True, exist_ok=True)
        (root / relative).write_text(text)
    for path in [root, *root.rglob("*")]:
        path.chmod(0o777)
    return snapshot(root)


def parse_reg_data(text):
    if text.startswith('"'):
        return ("REG_SZ", text[1:-1].replace('\\"', '"').replace("\\\\", "\\"))
    kind, _, data = text.partition(":")
    if kind == "dword":
        return ("REG_DWORD", int(data, 16))
    kinds = {"hex": "REG_BINARY", "hex(2)": "REG_EXPAND_SZ", "hex(7)": "REG_MULTI_SZ", "hex(b)": "REG_QWORD"}
    kind, raw = kinds.get(kind, kind), bytes.fromhex(data.replace(",", ""))
    return (kind, raw.decode("utf-16-le") if kind in ("REG_EXPAND_SZ", "REG_MULTI_SZ") else raw)


def pack(output, *args):
    result = subprocess.run(["python3", SOURCE / "scripts" / "pack", "--kit", KIT, "--output", output,
                             *map(str, args)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    return result.returncode, result.stderr


class VirtualDisplay:
    """An Xvfb display of our own for the length of a with-block; sets DISPLAY. Xvfb picks
    a free display number itself, so parallel runs never share pointer, focus or windows."""
    none = contextlib.nullcontext  # stands in where the caller's own display is used

    def __init__(self, screen="1600x1200x24"):
        self.screen = screen

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen,
                                        "-nolisten", "tcp"], pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as announced:
            number = announced.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.saved = os.environ.get("DISPLAY")
        os.environ["DISPLAY"] = f":{number}"
        return self

    def __exit__(self, *exc):
        self.server.terminate()
        self.server.wait()
        os.environ.pop("DISPLAY", None)
        if self.saved is not None:
            os.environ["DISPLAY"] = self.saved


def prepare_template():
    template = (BUILD / "wine" / "template").resolve()
    env = dict(os.environ, PATH="/usr/lib/wine:" + os.environ.get("PATH", ""))
    subprocess.run([SOURCE / "testing" / "wine-template", template], env=env, check=True, stdout=sys.stderr)
    os.environ["VELMORA_WINE_TEMPLATE"] = str(template)
    return template


class PrefixTestCase(unittest.TestCase):
    """One prefix and one X display for the whole test class; tests reset what they
    touch. Test files run in parallel, and on a shared display their dialogs would
    answer each other's keys."""

    locale = "en_US.UTF-8"
    screen = "1600x1200x24"  # width x height x depth of the class's display

    @classmethod
    def setUpClass(cls):
        cls.display = cls.enterClassContext(VirtualDisplay(cls.screen))
        cls.prefix = cls.enterClassContext(contextlib.closing(WinePrefix(cls.__name__.lower(), cls.locale)))

    def setUp(self):
        self.scratch = Path(tempfile.mkdtemp(prefix="velmora-test-"))
        self.addCleanup(shutil.rmtree, self.scratch, True)


def main():
    unittest.main(verbosity=2)


if __name__ == "__main__":
    # For testing/wine-session: a display ("display"), or a display, the template and a prefix with its
    # server ("session"), printed as shell assignments; they outlive this process, wine_session_stop ends them.
    display = VirtualDisplay().__enter__()
    shell = {"DISPLAY": os.environ["DISPLAY"], "wine_session_xvfb": display.server.pid}
    try:
        if sys.argv[1] == "session":
            shell["VELMORA_WINE_TEMPLATE"] = prepare_template()
            shell["WINEPREFIX"] = shell["wine_session_prefix"] = WinePrefix("session").path
    except BaseException:
        display.server.kill()
        raise
    print(" ".join(f"{name}={shlex.quote(str(value))}" for name, value in shell.items()))
