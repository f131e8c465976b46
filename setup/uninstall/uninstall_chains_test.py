"""Both uninstall chains end to end: the registered commands and the installed
maintenance program, quiet and answered through their dialogs."""
import os
import re
import shutil

from winetest import UNINSTALL_KEY, PrefixTestCase, main, wait_until
from uninstall_support import (DESKTOP_LINK, LOCAL_APP_DATA, SETUP, START_MENU_LINK,
                               lay_down_installation, pending_renames, wait_for_end, wait_for_scheduled)

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
        user_files = [FOLDER + "\\" + name for name in UNLISTED] + [LOCAL_APP_DATA + "\\" + name for name in (
            "updates\\1.0.2\\package.bin", "cache\\thumbs\\a.bin", "settings.json", "licence\\key.dat")]
        for path in map(self.prefix.unix, user_files):
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(b"the user's")

    def assert_removed(self):
        # Emptied folders go; the user's files and what they need stay.
        p = self.prefix
        left = [path for path in (FOLDER + "\\bin", START_MENU_LINK, DESKTOP_LINK) if p.exists(path)]
        self.assertEqual((p.listing(FOLDER), left, p.key_exists(UNINSTALL_KEY)), (UNLISTED, [], False))
        self.assertEqual(sorted(os.listdir(p.unix(LOCAL_APP_DATA))), ["licence", "settings.json"])

    def test_uninstall_string_asks_first_and_tells_the_outcome_in_chinese(self):
        text = self.prefix.reg_value(UNINSTALL_KEY, "UninstallString")[1]
        program, switches = re.fullmatch(r'"([^"]*)"\s*(.*)', text).groups()  # as the system splits it
        chinese = self.prefix.in_locale("zh_CN.UTF-8")
        self.assertEqual(self.prefix.run(program, *switches.split(), env=chinese), 0)
        self.prefix.answer_dialog("Escape", CONFIRM_ZH)  # cancelled: nothing changes
        self.assertTrue(self.prefix.exists(FOLDER + "\\.install-manifest") and
                        self.prefix.key_exists(UNINSTALL_KEY))
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

    def test_with_quiet_the_setup_hands_off_to_a_worker_copy_deleted_at_restart(self):
        before = pending_renames(self.prefix)  # the copies of earlier tests
        self.assertEqual(self.prefix.run(SETUP, "/uninstall", "/quiet"), 0)
        scheduled = wait_for_scheduled(self.prefix, WORKER_COPY, before)
        self.assertTrue(len(scheduled) == 1 and wait_for_end(self.prefix, scheduled[0]), scheduled)
        self.assert_removed()
        self.prefix.run("wineboot", "-r")
        self.assertTrue(wait_until(lambda: not self.prefix.exists(scheduled[0]), timeout=30), scheduled)


if __name__ == "__main__":
    main()
