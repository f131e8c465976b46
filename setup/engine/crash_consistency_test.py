"""The quiet install killed mid-way (a short slice of scripts/bench-killpoints), on a drive
too small for the new package, and with a file of the old installation held open."""
import os
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from install_support import Package, build_package, installed_problems, small_drive, tree_state, \
    work_folders  # noqa: E402
from killpoint_support import KILL_KIT, KillRunner, Scenario, first_point, small_payload  # noqa: E402
from winetest import TESTAPPS, UNINSTALL_KEY, PrefixTestCase, main, wait_until  # noqa: E402

REFUSED = 2
HOLD_FILE = TESTAPPS / "hold_file.exe"


class KillPointSlice(PrefixTestCase):
    """A handful of representative kill points of a fresh install and of an update."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.register_runtime()

    def setUp(self):
        super().setUp()
        self.runner = KillRunner(self.prefix, self.scratch)
        self.new = build_package(self.scratch / "kill-new.exe", small_payload(2), kit=KILL_KIT)

    def run_points(self, scenario, choose):
        calls = self.runner.count_points(scenario)
        self.assertGreaterEqual(len(calls), 20, calls)
        points = choose(calls)
        outcomes = {name: self.runner.run_point(scenario, n, calls) for name, n in points.items()}
        self.assertEqual([o for o in outcomes.values() if o.defect], [])
        return outcomes

    def test_fresh_install(self):
        outcomes = self.run_points(Scenario("fresh install", None, self.new), lambda calls: {
            "mid-file": first_point(calls, "write"),
            "before the swap": first_point(calls, "rename"),
            "first registry value": first_point(calls, "registry value"),
            "last registry value": len(calls)})
        self.assertEqual(outcomes["mid-file"].state, "as before")
        self.assertEqual(outcomes["before the swap"].state, "as before")
        partial = outcomes["first registry value"]
        self.assertTrue(partial.state.startswith("partial: folder with record"))
        # A new install of the package repairs the folder it left.
        self.assertTrue(partial.recovery.startswith("install ok"), partial.recovery)
        self.assertEqual(outcomes["last registry value"].state, "new installation complete")

    def test_update(self):
        old = build_package(self.scratch / "old.exe", small_payload(1))
        outcomes = self.run_points(Scenario("update", old, self.new), lambda calls: {
            "record flush": first_point(calls, "flush", ".install-manifest"),
            "backup rename": first_point(calls, "rename", ".backup"),
            "between the renames": first_point(calls, "rename", ".backup") + 1,
            "last registry value": len(calls)})
        self.assertEqual(outcomes["record flush"].state, "as before")
        self.assertEqual(outcomes["backup rename"].state, "as before")
        stranded = outcomes["between the renames"]
        self.assertIn(".staging", stranded.doing)
        self.assertEqual(stranded.state, "partial: folder missing, registered")
        # The next update puts the backup back first, then replaces it.
        self.assertTrue(stranded.recovery.startswith("install ok"), stranded.recovery)
        self.assertEqual(outcomes["last registry value"].state, "new installation complete")


class UpdatesUnderPressure(PrefixTestCase):
    """Updates that cannot finish leave the old installation as it was."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.register_runtime()

    def assert_old_installation_kept(self, folder, files, values, package):
        p = self.prefix
        self.assertEqual(tree_state(p.unix(folder)), files)
        self.assertEqual(p.reg_values(UNINSTALL_KEY), values)
        self.assertEqual(installed_problems(p, folder, package), [])

    def test_an_update_that_does_not_fit_keeps_the_old_installation(self):
        cases = [  # what runs out, drive options, what the new package adds
            ("space", {"size": "256k", "inodes": 64}, {r"data\big.bin": os.urandom(240 * 1024)}),
            ("entries", {"size": "4m", "inodes": 24}, {f"data\\many\\f{i:02}.txt": b"x" * (i + 1) for i in range(30)}),
        ]
        for name, options, extra in cases:
            with self.subTest(name):
                p = self.prefix
                folder = r"E:\Velmora"
                old = build_package(self.scratch / f"old-{name}.exe", small_payload(1))
                new = build_package(self.scratch / f"new-{name}.exe", dict(small_payload(2), **extra))
                try:
                    with small_drive(p, "e", **options) as drive:
                        self.assertEqual(p.run(old, "/quiet", "/install-dir", folder), 0)
                        before = (tree_state(p.unix(folder)), p.reg_values(UNINSTALL_KEY))
                        self.assertEqual(p.run(new, "/quiet", "/install-dir", folder), REFUSED)
                        self.assert_old_installation_kept(folder, *before, Package(old))
                        self.assertEqual([e.name for e in drive.iterdir()], ["Velmora"])
                finally:
                    p.reg_delete(UNINSTALL_KEY)

    def test_a_file_of_the_old_installation_held_open(self):
        """Wine lets the folder be renamed, Windows does not: either the update completes or
        it is refused with the old installation kept, registered and complete."""
        p = self.prefix
        folder = r"C:\Apps\Held"
        old = build_package(self.scratch / "old.exe", small_payload(1))
        new = build_package(self.scratch / "new.exe", small_payload(2))
        self.addCleanup(p.reg_delete, UNINSTALL_KEY)
        self.assertEqual(p.run(old, "/quiet", "/install-dir", folder), 0)
        before = (tree_state(p.unix(folder)), p.reg_values(UNINSTALL_KEY))
        ready, release = self.scratch / "ready", self.scratch / "release"
        holder = p.start(HOLD_FILE, folder + r"\data\notes.txt", p.windows_of(ready), p.windows_of(release))
        try:
            wait_until(lambda: ready.exists() or holder.poll() is not None)
            self.assertTrue(ready.exists(), "the file could not be held open")
            code = p.run(new, "/quiet", "/install-dir", folder)
        finally:
            release.write_bytes(b"")
            holder.wait(timeout=30)
        print(f"update with a held file ended with {code}", file=sys.stderr)
        self.assertIn(code, (0, REFUSED))
        if code == 0:
            self.assertEqual(installed_problems(p, folder, Package(new)), [])
        else:
            self.assert_old_installation_kept(folder, *before, Package(old))
            self.assertEqual(work_folders(p, folder), [])
        self.assertEqual(p.reg_value(UNINSTALL_KEY, "InstallLocation"), ("REG_SZ", folder))


if __name__ == "__main__":
    main()
