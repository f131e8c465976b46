"""The quiet install killed mid-way (a short slice of scripts/bench-killpoints), and an update
on a drive too small for the new package."""
import os

from install_support import build_package, small_drive, tree_state
from killpoint_support import KILL_KIT, KillRunner, Scenario, first_point, small_payload
from winetest import UNINSTALL_KEY, PrefixTestCase, main

REFUSED = 2


class CrashConsistency(PrefixTestCase):
    def test_a_kill_at_each_chosen_point_leaves_a_state_the_next_install_repairs(self):
        self.prefix.register_runtime()
        runner = KillRunner(self.prefix, self.scratch)
        new = build_package(self.scratch / "kill-new.exe", small_payload(2), kit=KILL_KIT)
        old = build_package(self.scratch / "old.exe", small_payload(1))
        # (traced call, text in it, calls after it; None: the last call): the state the kill leaves
        cases = {Scenario("fresh install", None, new): {
            ("rename", "", 0): "as before",
            ("registry value", "", 0): "partial: folder with record, key without location",
            None: "new installation complete",
        }, Scenario("update", old, new): {
            ("flush", ".install-manifest", 0): "as before",
            # Between the renames: the next update puts the backup back first.
            ("rename", ".backup", 1): "partial: folder missing, registered",
            None: "new installation complete",
        }}
        for scenario, points in cases.items():
            calls = runner.count_points(scenario)
            for point, state in points.items():
                with self.subTest(scenario.name, point=point):
                    n = len(calls) if point is None else first_point(calls, *point[:2]) + point[2]
                    outcome = runner.run_point(scenario, n, calls)
                    self.assertEqual((outcome.state, outcome.recovery), (state, "install ok, uninstall ok"),
                                     outcome)

    def test_an_update_that_does_not_fit_keeps_the_old_installation(self):
        p, folder = self.prefix, r"E:\Velmora"
        p.register_runtime()
        old = build_package(self.scratch / "old.exe", small_payload(1))
        cases = [  # what runs out, drive options, what the new package adds
            ("space", {"size": "256k", "inodes": 64}, {r"data\big.bin": os.urandom(240 * 1024)}),
            ("entries", {"size": "4m", "inodes": 24}, {f"data\\many\\f{i:02}.txt": b"x" * (i + 1) for i in range(30)}),
        ]
        for name, options, extra in cases:
            new = build_package(self.scratch / f"new-{name}.exe", dict(small_payload(2), **extra))
            with self.subTest(name), small_drive(p, "e", **options) as drive:
                p.reg_delete(UNINSTALL_KEY)
                self.assertEqual(p.run(old, "/quiet", "/install-dir", folder), 0)
                before = (tree_state(p.unix(folder)), p.reg_values(UNINSTALL_KEY))
                self.assertEqual(p.run(new, "/quiet", "/install-dir", folder), REFUSED)
                self.assertEqual((tree_state(p.unix(folder)), p.reg_values(UNINSTALL_KEY), os.listdir(drive)),
                                 before + (["Velmora"],))


if __name__ == "__main__":
    main()
