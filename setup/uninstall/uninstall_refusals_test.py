"""Uninstalls that must stop short: a file in use, the application running, records and
folders that cannot be trusted, another instance holding the guard."""
import os
import shutil
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from winetest import UNINSTALL_KEY, PrefixTestCase, main, wait_until  # noqa: E402
from uninstall_support import (DESKTOP_LINK, HOLD_FILE, LOCAL_APP_DATA, MAINTENANCE, SETUP,  # noqa: E402
                               START_MENU_LINK, TEMP_FOLDER, lay_down_installation, maintenance_copy,
                               pending_renames, short_name)

FOLDER = r"C:\Apps\Velmora"
# A name that has a separate 8.3 short name.
LONG_FOLDER = r"C:\Apps\Velmora Long Name"
# (locale, what the dialog says)
INCOMPLETE = (("en_US.UTF-8", ("Uninstall needs another attempt", "Restart Windows, then run uninstall again.")),
              ("zh_CN.UTF-8", ("卸载未能完全完成", "请重启 Windows 后再次卸载。")))
APP_RUNNING = (("en_US.UTF-8", ("The operation could not finish", "Close Velmora before uninstalling.")),
               ("zh_CN.UTF-8", ("操作未能完成", "请先关闭岫澜，再继续卸载。")))


class UninstallRefusals(PrefixTestCase):
    def setUp(self):
        super().setUp()
        for path in (FOLDER, LONG_FOLDER, r"C:\Apps\outside", r"C:\Elsewhere", LOCAL_APP_DATA):
            target = self.prefix.unix(path)
            target.unlink() if target.is_symlink() else shutil.rmtree(target, ignore_errors=True)
        self.worker = maintenance_copy(self.prefix)

    def run_worker(self, *extra, folder=FOLDER):
        return self.prefix.run(self.worker, "/uninstall-worker", "/target", folder, "/quiet", *extra)

    def assert_still_listed(self):
        # The record and both programs stay, so the registered command can try again.
        for path in (FOLDER + "\\.install-manifest", FOLDER + "\\Uninstall.exe", FOLDER + "\\Velmora.Maintenance.exe",
                     START_MENU_LINK, DESKTOP_LINK):
            self.assertTrue(self.prefix.exists(path), path)
        self.assertTrue(self.prefix.key_exists(UNINSTALL_KEY))

    def test_a_file_in_use_leaves_the_installation_listed_until_released(self):
        lay_down_installation(self.prefix, FOLDER)
        ready, release = self.scratch / "ready", self.scratch / "release"
        holder = self.prefix.start(HOLD_FILE, FOLDER + "\\bin\\engine.dll", self.prefix.windows_of(ready),
                                   self.prefix.windows_of(release))
        try:
            self.assertTrue(wait_until(ready.exists, timeout=30))
            self.assertEqual(self.run_worker(), 3)
            self.assert_still_listed()
            self.assertTrue(self.prefix.exists(FOLDER + "\\bin\\engine.dll"))
            self.assertFalse(self.prefix.exists(FOLDER + "\\readme.txt"))
            self.assertIn(self.worker.lower(), [p.lower() for p in pending_renames(self.prefix)])
        finally:
            release.touch()
            holder.wait(timeout=30)
        self.assertEqual(self.run_worker(), 0)
        self.assertFalse(self.prefix.exists(FOLDER))
        self.assertFalse(self.prefix.key_exists(UNINSTALL_KEY))

    def shown(self, locale, expect, code, *switches):
        process = self.prefix.start(self.worker, *switches, env=self.prefix.in_locale(locale))
        try:
            self.prefix.answer_dialog("Return", expect)  # its only button, Close
            self.assertEqual(process.wait(timeout=60), code)
        except AssertionError as error:
            raise AssertionError(f"{error} (the program's exit code: {process.poll()})") from None
        finally:
            if process.poll() is None:
                process.kill()

    def test_the_result_dialog_follows_a_failed_removal(self):
        for locale, expect in INCOMPLETE:
            with self.subTest(locale):
                lay_down_installation(self.prefix, FOLDER)
                (self.prefix.unix(FOLDER) / ".install-manifest").write_bytes(b"1\tbin\\engine.dll\n\n")
                self.shown(locale, expect, 3, "/uninstall-worker", "/target", FOLDER)
                self.assertFalse(self.prefix.exists(FOLDER + "\\bin\\engine.dll"))
                self.assert_still_listed()

    def test_a_running_application_refuses_by_any_name_of_its_folder_with_nothing_removed(self):
        lay_down_installation(self.prefix, LONG_FOLDER, register=False)
        lay_down_installation(self.prefix, FOLDER)
        shorter = short_name(self.prefix, LONG_FOLDER)
        self.assertNotEqual(shorter.lower(), LONG_FOLDER.lower())
        apps = [self.prefix.start(folder + "\\Velmora.exe") for folder in (FOLDER, LONG_FOLDER)]
        try:
            time.sleep(1.5)
            for name in (FOLDER, shorter, LONG_FOLDER.upper().replace("\\", "/") + "/", LONG_FOLDER + "\\.\\"):
                with self.subTest(name=name):
                    self.assertEqual(self.run_worker(folder=name), 2)
            for locale, expect in APP_RUNNING:
                self.shown(locale, expect, 2, "/uninstall-worker", "/target", FOLDER)
            for folder in (FOLDER, LONG_FOLDER):
                self.assertTrue(self.prefix.exists(folder + "\\bin\\engine.dll"))
                self.assertTrue(self.prefix.exists(folder + "\\.install-manifest"))
            self.assert_still_listed()
        finally:
            self.prefix.run("taskkill", "/F", "/IM", "Velmora.exe")
            for app in apps:
                app.wait(timeout=30)

    def test_a_record_that_climbs_out_touches_nothing_outside(self):
        # Other bad records are rows of the in-process worker tests; here the listing survives.
        outside = self.prefix.unix(r"C:\Apps\outside")
        outside.mkdir(parents=True)
        (outside / "keep.txt").write_bytes(b"keep")
        lay_down_installation(self.prefix, FOLDER)
        record = b"1\t..\\outside\\keep.txt\t1\th\n2\treadme.txt\t1\th\n"
        (self.prefix.unix(FOLDER) / ".install-manifest").write_bytes(record)
        self.assertEqual(self.run_worker(), 3)
        self.assertTrue((outside / "keep.txt").exists())
        self.assertFalse(self.prefix.exists(FOLDER + "\\readme.txt"))
        self.assert_still_listed()

    def test_links_in_the_installation_are_never_followed(self):
        """Wine opens a Unix symlink only as its target, so the link stays and with it
        the installation; Windows removes a link as itself and completes."""
        target = self.prefix.unix(r"C:\Elsewhere")
        for name, listed in (("folder link on the way", "bin"), ("listed file is a link", "readme.txt")):
            with self.subTest(name):
                shutil.rmtree(self.prefix.unix(FOLDER), ignore_errors=True)  # removes links, not targets
                lay_down_installation(self.prefix, FOLDER)
                shutil.rmtree(target, ignore_errors=True)
                target.mkdir()
                (target / "engine.dll").write_bytes(b"not ours")
                (target / "readme.txt").write_bytes(b"not ours either")
                link = self.prefix.unix(FOLDER + "\\" + listed)
                shutil.rmtree(link) if link.is_dir() else link.unlink()
                os.symlink(target if listed == "bin" else target / "readme.txt", link)
                self.assertEqual(self.run_worker(), 3)
                self.assertEqual((target / "engine.dll").read_bytes(), b"not ours")
                self.assertEqual((target / "readme.txt").read_bytes(), b"not ours either")
                self.assert_still_listed()

    def test_a_per_user_folder_that_is_a_link_is_left_alone_and_a_missing_key_does_not_matter(self):
        lay_down_installation(self.prefix, FOLDER, register=False)
        self.prefix.reg_delete(UNINSTALL_KEY)
        target = self.prefix.unix(r"C:\Elsewhere")
        for folder in ("updates", "cache"):
            (target / folder).mkdir(parents=True)
            (target / folder / "kept.bin").write_bytes(b"not ours")
        local = self.prefix.unix(LOCAL_APP_DATA)
        shutil.rmtree(local, ignore_errors=True)
        local.parent.mkdir(parents=True, exist_ok=True)
        os.symlink(target, local)
        self.assertEqual(self.run_worker(), 0)
        self.assertFalse(self.prefix.exists(FOLDER))
        for folder in ("updates", "cache"):
            self.assertEqual((target / folder / "kept.bin").read_bytes(), b"not ours")

    def test_unsafe_folders_are_refused_by_any_name(self):
        # A record planted in Program Files lists a file there; the entry points at it.
        program_files = self.prefix.unix(r"C:\Program Files")
        (program_files / "planted.txt").write_bytes(b"not ours")
        (program_files / ".install-manifest").write_bytes(b"1\tplanted.txt\t1\th\n")
        for name in ("planted.txt", ".install-manifest"):
            self.addCleanup((program_files / name).unlink, missing_ok=True)
        self.prefix.reg_add(UNINSTALL_KEY, "InstallLocation", data=r"C:\Program Files")
        self.addCleanup(self.prefix.reg_delete, UNINSTALL_KEY)
        folders = (r"C:\windows", r"C:\ProgramData", "C:\\", "Apps\\Velmora", "", r"C:\Program Files",
                   short_name(self.prefix, r"C:\Program Files"), short_name(self.prefix, r"C:\ProgramData"),
                   r"c:/program files/", r"C:\Program Files\.")
        for folder in folders:
            with self.subTest(folder=folder):
                self.assertEqual(self.run_worker(folder=folder), 3)
                self.assertTrue((program_files / "planted.txt").exists())
                self.assertTrue(self.prefix.key_exists(UNINSTALL_KEY))
        self.assertTrue(self.prefix.exists(r"C:\windows\system32"))

    def test_only_a_copy_in_the_installer_temporary_folder_schedules_its_own_deletion(self):
        lay_down_installation(self.prefix, FOLDER)
        installed = FOLDER + "\\Velmora.Maintenance.exe"
        outside = r"C:\Apps\outside\Velmora.Maintenance.exe"
        self.prefix.unix(outside).parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(MAINTENANCE, self.prefix.unix(outside))
        nothing = r"C:\Nothing\Velmora"
        cases = (  # program, switches, exit code
            (self.worker, ["/uninstall-worker", "/target", nothing], 3),
            (self.worker, ["/uninstall", "/install-dir", r"C:\Apps\NUL"], 2),
            (self.worker, ["/uninstall-worker", "/target", FOLDER, "/wait-pid", "0"], 2),
            (installed, ["/uninstall", "/install-dir", nothing], 3),
            (installed, ["/uninstall-worker", "/target", nothing], 3),
            (outside, ["/uninstall-worker", "/target", nothing], 3),
            (outside, ["/uninstall", "/install-dir", r"C:\Apps\NUL"], 2),
        )
        for program, switches, code in cases:
            with self.subTest(program=program, switches=switches):
                self.prefix.reg_delete(r"HKLM\System\CurrentControlSet\Control\Session Manager",
                                       "PendingFileRenameOperations")
                self.assertEqual(self.prefix.run(program, *switches, "/quiet"), code)
                scheduled = [p.lower() for p in pending_renames(self.prefix)]
                self.assertEqual(program.lower() in scheduled, program.startswith(TEMP_FOLDER), scheduled)
        # Cancelled at the confirmation.
        process = self.prefix.start(self.worker, "/uninstall", "/install-dir", FOLDER)
        self.prefix.answer_dialog("Escape")
        self.assertEqual(process.wait(timeout=60), 0)
        self.assertIn(self.worker.lower(), [p.lower() for p in pending_renames(self.prefix)])
        self.assertTrue(self.prefix.exists(installed))
        self.assert_still_listed()

    def test_another_instance_ends_with_5_and_only_the_worker_waits_for_the_guard(self):
        lay_down_installation(self.prefix, FOLDER)
        holder = self.prefix.start(self.worker, "/uninstall", "/install-dir", FOLDER)  # holds it at its dialog
        worker = holder
        try:
            confirmation = wait_until(lambda: next(iter(self.prefix.dialogs()), None), timeout=60)
            second = maintenance_copy(self.prefix, "Maintenance-second.exe")
            # Any other start ends with 5 whatever its command line; a temporary copy still goes at the restart.
            for program, args in ((second, ["/uninstall", "/quiet"]), (MAINTENANCE, []), (SETUP, ["/quiet"]),
                                  (MAINTENANCE, ["/uninstall-worker", "/quiet"])):
                with self.subTest(program=program, args=args):
                    self.assertEqual(self.prefix.run(program, *args), 5)
            self.assertIn(second.lower(), [p.lower() for p in pending_renames(self.prefix)])
            started = time.time()
            worker = self.prefix.start(maintenance_copy(self.prefix, "Uninstall-test.exe"), "/uninstall-worker",
                                       "/target", FOLDER, "/quiet")
            time.sleep(2)
            self.assertIsNone(worker.poll())
            self.prefix.press(confirmation, "Escape")
            self.assertEqual(holder.wait(timeout=30), 0)
            self.assertEqual(worker.wait(timeout=30), 0)
            self.assertLess(time.time() - started, 12)
            self.assertFalse(self.prefix.exists(FOLDER))
            self.assertEqual(self.prefix.run(MAINTENANCE), 87)  # the guard is free again
        finally:
            for process in (holder, worker):
                if process.poll() is None:
                    process.kill()


if __name__ == "__main__":
    main()
