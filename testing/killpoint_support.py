"""Kill-anywhere runs of the quiet install: a test-only build of the setup program ends
itself at its Nth injectable engine call (file create/write/flush, rename, shortcut save,
registry value); after each kill the machine is assessed and recovery is tried."""
import shutil
from collections import namedtuple
from pathlib import Path

from install_support import Package, installed_problems, placeholder_payload, shortcuts, tree_state, \
    work_folders
from winetest import BUILD, UNINSTALL_KEY

KILL_KIT = BUILD / "killpoint" / "kit"
KILLED = 222
FOLDER = r"C:\Apps\Velmora"
# old: the package installed before the killed run (an update), or None; new: the kill-point package.
Scenario = namedtuple("Scenario", "name old new")


def small_payload(generation):
    files = placeholder_payload()
    files["Velmora.Maintenance.exe"] += f" generation {generation}".encode()
    files[r"data\notes.txt"] = f"notes of generation {generation}\n".encode() * 50
    files[r"data\deep\table.bin"] = bytes(range(256)) * (4 + generation)
    return files


class Outcome(namedtuple("Outcome", "point doing state recovery leftovers leftovers_after")):
    """leftovers: work folders beside the installation folder after the kill; leftovers_after:
    after the new install and the uninstall too."""
    defect = property(lambda self: "defect" in self.recovery)


class KillRunner:
    def __init__(self, prefix, scratch):
        self.prefix = prefix
        self.trace = Path(scratch) / "trace.txt"

    def snapshot(self):
        p = self.prefix
        return tree_state(p.unix(FOLDER)), p.reg_values(UNINSTALL_KEY), shortcuts(p)

    def run_setup(self, package, kill_at=0):
        self.trace.unlink(missing_ok=True)
        env = self.prefix.with_env(VELMORA_KILL_AT=str(kill_at), VELMORA_KILL_TRACE=self.prefix.windows_of(self.trace))
        return self.prefix.run(package, "/quiet", "/install-dir", FOLDER, env=env)

    def prepare(self, scenario):
        p = self.prefix
        shutil.rmtree(p.unix(FOLDER).parent, ignore_errors=True)
        p.reg_delete(UNINSTALL_KEY)
        for path in [p.unix(f"{folder}\\{name}") for folder, names in shortcuts(p).items() for name in names]:
            path.unlink()
        if scenario.old is not None:
            assert self.run_setup(scenario.old) == 0, "the old installation could not be installed"
        return self.snapshot()

    def is_complete(self, package):
        p = self.prefix
        return (installed_problems(p, FOLDER, package) == []
                and p.reg_value(UNINSTALL_KEY, "InstallLocation") == ("REG_SZ", FOLDER)
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

    def recover(self, package, new_package):
        p = self.prefix
        code = self.run_setup(package)
        installed = code == 0 and self.is_complete(new_package)
        uninstall_code = p.run(package, "/uninstall", "/install-dir", FOLDER, "/quiet")
        removed = not p.exists(FOLDER) and not p.key_exists(UNINSTALL_KEY) and not any(shortcuts(p).values())
        text = f"install {'ok' if installed else f'failed ({code})'}, " \
               f"uninstall {'ok' if removed else f'failed ({uninstall_code})'}"
        return text + (" - defect" if not installed and not removed else "")

    def run_point(self, scenario, point, calls):
        before = self.prepare(scenario)
        code = self.run_setup(scenario.new, kill_at=point)
        doing = calls[point - 1] + ("" if code == KILLED else f" [not killed: exit {code}]")
        new_package = Package(scenario.new)
        state, leftovers = self.state_after(before, new_package), len(work_folders(self.prefix, FOLDER))
        recovery = self.recover(scenario.new, new_package)
        return Outcome(point, doing, state, recovery, leftovers, len(work_folders(self.prefix, FOLDER)))

    def count_points(self, scenario):
        self.prepare(scenario)
        code = self.run_setup(scenario.new)
        assert code == 0, f"the {scenario.name} run without a kill ended with {code}"
        return self.trace.read_text(encoding="utf-8").splitlines()


def first_point(calls, prefix, contains=""):
    return next(n for n, call in enumerate(calls, 1) if call.startswith(prefix) and contains in call)
