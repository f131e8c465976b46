"""Start-up, mode selection, refusals and exit codes of the real programs under Wine."""
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from winetest import OUT, TESTAPPS, UNINSTALL_KEY, PrefixTestCase, main  # noqa: E402

MAINTENANCE = OUT / "Velmora.Maintenance.exe"
SETUP = OUT / "VelmoraSetup.exe"
CURRENT_VERSION = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion"
MININT = r"HKLM\SYSTEM\CurrentControlSet\Control\MiniNT"
# A folder with no installation record: an uninstall that gets that far ends with 3.
NOTHING_HERE = r"C:\Nothing\Velmora"


class StartUp(PrefixTestCase):
    def test_maintenance_configuration_without_an_uninstall_switch_ends_with_87(self):
        for args in ([], ["/quiet"], ["/update"], ["/repair"], ["-uninstall"], ["/uninstall:"], ["/uninstall=1"]):
            with self.subTest(args=args):
                self.assertEqual(self.prefix.run(MAINTENANCE, *args), 87)

    def test_a_second_instance_ends_with_5_whatever_its_command_line(self):
        self.prefix.reg_add(UNINSTALL_KEY, "InstallLocation", data=NOTHING_HERE)
        self.addCleanup(self.prefix.reg_delete, UNINSTALL_KEY)
        first = self.prefix.start(MAINTENANCE, "/uninstall")  # waits at its confirmation
        dialog = self.prefix.wait_window("^Velmora$")
        for args in ([], ["/uninstall", "/quiet"], ["/uninstall-worker", "/quiet"]):
            with self.subTest(args=args):
                self.assertEqual(self.prefix.run(MAINTENANCE, *args), 5)
        self.assertEqual(self.prefix.run(SETUP, "/quiet"), 5)
        self.prefix.press(dialog, "Escape")
        self.assertEqual(first.wait(timeout=30), 0)
        self.assertEqual(self.prefix.run(MAINTENANCE), 87)  # the guard is free again


class WindowsCheck(PrefixTestCase):
    def expect_unsupported(self):
        self.assertEqual(self.prefix.run(MAINTENANCE, "/uninstall", "/quiet"), 6)
        self.assertEqual(self.prefix.run(SETUP, "/quiet"), 6)

    def test_windows_before_10_is_refused_with_6_and_a_message_unless_quiet(self):
        self.prefix.set_windows_version("win81")
        self.addCleanup(self.prefix.set_windows_version, "win10")
        self.expect_unsupported()
        self.assertEqual(self.prefix.run(MAINTENANCE), 87)  # checked only after the switches
        shown = self.prefix.start(MAINTENANCE, "/uninstall")
        dialog = self.prefix.wait_window("^Velmora$")
        self.prefix.press(dialog, "Return")
        self.assertEqual(shown.wait(timeout=30), 6)

    def test_the_preinstallation_environment_is_refused(self):
        self.prefix.reg_add(MININT)
        self.addCleanup(self.prefix.reg_delete, MININT)
        self.expect_unsupported()

    def test_server_core_and_nano_are_refused_but_a_lower_case_word_passes(self):
        self.addCleanup(self.prefix.reg_delete, CURRENT_VERSION, "InstallationType")
        for installation_type in ("Server Core", "Nano Server"):
            with self.subTest(installation_type=installation_type):
                self.prefix.reg_add(CURRENT_VERSION, "InstallationType", data=installation_type)
                self.expect_unsupported()
        self.prefix.reg_add(CURRENT_VERSION, "InstallationType", data="server core")
        self.assertEqual(self.prefix.run(MAINTENANCE, "/uninstall", "/quiet"), 0)


class UninstallModes(PrefixTestCase):
    def setUp(self):
        super().setUp()
        self.prefix.reg_delete(UNINSTALL_KEY)

    def test_nothing_installed_ends_with_0_and_shows_nothing_even_without_quiet(self):
        self.assertEqual(self.prefix.run(MAINTENANCE, "/uninstall", timeout=20), 0)
        self.assertEqual(self.prefix.run(MAINTENANCE, "/UnInstall", "/QUIET"), 0)
        self.assertEqual(self.prefix.run(SETUP, "/uninstall", "/quiet"), 0)

    def test_an_invalid_install_dir_is_refused_with_2(self):
        for folder in ("relative\\Velmora", "C:\\", "C:", "\\\\server\\share\\Velmora"):
            with self.subTest(folder=folder):
                self.assertEqual(self.prefix.run(MAINTENANCE, "/uninstall", "/quiet", "/install-dir", folder), 2)
        shown = self.prefix.start(MAINTENANCE, "/uninstall", "/install-dir", "relative")
        dialog = self.prefix.wait_window("^Velmora$")
        self.prefix.press(dialog, "Return")
        self.assertEqual(shown.wait(timeout=30), 2)

    def test_a_confirmation_that_cannot_be_shown_counts_as_cancelled(self):
        """comctl32 missing: the delay-loaded dialog cannot be bound, and the program
        carries on as if it had been closed instead of ending with an exception."""
        self.prefix.reg_add(UNINSTALL_KEY, "InstallLocation", data=NOTHING_HERE)
        env = self.prefix.with_env(WINEDLLOVERRIDES=self.prefix.env["WINEDLLOVERRIDES"] + ";comctl32=")
        self.assertEqual(self.prefix.run(MAINTENANCE, "/uninstall", env=env, timeout=60), 0)

    def test_switch_rules_seen_from_the_outside(self):
        run = lambda *args: self.prefix.run(MAINTENANCE, *args)  # noqa: E731
        # "/install-dir" as the last argument has no value: nothing registered, so 0.
        self.assertEqual(run("/uninstall", "/quiet", "/install-dir"), 0)
        self.assertEqual(run("/uninstall", "/quiet", "/install-dir", NOTHING_HERE), 3)
        # "/quiet" standing as the folder's value still makes the run quiet.
        self.assertEqual(run("/uninstall", "/install-dir", "/quiet"), 2)
        # The worker mode wins over the uninstall mode.
        self.assertEqual(run("/uninstall", "/uninstall-worker", "/quiet", "/target", NOTHING_HERE), 3)

    def test_wait_pid_values(self):
        run = lambda *wait: self.prefix.run(  # noqa: E731
            MAINTENANCE, "/uninstall", "/quiet", "/install-dir", NOTHING_HERE, *wait)
        self.assertEqual(run("/wait-pid", ""), 3)  # empty: no wait
        for value in ("0", "abc", "12x", "-"):
            with self.subTest(value=value):
                self.assertEqual(run("/wait-pid", value), 2)
        self.assertEqual(run("/wait-pid", "4000000"), 3)  # no such process any more
        self.assertEqual(self.prefix.run(MAINTENANCE, "/uninstall-worker", "/quiet", "/target", NOTHING_HERE,
                                         "/wait-pid", "0"), 2)

    def test_wait_pid_waits_for_a_process_that_ends_within_the_wait(self):
        pid_file = self.scratch / "pid"
        sleeper = self.prefix.start(TESTAPPS / "sleeper.exe", "3000", self.prefix.windows_of(pid_file))
        deadline = time.time() + 20
        while not (pid_file.exists() and pid_file.read_text().strip()) and time.time() < deadline:
            time.sleep(0.1)
        pid = pid_file.read_text().strip()
        started = time.time()
        code = self.prefix.run(MAINTENANCE, "/uninstall", "/quiet", "/install-dir", NOTHING_HERE, "/wait-pid", pid)
        self.assertEqual(code, 3)
        self.assertGreater(time.time() - started, 1.0, "the wait returned before the process ended")
        sleeper.wait(timeout=30)


class InstallModeRefusals(PrefixTestCase):
    def setUp(self):
        super().setUp()
        self.prefix.reg_delete(UNINSTALL_KEY)
        self.addCleanup(self.prefix.reg_delete, UNINSTALL_KEY)

    def register(self, location, version):
        self.prefix.reg_add(UNINSTALL_KEY, "InstallLocation", data=location)
        self.prefix.reg_add(UNINSTALL_KEY, "DisplayVersion", data=version)

    def test_update_or_repair_with_nothing_installed_is_refused(self):
        for switch in ("/update", "/repair", "/UPDATE"):
            with self.subTest(switch=switch):
                self.assertEqual(self.prefix.run(SETUP, "/quiet", switch), 2)
        # An empty or expandable InstallLocation means not installed; so does the 32-bit view.
        self.prefix.reg_add(UNINSTALL_KEY, "InstallLocation", data="")
        self.assertEqual(self.prefix.run(SETUP, "/quiet", "/repair"), 2)
        self.prefix.reg_add(UNINSTALL_KEY, "InstallLocation", "REG_EXPAND_SZ", r"C:\Apps\Velmora")
        self.assertEqual(self.prefix.run(SETUP, "/quiet", "/update"), 2)
        self.prefix.reg_delete(UNINSTALL_KEY)
        result = self.prefix.reg("add", UNINSTALL_KEY, "/v", "InstallLocation", "/d", r"C:\Apps\Velmora", "/f",
                                 "/reg:32")
        self.assertEqual(result.returncode, 0)
        self.addCleanup(self.prefix.reg, "delete", UNINSTALL_KEY, "/f", "/reg:32")
        self.assertEqual(self.prefix.run(SETUP, "/quiet", "/update"), 2)
        shown = self.prefix.start(SETUP, "/repair")
        dialog = self.prefix.wait_window("^Velmora$")
        self.prefix.press(dialog, "Return")
        self.assertEqual(shown.wait(timeout=30), 2)

    def test_a_newer_installed_version_is_refused_and_left_alone(self):
        folder = r"C:\Apps\Velmora"
        for version in ("1.0.2", "1.1.0", "2.0.0"):
            with self.subTest(version=version):
                self.register(folder, version)
                for args in (["/quiet"], ["/quiet", "/repair"], ["/quiet", "/update"]):
                    self.assertEqual(self.prefix.run(SETUP, *args), 2)
                self.assertEqual(self.prefix.reg_value(UNINSTALL_KEY, "DisplayVersion"), ("REG_SZ", version))
                self.assertFalse(self.prefix.exists(folder))

    def test_an_invalid_install_folder_is_refused(self):
        for folder in ("C:\\", "relative", "C:\\" + "a" * 218):
            with self.subTest(folder=folder):
                self.assertEqual(self.prefix.run(SETUP, "/quiet", "/install-dir", folder), 2)


class Language(PrefixTestCase):
    """Each refusal dialog says its own text in the locale's language: the dialogs are
    read before they are answered, so a swapped or wrong text fails here."""
    # (program, arguments, English text, Chinese text)
    REFUSALS = [
        (MAINTENANCE, ["/uninstall", "/install-dir", "relative"],
         "The installation folder is not valid.", "安装位置无效，请重新运行卸载程序。"),
        (SETUP, ["/install-dir", "relative"],
         "The installation folder is not valid.", "安装位置无效，请重新选择。"),
        (SETUP, ["/repair"], "Velmora is not installed yet.", "尚未安装岫澜，请先完成安装。"),
    ]

    def test_refusals_are_shown_with_their_own_text_in_either_language(self):
        for locale, title, column in (("zh_CN.UTF-8", "^岫澜$", 3), ("en_US.UTF-8", "^Velmora$", 2)):
            env = self.prefix.with_env(LANG=locale, LC_ALL=locale)
            for row in self.REFUSALS:
                with self.subTest(locale=locale, arguments=row[1]):
                    self.prefix.reg_delete(UNINSTALL_KEY)
                    shown = self.prefix.start(row[0], *row[1], env=env)
                    dialog = self.prefix.wait_window(title)
                    texts = self.prefix.dialog_texts()
                    self.prefix.press(dialog, "Return")
                    self.assertEqual(shown.wait(timeout=30), 2)
                    self.assertIn(row[column], texts)


if __name__ == "__main__":
    main()
