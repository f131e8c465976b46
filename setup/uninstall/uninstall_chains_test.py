"""Both uninstall chains end to end: the registered commands and the installed
maintenance program, quiet and answered through their dialogs."""
import os
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from winetest import UNINSTALL_KEY, PrefixTestCase, main, wait_until  # noqa: E402
from uninstall_support import (DESKTOP_LINK, LOCAL_APP_DATA, SETUP, START_MENU_LINK, TEMP_FOLDER,  # noqa: E402
                               fill_user_data, lay_down_installation, pending_renames, registered_command,
                               wait_for_end, wait_for_scheduled)

FOLDER = r"C:\Apps\Velmora"
LAUNCHER_COPY = r"\\Velmora\\installer-temp\\Maintenance-\d+-\d+\.exe$"
WORKER_COPY = r"\\Velmora\\installer-temp\\Uninstall-\d+-\d+\.exe$"
UNLISTED = ["resources\\notes.txt", "logs\\today.log"]
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

    def install(self, unlisted=()):
        listed = lay_down_installation(self.prefix, FOLDER)
        root = self.prefix.unix(FOLDER)
        readme = root / "readme.txt"
        os.setxattr(readme, "user.DOSATTRIB", b"0x23")  # read-only, hidden, system
        readme.chmod(0o444)
        for relative in unlisted:
            path = root / relative.replace("\\", "/")
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(b"the user's")
        fill_user_data(self.prefix)
        return listed

    def assert_removed(self, listed, unlisted=()):
        for relative in listed + [".install-manifest"]:
            self.assertFalse(self.prefix.exists(FOLDER + "\\" + relative), relative)
        for relative in unlisted:
            self.assertTrue(self.prefix.exists(FOLDER + "\\" + relative), relative)
        for folder in ("bin\\plugins", "bin", "resources\\strings"):
            self.assertFalse(self.prefix.exists(FOLDER + "\\" + folder), folder)
        self.assertEqual(self.prefix.exists(FOLDER), bool(unlisted))
        self.assertFalse(self.prefix.exists(START_MENU_LINK))
        self.assertFalse(self.prefix.exists(DESKTOP_LINK))
        self.assertFalse(self.prefix.key_exists(UNINSTALL_KEY))
        self.assertEqual(sorted(os.listdir(self.prefix.unix(LOCAL_APP_DATA))), ["licence", "settings.json"])

    def test_uninstall_string_asks_first_and_tells_the_outcome_in_chinese(self):
        listed = self.install(UNLISTED)
        command = registered_command(self.prefix, "UninstallString")
        chinese = self.prefix.in_locale("zh_CN.UTF-8")
        self.assertEqual(self.prefix.run(*command, env=chinese), 0)
        self.prefix.answer_dialog("Escape", CONFIRM_ZH)
        self.assertTrue(self.prefix.exists(FOLDER + "\\.install-manifest"))
        self.assertTrue(self.prefix.key_exists(UNINSTALL_KEY))
        self.assertEqual(self.prefix.run(*command, env=chinese), 0)
        self.prefix.answer_dialog("Return", CONFIRM_ZH)
        self.assertTrue(wait_for_scheduled(self.prefix, LAUNCHER_COPY))
        self.prefix.answer_dialog("Return", REMOVED_ZH)
        self.assert_removed(listed, UNLISTED)

    def test_installed_maintenance_program_hands_off_to_a_worker_copy(self):
        listed = self.install(UNLISTED)
        maintenance = FOLDER + "\\Velmora.Maintenance.exe"
        before = pending_renames(self.prefix)
        self.assertEqual(self.prefix.run(maintenance, "/uninstall", "/quiet"), 0)
        scheduled = wait_for_scheduled(self.prefix, WORKER_COPY, before)
        self.assertTrue(scheduled and wait_for_end(self.prefix, scheduled[0]), scheduled)
        self.assert_removed(listed, UNLISTED)

        shutil.rmtree(self.prefix.unix(FOLDER))
        listed = self.install()
        before = pending_renames(self.prefix)
        process = self.prefix.start(maintenance, "/uninstall")
        self.prefix.answer_dialog("Return", CONFIRM)
        self.assertEqual(process.wait(timeout=60), 0)
        self.assertTrue(wait_for_scheduled(self.prefix, WORKER_COPY, before))
        self.prefix.answer_dialog("Return", REMOVED)
        self.assert_removed(listed)


class RoundTrip(PrefixTestCase):
    """A real quiet install of the sample package, removed and installed again; the
    second removal through the setup configuration's own uninstall mode."""

    def test_install_uninstall_install(self):
        self.prefix.register_runtime()
        folder = r"C:\Program Files\Velmora"
        copies = []
        # (uninstall command, the copy that removes the installation and goes at the next restart)
        for command, copy in ((None, LAUNCHER_COPY), ([SETUP, "/uninstall", "/quiet"], WORKER_COPY)):
            with self.subTest(copy=copy):
                self.assertEqual(self.prefix.run(SETUP, "/quiet", timeout=300), 0)
                self.assertIn("Uninstall.exe", self.prefix.listing(folder))
                before = pending_renames(self.prefix)
                command = command or registered_command(self.prefix, "QuietUninstallString")
                self.assertEqual(self.prefix.run(*command), 0)
                scheduled = wait_for_scheduled(self.prefix, copy, before)
                self.assertEqual(len(scheduled), 1, scheduled)
                self.assertTrue(wait_for_end(self.prefix, scheduled[0]))
                self.assertTrue(scheduled[0].lower().startswith(TEMP_FOLDER.lower() + "\\"), scheduled)
                copies += scheduled
                self.assertFalse(self.prefix.exists(folder), self.prefix.listing(folder))
                self.assertFalse(self.prefix.key_exists(UNINSTALL_KEY))
                leftovers = [name for name in os.listdir(self.prefix.unix(r"C:\Program Files"))
                             if name.lower().startswith("velmora")]
                self.assertEqual(leftovers, [])
        self.prefix.run("wineboot", "-r")
        self.assertTrue(wait_until(lambda: not any(self.prefix.exists(copy) for copy in copies), timeout=30), copies)
        self.assertTrue(self.prefix.exists(TEMP_FOLDER))


if __name__ == "__main__":
    main()
