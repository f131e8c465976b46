"""Both uninstall chains end to end: the registered commands and the installed
maintenance program, quiet and answered through their dialogs."""
import os
import re
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from winetest import UNINSTALL_KEY, PrefixTestCase, main, wait_until  # noqa: E402
from uninstall_support import (DESKTOP_LINK, LOCAL_APP_DATA, SETUP, START_MENU_LINK, TEMP_FOLDER,  # noqa: E402
                               lay_down_installation, wait_for_end, wait_for_scheduled)

FOLDER = r"C:\Apps\Velmora"
LAUNCHER_COPY = r"\\Velmora\\installer-temp\\Maintenance-\d+-\d+\.exe$"
WORKER_COPY = r"\\Velmora\\installer-temp\\Uninstall-\d+-\d+\.exe$"
UNLISTED = ["logs\\today.log", "resources\\notes.txt"]
CONFIRM = ("Uninstall Velmora?", "The program will be removed. Your license, settings, recovered files, and "
           "unfinished recovery data will be kept.", "Uninstall", "Cancel")
REMOVED = ("Velmora was removed", "Your license and recovered files were kept.")
CONFIRM_ZH = ("卸载岫澜？", "将删除程序文件；授权、设置、已恢复文件和未完成恢复数据都会保留。", "卸载", "取消")
REMOVED_ZH = ("岫澜已卸载", "授权和已恢复文件均已保留。")


class UninstallChains(PrefixTestCase):
    def setUp(self):
        super().setUp()
        shutil.rmtree(self.prefix.unix(FOLDER), ignore_errors=True)
        shutil.rmtree(self.prefix.unix(LOCAL_APP_DATA), ignore_errors=True)
        lay_down_installation(self.prefix, FOLDER)
        readme = self.prefix.unix(FOLDER + "\\readme.txt")
        os.setxattr(readme, "user.DOSATTRIB", b"0x23")  # read-only, hidden, system
        readme.chmod(0o444)
        user_files = [FOLDER + "\\" + relative for relative in UNLISTED]
        user_files += [LOCAL_APP_DATA + "\\" + relative for relative in ("updates\\1.0.2\\package.bin",
                       "cache\\thumbs\\a.bin", "settings.json", "licence\\key.dat")]
        for path in map(self.prefix.unix, user_files):
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(b"the user's")

    def assert_removed(self):
        # Emptied folders go; the user's files and what they need stay.
        self.assertEqual(self.prefix.listing(FOLDER), UNLISTED)
        self.assertFalse(self.prefix.exists(FOLDER + "\\bin"))
        self.assertFalse(self.prefix.exists(START_MENU_LINK) or self.prefix.exists(DESKTOP_LINK))
        self.assertFalse(self.prefix.key_exists(UNINSTALL_KEY))
        self.assertEqual(sorted(os.listdir(self.prefix.unix(LOCAL_APP_DATA))), ["licence", "settings.json"])

    def test_uninstall_string_asks_first_and_tells_the_outcome_in_chinese(self):
        text = self.prefix.reg_value(UNINSTALL_KEY, "UninstallString")[1]
        program, switches = re.fullmatch(r'"([^"]*)"\s*(.*)', text).groups()  # as the system splits it
        chinese = self.prefix.in_locale("zh_CN.UTF-8")
        self.assertEqual(self.prefix.run(program, *switches.split(), env=chinese), 0)
        self.prefix.answer_dialog("Escape", CONFIRM_ZH)  # cancelled: nothing changes
        self.assertTrue(self.prefix.exists(FOLDER + "\\.install-manifest"))
        self.assertTrue(self.prefix.key_exists(UNINSTALL_KEY))
        self.assertEqual(self.prefix.run(program, *switches.split(), env=chinese), 0)
        self.prefix.answer_dialog("Return", CONFIRM_ZH)
        self.assertTrue(wait_for_scheduled(self.prefix, LAUNCHER_COPY))
        self.prefix.answer_dialog("Return", REMOVED_ZH)
        self.assert_removed()

    def test_installed_maintenance_program_hands_off_to_a_worker_copy(self):
        process = self.prefix.start(FOLDER + "\\Velmora.Maintenance.exe", "/uninstall")
        self.prefix.answer_dialog("Return", CONFIRM)
        self.assertEqual(process.wait(timeout=60), 0)
        self.assertTrue(wait_for_scheduled(self.prefix, WORKER_COPY))
        self.prefix.answer_dialog("Return", REMOVED)
        self.assert_removed()


class RoundTrip(PrefixTestCase):
    """A real quiet install removed by the setup's own uninstall mode (through the launcher:
    core/dll_search_test.py, engine/install_test.py); its copy goes at the next restart."""

    def test_install_and_uninstall(self):
        self.prefix.register_runtime()
        self.assertEqual(self.prefix.run(SETUP, "/quiet", timeout=300), 0)
        self.assertIn("Uninstall.exe", self.prefix.listing(r"C:\Program Files\Velmora"))
        self.assertEqual(self.prefix.run(SETUP, "/uninstall", "/quiet"), 0)
        scheduled = wait_for_scheduled(self.prefix, WORKER_COPY)
        self.assertEqual(len(scheduled), 1, scheduled)
        self.assertTrue(wait_for_end(self.prefix, scheduled[0]))
        self.assertEqual([name for name in os.listdir(self.prefix.unix(r"C:\Program Files"))
                          if name.lower().startswith("velmora")], [])
        self.assertFalse(self.prefix.key_exists(UNINSTALL_KEY))
        self.prefix.run("wineboot", "-r")
        self.assertTrue(wait_until(lambda: not self.prefix.exists(scheduled[0]), timeout=30), scheduled)
        self.assertTrue(self.prefix.exists(TEMP_FOLDER))


if __name__ == "__main__":
    main()
