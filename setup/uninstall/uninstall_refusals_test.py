"""Uninstalls that must stop short: a file in use, the application running, records and
folders that cannot be trusted, another instance holding the guard."""
import os
import shutil
import time

from winetest import TESTAPPS, UNINSTALL_KEY, PrefixTestCase, main, wait_until
from uninstall_support import (DESKTOP_LINK, LOCAL_APP_DATA, MAINTENANCE, SETUP, START_MENU_LINK,
                               TEMP_FOLDER, lay_down_installation, pending_renames, short_name)

FOLDER = r"C:\Apps\Velmora"
# A name that has a separate 8.3 short name.
LONG_FOLDER = r"C:\Apps\Velmora Long Name"
# Files that are not ours, where links and records will point.
ELSEWHERE = r"C:\Elsewhere"
NOT_OURS = ["cache\\kept.bin", "engine.dll", "readme.txt", "updates\\kept.bin"]
# (locale, what the dialog says)
INCOMPLETE = (("en_US.UTF-8", ("Uninstall needs another attempt", "Restart Windows, then run uninstall again.")),
              ("zh_CN.UTF-8", ("卸载未能完全完成", "请重启 Windows 后再次卸载。")))
APP_RUNNING = (("en_US.UTF-8", ("The operation could not finish", "Close Velmora before uninstalling.")),
               ("zh_CN.UTF-8", ("操作未能完成", "请先关闭岫澜，再继续卸载。")))


class UninstallRefusals(PrefixTestCase):
    def setUp(self):
        super().setUp()
        for path in (FOLDER, LONG_FOLDER, ELSEWHERE, LOCAL_APP_DATA):
            target = self.prefix.unix(path)
            target.unlink() if target.is_symlink() else shutil.rmtree(target, ignore_errors=True)
        for name in NOT_OURS:
            self.prefix.unix(ELSEWHERE + "\\" + name).parent.mkdir(parents=True, exist_ok=True)
            self.prefix.unix(ELSEWHERE + "\\" + name).write_bytes(b"not ours")
        # A copy in the temporary folder, as the hand-off makes: it schedules its own deletion.
        self.worker = TEMP_FOLDER + "\\Maintenance-test.exe"
        self.prefix.unix(TEMP_FOLDER).mkdir(parents=True, exist_ok=True)
        shutil.copyfile(MAINTENANCE, self.prefix.unix(self.worker))

    def run_worker(self, folder=FOLDER):
        return self.prefix.run(self.worker, "/uninstall-worker", "/target", folder, "/quiet")

    def assert_still_listed(self, folder=FOLDER):
        # The record and both programs stay, so the registered command can try again.
        for path in (folder + "\\.install-manifest", folder + "\\Uninstall.exe",
                     folder + "\\Velmora.Maintenance.exe", START_MENU_LINK, DESKTOP_LINK):
            self.assertTrue(self.prefix.exists(path), path)
        self.assertTrue(self.prefix.key_exists(UNINSTALL_KEY))

    def test_a_file_in_use_leaves_the_installation_listed_until_released(self):
        lay_down_installation(self.prefix, FOLDER)
        ready, release = self.scratch / "ready", self.scratch / "release"
        holder = self.prefix.start(TESTAPPS / "hold_file.exe", FOLDER + "\\bin\\engine.dll",
                                   self.prefix.windows_of(ready), self.prefix.windows_of(release))
        self.addCleanup(holder.kill)
        self.assertTrue(wait_until(ready.exists, timeout=30))
        self.assertEqual(self.run_worker(), 3)
        self.assert_still_listed()
        self.assertEqual([self.prefix.exists(FOLDER + name) for name in ("\\bin\\engine.dll", "\\readme.txt")],
                         [True, False])
        release.touch()
        holder.wait(timeout=30)
        # Only a copy in the temporary folder schedules its own deletion, whatever the outcome.
        for program in (FOLDER + "\\Velmora.Maintenance.exe", MAINTENANCE):
            code = self.prefix.run(program, "/uninstall-worker", "/target", FOLDER + "-none", "/quiet")
            self.assertEqual(code, 3)
        scheduled = [p.lower() for p in pending_renames(self.prefix)]
        self.assertEqual([p for p in scheduled if not p.startswith(TEMP_FOLDER.lower())], [])
        self.assertIn(self.worker.lower(), scheduled)
        # The second attempt completes without the registry key, and leaves the targets of a
        # per-user folder that is a link alone.
        self.prefix.reg_delete(UNINSTALL_KEY)
        self.prefix.unix(LOCAL_APP_DATA).parent.mkdir(parents=True, exist_ok=True)
        os.symlink(self.prefix.unix(ELSEWHERE), self.prefix.unix(LOCAL_APP_DATA))
        self.assertEqual(self.run_worker(), 0)
        self.assertFalse(self.prefix.exists(FOLDER))
        self.assertEqual(self.prefix.listing(ELSEWHERE), NOT_OURS)

    def shown(self, locale, expect, code, *switches):
        process = self.prefix.start(self.worker, *switches, env=self.prefix.in_locale(locale))
        self.addCleanup(process.kill)  # nothing once it has ended
        self.prefix.answer_dialog("Return", expect)  # its only button, Close
        self.assertEqual(process.wait(timeout=60), code)

    def test_a_record_that_climbs_out_touches_nothing_outside_and_the_result_says_so(self):
        # Other bad records are rows of the in-process worker tests.
        for locale, expect in INCOMPLETE:
            with self.subTest(locale):
                lay_down_installation(self.prefix, FOLDER)
                record = b"1\t..\\..\\Elsewhere\\engine.dll\t1\th\n2\treadme.txt\t1\th\n"
                (self.prefix.unix(FOLDER) / ".install-manifest").write_bytes(record)
                self.shown(locale, expect, 3, "/uninstall-worker", "/target", FOLDER)
                self.assertEqual(self.prefix.listing(ELSEWHERE), NOT_OURS)
                self.assertFalse(self.prefix.exists(FOLDER + "\\readme.txt"))
                self.assert_still_listed()

    def test_a_running_application_refuses_by_any_name_of_its_folder_with_nothing_removed(self):
        lay_down_installation(self.prefix, LONG_FOLDER)
        app = self.prefix.start(LONG_FOLDER + "\\Velmora.exe")
        self.addCleanup(app.wait, timeout=30)
        self.addCleanup(self.prefix.run, "taskkill", "/F", "/IM", "Velmora.exe")
        time.sleep(1.5)
        # By its 8.3 name (its other spellings: folder_identity_test) and by its own.
        self.assertEqual(self.run_worker(folder=short_name(self.prefix, LONG_FOLDER)), 2)
        for locale, expect in APP_RUNNING:
            self.shown(locale, expect, 2, "/uninstall-worker", "/target", LONG_FOLDER)
        self.assertTrue(self.prefix.exists(LONG_FOLDER + "\\bin\\engine.dll"))
        self.assert_still_listed(LONG_FOLDER)

    def test_links_in_the_installation_are_never_followed(self):
        """Wine opens a Unix symlink only as its target, so the link stays and with it
        the installation; Windows removes a link as itself and completes."""
        lay_down_installation(self.prefix, FOLDER)
        shutil.rmtree(self.prefix.unix(FOLDER + "\\bin"))
        os.symlink(self.prefix.unix(ELSEWHERE), self.prefix.unix(FOLDER + "\\bin"))  # a folder on the way
        self.prefix.unix(FOLDER + "\\readme.txt").unlink()
        os.symlink(self.prefix.unix(ELSEWHERE + "\\readme.txt"), self.prefix.unix(FOLDER + "\\readme.txt"))
        self.assertEqual(self.run_worker(), 3)
        self.assertEqual(self.prefix.listing(ELSEWHERE), NOT_OURS)
        self.assert_still_listed()

    def test_unsafe_folders_are_refused_by_any_name(self):
        # A record planted in Program Files lists a file there; the entry points at it.
        program_files = self.prefix.unix(r"C:\Program Files")
        (program_files / "planted.txt").write_bytes(b"not ours")
        (program_files / ".install-manifest").write_bytes(b"1\tplanted.txt\t1\th\n")
        for name in ("planted.txt", ".install-manifest"):
            self.addCleanup((program_files / name).unlink, missing_ok=True)
        self.prefix.reg_add(UNINSTALL_KEY, "InstallLocation", data=r"C:\Program Files")
        self.addCleanup(self.prefix.reg_delete, UNINSTALL_KEY)
        # Which folders are unsafe, and their other spellings: paths_test, folder_identity_test.
        for folder in ("", "Apps\\Velmora", r"C:\Program Files", short_name(self.prefix, r"C:\Program Files")):
            with self.subTest(folder=folder):
                self.assertEqual(self.run_worker(folder=folder), 3)
                self.assertTrue((program_files / "planted.txt").exists() and self.prefix.key_exists(UNINSTALL_KEY))

    def test_another_instance_ends_with_5_and_only_the_worker_waits_for_the_guard(self):
        lay_down_installation(self.prefix, FOLDER)
        holder = self.prefix.start(self.worker, "/uninstall", "/install-dir", FOLDER)  # holds it at its dialog
        self.addCleanup(holder.kill)
        confirmation = wait_until(lambda: next(iter(self.prefix.dialogs()), None), timeout=60)
        # Any other start ends with 5 whatever its command line, in either configuration.
        for program, args in ((MAINTENANCE, []), (SETUP, ["/quiet"]),
                              (MAINTENANCE, ["/uninstall-worker", "/quiet"])):
            with self.subTest(program=program, args=args):
                self.assertEqual(self.prefix.run(program, *args), 5)
        started = time.time()
        # A second process of the same copy.
        worker = self.prefix.start(self.worker, "/uninstall-worker", "/target", FOLDER, "/quiet")
        self.addCleanup(worker.kill)
        time.sleep(2)
        self.assertIsNone(worker.poll())
        self.prefix.press(confirmation, "Escape")
        self.assertEqual((holder.wait(timeout=30), worker.wait(timeout=30)), (0, 0))
        self.assertLess(time.time() - started, 12)
        self.assertFalse(self.prefix.exists(FOLDER))
        self.assertEqual(self.prefix.run(MAINTENANCE), 87)  # the guard is free again


if __name__ == "__main__":
    main()
