"""Mode selection, refusals and exit codes of the real programs under Wine."""
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from winetest import OUT, UNINSTALL_KEY, PrefixTestCase, main  # noqa: E402

MAINTENANCE = OUT / "Velmora.Maintenance.exe"
SETUP = OUT / "VelmoraSetup.exe"


class MaintenanceConfiguration(PrefixTestCase):
    def test_without_an_uninstall_switch_ends_with_87(self):
        for args in ([], ["/quiet"], ["/update"], ["/repair"], ["-uninstall"], ["/uninstall:"]):
            with self.subTest(args=args):
                self.assertEqual(self.prefix.run(MAINTENANCE, *args), 87)

    def test_uninstall_with_nothing_registered_ends_with_0_even_without_quiet(self):
        self.prefix.reg_delete(UNINSTALL_KEY)
        self.assertEqual(self.prefix.run(MAINTENANCE, "/uninstall", timeout=20), 0)
        self.assertEqual(self.prefix.run(MAINTENANCE, "/UnInstall", "/QUIET"), 0)


if __name__ == "__main__":
    main()
