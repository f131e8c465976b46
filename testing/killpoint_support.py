"""Kill-anywhere runs of the quiet install: a test-only build of the setup program ends
itself at its Nth injectable engine call (file create/write/flush, rename, shortcut save,
registry value); after each kill the machine is assessed and recovery is tried."""
import os
import re
import shutil
import subprocess
import tempfile
from dataclasses import dataclass
from pathlib import Path

from install_support import PROGRAMS, DESKTOP, Package, installed_problems, placeholder_payload, shortcuts, \
    tree_state, work_folders
from winetest import BUILD, PACK, UNINSTALL_KEY

KILL_KIT = BUILD / "killpoint" / "kit"
KILLED = 222
FOLDER = r"C:\Apps\Velmora"


def build_kill_package(output, files):
    """A package of {relative path: bytes} linked from the kill-point kit."""
    with tempfile.TemporaryDirectory(prefix="velmora-kill-payload-") as work:
        for relative, data in files.items():
            target = Path(work) / relative.replace("\\", "/")
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(data)
        result = subprocess.run(["python3", str(PACK), "--kit", str(KILL_KIT), "--payload", work, "--no-descriptor",
                                 "--output", str(output)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert result.returncode == 0, result.stderr
    return Path(output)


def small_payload(generation):
    """The three required files and two data files, different per generation."""
    files = placeholder_payload()
    files["Velmora.Maintenance.exe"] += f" generation {generation}".encode()
    files[r"data\notes.txt"] = f"notes of generation {generation}\n".encode() * 50
    files[r"data\deep\table.bin"] = bytes(range(256)) * (4 + generation)
    return files


@dataclass
class Scenario:
    name: str
    old: Path = None      # package installed before the killed run (update), or None
    new: Path = None      # kill-point package of the killed run


@dataclass
class Outcome:
    point: int
    doing: str
    state: str
    recovery: str
    leftovers: int
    leftovers_after: int = 0  # work folders still there after the new install and the uninstall

    @property
    def defect(self):
        return self.state.startswith("stranded") or "defect" in self.recovery


class KillRunner:
    def __init__(self, prefix, scratch):
        self.prefix = prefix
        self.uninstall_works = True
        self.scratch = Path(scratch)
        self.trace = self.scratch / "trace.txt"

    # --- one machine state -------------------------------------------------------

    def reset(self):
        p = self.prefix
        parent = p.unix(FOLDER).parent
        if parent.exists():
            shutil.rmtree(parent)
        p.reg_delete(UNINSTALL_KEY)
        for folder, names in shortcuts(p).items():
            for name in names:
                p.unix(folder + "\\" + name).unlink()

    def snapshot(self):
        p = self.prefix
        return (tree_state(p.unix(FOLDER)), p.reg_values(UNINSTALL_KEY), shortcuts(p))

    def run_setup(self, package, kill_at=0):
        if self.trace.exists():
            self.trace.unlink()
        env = self.prefix.with_env(VELMORA_KILL_AT=str(kill_at), VELMORA_KILL_TRACE=self.prefix.windows_of(self.trace))
        return self.prefix.run(package, "/quiet", "/install-dir", FOLDER, env=env)

    def traced_calls(self):
        if not self.trace.exists():
            return []
        return [line.split("\t", 1)[1] for line in self.trace.read_text(encoding="utf-8").splitlines()]

    def prepare(self, scenario):
        self.reset()
        if scenario.old is not None:
            assert self.run_setup(scenario.old) == 0, "the old installation could not be installed"
        return self.snapshot()

    # --- assessment --------------------------------------------------------------

    def is_complete(self, package):
        p = self.prefix
        location = p.reg_value(UNINSTALL_KEY, "InstallLocation")
        return (installed_problems(p, FOLDER, package) == [] and location == ("REG_SZ", FOLDER)
                and all(names == ["Velmora.lnk"] for names in shortcuts(p).values()))

    def state_after(self, before, new_package):
        if self.snapshot() == before:
            return "as before"
        if self.is_complete(new_package):
            return "new installation complete"
        p = self.prefix
        folder = "folder missing" if not p.exists(FOLDER) else (
            "folder with record" if p.exists(FOLDER + r"\.install-manifest") else "folder without record")
        values = p.reg_values(UNINSTALL_KEY)
        registered = "no key" if values is None else (
            "registered" if values.get("InstallLocation") == ("REG_SZ", FOLDER) else "key without location")
        return f"partial: {folder}, {registered}"

    def uninstall(self, package):
        """Uninstall in place; True when folder, key and shortcuts are gone."""
        p = self.prefix
        code = p.run(package, "/uninstall", "/install-dir", FOLDER, "/quiet")
        gone = not p.exists(FOLDER) and not p.key_exists(UNINSTALL_KEY) and \
            all(not names for names in shortcuts(p).values())
        return code, gone

    def recover(self, package, new_package):
        code = self.run_setup(package)
        installed = code == 0 and self.is_complete(new_package)
        if not self.uninstall_works:
            return f"install {'ok' if installed else f'failed ({code})'}, " + self.uninstallable_guess(installed)
        uninstall_code, removed = self.uninstall(package)
        if installed and removed:
            return "install ok, uninstall ok"
        text = f"install {'ok' if installed else f'failed ({code})'}, " \
               f"uninstall {'ok' if removed else f'failed ({uninstall_code})'}"
        return text + (" - defect" if not installed and not removed else "")

    def uninstallable_guess(self, installed):
        """Without an uninstall worker in the build: whether the folder's record is there for one."""
        p = self.prefix
        if p.exists(FOLDER + r"\.install-manifest"):
            return "uninstall not built (record in place)"
        if not p.exists(FOLDER) and not p.key_exists(UNINSTALL_KEY):
            return "uninstall not built (nothing to remove)"
        return "uninstall not built (no record)" + ("" if installed else " - defect")

    def run_point(self, scenario, point, calls):
        before = self.prepare(scenario)
        code = self.run_setup(scenario.new, kill_at=point)
        new_package = Package(scenario.new)
        doing = calls[point - 1] if point <= len(calls) else "(past the last point)"
        if code != KILLED:
            doing = f"{doing} [not killed: exit {code}]"
        state = self.state_after(before, new_package)
        leftovers = len(work_folders(self.prefix, FOLDER))
        recovery = self.recover(scenario.new, new_package)
        return Outcome(point, doing, state, recovery, leftovers, len(work_folders(self.prefix, FOLDER)))

    def count_points(self, scenario):
        """The calls a run without a kill makes, in order."""
        self.prepare(scenario)
        code = self.run_setup(scenario.new)
        assert code == 0, f"the {scenario.name} run without a kill ended with {code}"
        calls = self.traced_calls()
        # Until the uninstall worker exists, a complete installation cannot be removed
        # either; the recovery column then says so instead of reporting a defect.
        self.uninstall_works = self.uninstall(scenario.new)[1]
        return calls

    def run_scenario(self, scenario, points=None):
        """Outcomes of a kill at each point (all of them by default) and the number of points."""
        calls = self.count_points(scenario)
        chosen = range(1, len(calls) + 1) if points is None else [n for n in points if 1 <= n <= len(calls)]
        return [self.run_point(scenario, n, calls) for n in chosen], calls


def first_point(calls, prefix, contains=""):
    """1-based number of the first traced call starting with prefix and holding contains."""
    for number, call in enumerate(calls, 1):
        if call.startswith(prefix) and contains in call:
            return number
    raise LookupError(f"no traced call {prefix!r} with {contains!r}")


def short(text, folder=FOLDER):
    """A traced call without the installation folder's parent and the work folders' numbers."""
    parent = folder.rsplit("\\", 1)[0]
    text = text.replace("\\\\?\\", "")
    text = re.sub(r"\.(staging|backup)-\d+-\d+", r".\1", text)
    return text.replace(parent + "\\", "").replace("\t", " ").replace(r"C:\ProgramData\Microsoft\Windows\Start Menu"
                                                                       r"\Programs", "<programs>").replace(
        r"C:\users\Public\Desktop", "<desktop>")


def table(scenario_name, outcomes):
    lines = [f"{scenario_name}:", f"{'N':>3}  {'what the process was doing':<60} {'state left':<44} "
             f"{'work':>6}  recovery (new install, then uninstall)"]
    for o in outcomes:
        work = f"{o.leftovers}>{o.leftovers_after}"
        lines.append(f"{o.point:>3}  {short(o.doing)[:60]:<60} {o.state[:44]:<44} {work:>6}  {o.recovery}")
    return "\n".join(lines)
