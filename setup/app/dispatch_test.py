"""Start-up, mode selection, refusals and exit codes of the real programs under Wine."""
import time

from winetest import OUT, TESTAPPS, UNINSTALL_KEY, PrefixTestCase, main, wait_until

MAINTENANCE = OUT / "Velmora.Maintenance.exe"
SETUP = OUT / "VelmoraSetup.exe"
CURRENT_VERSION = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion"
MININT = r"HKLM\SYSTEM\CurrentControlSet\Control\MiniNT"
NOTHING_HERE = r"C:\Nothing\Velmora"
# An uninstall of a folder without a record: one that gets that far ends with 3.
UNINSTALL_NOTHING = ["/uninstall", "/quiet", "/install-dir", NOTHING_HERE]


class CommandLines(PrefixTestCase):
    # (program, arguments, exit code) with nothing installed
    CODES = [
        # The maintenance configuration needs an uninstall switch, whole.
        *[(MAINTENANCE, args, 87) for args in ([], ["/quiet"], ["/update"], ["/repair"], ["-uninstall"],
                                                ["/uninstall:"], ["/uninstall=1"])],
        # Nothing to uninstall: 0, and nothing shown even without /quiet (a dialog would time out).
        (MAINTENANCE, ["/uninstall"], 0),
        (MAINTENANCE, ["/UnInstall", "/QUIET"], 0),
        (SETUP, ["/uninstall", "/quiet"], 0),
        # "/install-dir" as the last argument has no value: nothing registered, so 0.
        (MAINTENANCE, ["/uninstall", "/quiet", "/install-dir"], 0),
        (MAINTENANCE, UNINSTALL_NOTHING, 3),
        # "/quiet" standing as the folder's value still makes the run quiet.
        (MAINTENANCE, ["/uninstall", "/install-dir", "/quiet"], 2),
        # The worker mode wins over the uninstall mode.
        (MAINTENANCE, ["/uninstall", "/uninstall-worker", "/quiet", "/target", NOTHING_HERE], 3),
        *[(MAINTENANCE, ["/uninstall", "/quiet", "/install-dir", folder], 2)
          for folder in ("relative\\Velmora", "C:\\", "C:", "\\\\server\\share\\Velmora")],
        # An empty /wait-pid waits for nothing, nor one of a process that is gone; 33 bits are refused.
        (MAINTENANCE, UNINSTALL_NOTHING + ["/wait-pid", ""], 3),
        *[(MAINTENANCE, UNINSTALL_NOTHING + ["/wait-pid", value], 2)
          for value in ("0", "abc", "12x", "-", "99999999999")],
        (MAINTENANCE, UNINSTALL_NOTHING + ["/wait-pid", "4000000"], 3),
        (MAINTENANCE, ["/uninstall-worker", "/quiet", "/target", NOTHING_HERE, "/wait-pid", "0"], 2),
        # Update and repair need an installation; an install needs a valid folder.
        *[(SETUP, ["/quiet", switch], 2) for switch in ("/update", "/repair", "/UPDATE")],
        *[(SETUP, ["/quiet", "/install-dir", folder], 2) for folder in ("C:\\", "relative", "C:\\" + "a" * 218)],
    ]

    # Each refusal dialog is read before it is answered: a swapped or untranslated text fails.
    # (program, arguments, version registered or Windows version set, exit code, English, Chinese text)
    REFUSALS = [
        (MAINTENANCE, ["/uninstall", "/install-dir", "relative"], None, 2,
         "The installation folder is not valid.", "安装位置无效，请重新运行卸载程序。"),
        (SETUP, ["/install-dir", "relative"], None, 2, "The installation folder is not valid.",
         "安装位置无效，请重新选择。"),
        (SETUP, ["/repair"], None, 2, "Velmora is not installed yet.", "尚未安装岫澜，请先完成安装。"),
        (SETUP, [], "9.0.0", 2, "A newer version of Velmora is already installed. Uninstall it before installing "
         "this version.", "已安装更高版本的岫澜；如需安装当前版本，请先卸载现有版本。"),
        (MAINTENANCE, ["/uninstall"], "win81", 6, "Velmora requires Windows 10, Windows 11, or a supported "
         "Windows Server Desktop Experience installation.", "岫澜需要 Windows 10、Windows 11，或受支持的 Windows "
         "Server 桌面体验版。"),
    ]

    def test_refusals_are_shown_with_their_own_text_in_either_language(self):
        self.addCleanup(self.prefix.reg_delete, UNINSTALL_KEY)
        for locale, instruction, column in (("zh_CN.UTF-8", "操作未能完成", 5),
                                            ("en_US.UTF-8", "The operation could not finish", 4)):
            for row in self.REFUSALS:
                with self.subTest(locale=locale, arguments=row[1]):
                    self.prefix.reg_delete(UNINSTALL_KEY)
                    if row[2] == "win81":
                        self.assertEqual(self.prefix.run("winecfg", "-v", "win81"), 0)
                    elif row[2]:
                        self.prefix.reg_add(UNINSTALL_KEY, "InstallLocation", data=r"C:\Apps\Velmora")
                        self.prefix.reg_add(UNINSTALL_KEY, "DisplayVersion", data=row[2])
                    shown = self.prefix.start(row[0], *row[1], env=self.prefix.in_locale(locale))
                    self.prefix.answer_dialog("Return", (instruction, row[column]))
                    self.assertEqual(shown.wait(timeout=30), row[3])
                if row[2] == "win81":
                    self.assertEqual(self.prefix.run("winecfg", "-v", "win10"), 0)

    def test_exit_codes(self):
        for program, args, code in self.CODES:
            with self.subTest(program=program.name, args=args):
                self.assertEqual(self.prefix.run(program, *args, timeout=30), code)

    def test_a_confirmation_that_cannot_be_shown_counts_as_cancelled(self):
        # comctl32 missing: the delay-loaded dialog cannot be bound, and the program
        # carries on as if it had been closed instead of ending with an exception.
        self.prefix.reg_add(UNINSTALL_KEY, "InstallLocation", data=NOTHING_HERE)
        self.addCleanup(self.prefix.reg_delete, UNINSTALL_KEY)
        env = self.prefix.with_env(WINEDLLOVERRIDES=self.prefix.env["WINEDLLOVERRIDES"] + ";comctl32=")
        self.assertEqual(self.prefix.run(MAINTENANCE, "/uninstall", env=env, timeout=60), 0)

    def test_wait_pid_waits_for_a_process_that_ends_within_the_wait(self):
        ready, release = self.scratch / "ready", self.scratch / "release"
        holder = self.prefix.start(TESTAPPS / "hold_file.exe", r"C:\windows\win.ini",
                                   self.prefix.windows_of(ready), self.prefix.windows_of(release))
        self.addCleanup(holder.kill)
        self.assertTrue(wait_until(ready.exists, timeout=30))
        listed = self.prefix.run_raw(["wmic", "process", "get", "name,processid"]).stdout.replace("\0", "")
        pid = [line.split()[1] for line in listed.splitlines() if line.startswith("hold_file.exe")][0]
        waiting = self.prefix.start(MAINTENANCE, *UNINSTALL_NOTHING, "/wait-pid", pid)
        time.sleep(2)
        self.assertIsNone(waiting.poll(), "the wait returned before the process ended")
        release.touch()
        self.assertEqual(waiting.wait(timeout=30), 3)

    def test_unsupported_windows_is_refused_with_6(self):
        # (key, value, data, code); before Windows 10 is a row of REFUSALS (the same check).
        # The installation type is matched in its own letter case.
        rows = [(MININT, None, "", 6), *[(CURRENT_VERSION, "InstallationType", data, code) for data, code in
                                         (("Server Core", 6), ("Nano Server", 6), ("server core", 0))]]
        for key, name, data, code in rows:
            self.prefix.reg_add(key, name, data=data)
            with self.subTest(data or key):
                self.assertEqual(self.prefix.run(MAINTENANCE, "/uninstall", "/quiet"), code)
                self.assertEqual(self.prefix.run(MAINTENANCE), 87)  # checked only after the switches
                if code == 6:
                    self.assertEqual(self.prefix.run(SETUP, "/quiet"), 6)
            self.prefix.reg_delete(key, name)

    def test_an_empty_expandable_32_bit_or_newer_installation_is_refused_and_left_alone(self):
        folder = r"C:\Apps\Velmora"
        # (InstallLocation's type and data, registry view, DisplayVersion, switch after /quiet);
        # which versions count as newer is the in-process decision table's business.
        rows = [("REG_SZ", "", "/reg:64", None, "/repair"), ("REG_EXPAND_SZ", folder, "/reg:64", None, "/update"),
                ("REG_SZ", folder, "/reg:32", None, "/update"),
                *[("REG_SZ", folder, "/reg:64", "1.1.0", switch) for switch in (None, "/repair", "/update")]]
        for kind, location, view, version, switch in rows:
            with self.subTest(kind=kind, location=location, view=view, version=version, switch=switch):
                self.prefix.reg("add", UNINSTALL_KEY, "/v", "InstallLocation", "/t", kind, "/d", location, "/f",
                                view)
                if version:
                    self.prefix.reg("add", UNINSTALL_KEY, "/v", "DisplayVersion", "/d", version, "/f", view)
                self.assertEqual(self.prefix.run(SETUP, "/quiet", *filter(None, [switch])), 2)
                left = self.prefix.reg_value(UNINSTALL_KEY, "DisplayVersion")
                self.assertEqual(left, version and ("REG_SZ", version))
                self.assertFalse(self.prefix.exists(folder))
            for written in ("/reg:64", "/reg:32"):  # whatever the row wrote, even when it failed
                self.prefix.reg("delete", UNINSTALL_KEY, "/f", written)


if __name__ == "__main__":
    main()
