"""The launcher Uninstall.exe: which copy it makes, how it starts it and its exit codes.
A stand-in for Velmora.Maintenance.exe records the start it was given."""
import re
import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "testing"))
from winetest import PrefixTestCase, main  # noqa: E402
from uninstall_support import (LAUNCHER, RECORD_START, TEMP_FOLDER, PrivateDisplayTestCase,  # noqa: E402
                               run_with_variables, start_records, temp_copies, wait_until)

FOLDER = r"C:\Apps\Velmora"
RECORD = r"C:\start-record.txt"
COPY_NAME = r"Maintenance-(\d+)-(\d+)\.exe"


class Launcher(PrivateDisplayTestCase):
    def setUp(self):
        super().setUp()
        for path in (FOLDER, r"C:\Blocked", r"C:\OtherData", r"C:\Uninstall.exe", r"C:\Velmora.Maintenance.exe"):
            target = self.prefix.unix(path)
            shutil.rmtree(target, ignore_errors=True) if target.is_dir() else target.unlink(missing_ok=True)
        self.prefix.unix(RECORD).unlink(missing_ok=True)
        self.env = self.prefix.with_env(VELMORA_START_RECORD=RECORD)

    def lay_launcher(self, folder=FOLDER, stand_in=RECORD_START):
        root = self.prefix.unix(folder)
        root.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(LAUNCHER, root / "Uninstall.exe")
        if stand_in is not None:
            shutil.copyfile(stand_in, root / "Velmora.Maintenance.exe")
        return folder.rstrip("\\") + "\\Uninstall.exe"

    def launch(self, *args, folder=FOLDER, program_data=None, expect_starts=1):
        launcher = self.lay_launcher(folder)
        if program_data is None:
            result = self.prefix.run_raw([launcher, *args], env=self.env)
            code = result.returncode
            # The launcher itself ends only with these; any other code comes from Wine
            # (which turns a code ending in 00 into 1, and fails its own start-up with 1),
            # and what it printed says which.
            self.assertIn(code, (0, 2, 3, 4, 5), result.stderr)
        else:
            code = run_with_variables(self.prefix, launcher, *args, env=self.env, ProgramData=program_data)
        starts = wait_until(lambda: len(start_records(self.prefix, RECORD)) >= expect_starts and
                            start_records(self.prefix, RECORD), timeout=30)
        return code, starts or []

    def test_starts_a_new_copy_with_its_folder_and_process_id(self):
        code, starts = self.launch("/uninstall")
        self.assertEqual(code, 0)
        own, command_line, show, folder = starts[0]
        match = re.fullmatch(re.escape(TEMP_FOLDER) + r"\\" + COPY_NAME, own, re.IGNORECASE)
        self.assertTrue(match, own)
        pid = match.group(1)
        self.assertTrue(command_line.endswith(f' /uninstall /install-dir "{FOLDER}" /wait-pid {pid}'), command_line)
        self.assertEqual(show, "1")  # SW_SHOWNORMAL
        self.assertEqual(folder.rstrip("\\").lower(), TEMP_FOLDER.lower())

    def test_quiet_in_any_case_is_passed_on_and_starts_hidden(self):
        for switch in ("/QUIET", "/Quiet"):
            with self.subTest(switch=switch):
                self.prefix.unix(RECORD).unlink(missing_ok=True)
                code, starts = self.launch("/uninstall", switch)
                self.assertEqual(code, 0)
                self.assertTrue(starts[0][1].endswith(" /quiet"), starts[0][1])
                self.assertEqual(starts[0][2], "0")  # SW_HIDE
        self.prefix.unix(RECORD).unlink(missing_ok=True)
        code, starts = self.launch("/uninstall", "/quiet:", "-quiet")
        self.assertFalse(starts[0][1].endswith("quiet"), starts[0][1])

    def test_every_launch_makes_a_copy_of_its_own(self):
        before = set(temp_copies(self.prefix, COPY_NAME))
        self.launch()
        self.launch(expect_starts=2)
        made = set(temp_copies(self.prefix, COPY_NAME)) - before
        self.assertEqual(len(made), 2, made)

    def test_temporary_folder_follows_program_data(self):
        cases = ((r"C:\OtherData", r"C:\OtherData\Velmora\installer-temp"), ("", TEMP_FOLDER))
        for program_data, expected in cases:
            with self.subTest(program_data=program_data):
                self.prefix.unix(RECORD).unlink(missing_ok=True)
                code, starts = self.launch(program_data=program_data)
                self.assertEqual(code, 0)
                self.assertEqual(starts[0][0].rsplit("\\", 1)[0].lower(), expected.lower())

    def test_a_launcher_in_a_drive_root_passes_the_drive_without_backslash(self):
        code, starts = self.launch(folder="C:\\")
        self.assertEqual(code, 0)
        self.assertIn(' /install-dir "C:" /wait-pid ', starts[0][1])

    def test_failures_end_with_their_codes_and_start_nothing(self):
        blocked = self.prefix.unix(r"C:\Blocked")
        blocked.mkdir()
        (blocked / "Velmora").write_bytes(b"a file where the folder must go")
        not_a_program = self.scratch / "not-a-program.exe"
        not_a_program.write_bytes(b"MZ but nothing else")
        cases = (
            ("no setup program beside it", None, None, (), 2),
            ("temporary folder blocked by a file", RECORD_START, r"C:\Blocked", (), 3),
            ("setup program is a folder", "folder", None, (), 4),
            # At once and without the shell's error box, quiet or not.
            ("copy cannot start", not_a_program, None, (), 5),
            ("copy cannot start, quiet", not_a_program, None, ("/quiet",), 5),
        )
        for name, stand_in, program_data, extra, expected in cases:
            with self.subTest(name):
                shutil.rmtree(self.prefix.unix(FOLDER), ignore_errors=True)
                launcher = self.lay_launcher(stand_in=None if stand_in == "folder" else stand_in)
                if stand_in == "folder":
                    (self.prefix.unix(FOLDER) / "Velmora.Maintenance.exe").mkdir()
                before = temp_copies(self.prefix, COPY_NAME)
                if program_data:
                    code = run_with_variables(self.prefix, launcher, "/uninstall", env=self.env,
                                              ProgramData=program_data)
                else:
                    code = self.prefix.run(launcher, "/uninstall", *extra, env=self.env, timeout=60)
                self.assertEqual(code, expected)
                windows = self.prefix.xdotool("search", "--onlyvisible", "--name", ".").split()
                self.assertNotIn("Error", [self.prefix.window_name(window) for window in windows])
                if expected < 4:
                    self.assertEqual(temp_copies(self.prefix, COPY_NAME), before)
        self.assertEqual(start_records(self.prefix, RECORD), [])


class LauncherProgram(PrefixTestCase):
    """What the loader reads from the file (manifest and version: setup/resources)."""

    def test_a_gui_program_using_only_the_kernel_and_shell_libraries(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(LAUNCHER)], stdout=subprocess.PIPE,
                              text=True, check=True).stdout
        self.assertRegex(dump, r"Subsystem\s+00000002")
        libraries = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        runtime = {name for name in libraries if name == "msvcrt.dll" or name.startswith("api-ms-win-crt-")}
        # advapi32: the security calls that protect the installer temporary folder.
        self.assertEqual(libraries - runtime, {"kernel32.dll", "shell32.dll", "advapi32.dll"})


if __name__ == "__main__":
    main()
