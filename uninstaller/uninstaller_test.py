"""The launcher Uninstall.exe: which copy it makes, how it starts it and its exit codes.
A stand-in for Velmora.Maintenance.exe records the start it was given. (What it imports:
core/dll_search_test.py.)"""
import os
import re
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "testing"))
from winetest import PrefixTestCase, fill_and_snapshot, main, snapshot, wait_until  # noqa: E402
from uninstall_support import (LAUNCHER, RECORD_START, TEMP_FOLDER, run_with_variables, start_records,  # noqa: E402
                               temp_copies)

FOLDER = r"C:\Apps\Velmora"
RECORD = r"C:\start-record.txt"
COPY_NAME = r"Maintenance-(\d+)-(\d+)\.exe"


class Launcher(PrefixTestCase):
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

    def test_each_launch_starts_a_new_copy_with_its_folder_and_process_id(self):
        # (arguments, launcher's folder, how the copy's command line ends, show state)
        cases = [
            (["/uninstall"], FOLDER, f' /uninstall /install-dir "{FOLDER}" /wait-pid PID', "1"),  # SW_SHOWNORMAL
            (["/uninstall", "/QUIET"], FOLDER, f' /uninstall /install-dir "{FOLDER}" /wait-pid PID /quiet', "0"),
            (["/Quiet"], FOLDER, f' /uninstall /install-dir "{FOLDER}" /wait-pid PID /quiet', "0"),  # SW_HIDE
            (["/uninstall", "/quiet:", "-quiet"], FOLDER, f' /uninstall /install-dir "{FOLDER}" /wait-pid PID', "1"),
            ([], "C:\\", ' /uninstall /install-dir "C:" /wait-pid PID', "1"),  # a drive root without backslash
        ]
        before = set(temp_copies(self.prefix, COPY_NAME))
        for args, folder, tail, show in cases:
            with self.subTest(args=args, folder=folder):
                self.prefix.unix(RECORD).unlink(missing_ok=True)
                code, starts = self.launch(*args, folder=folder)
                self.assertEqual(code, 0)
                own, command_line, shown, working = starts[0]
                match = re.fullmatch(re.escape(TEMP_FOLDER) + r"\\" + COPY_NAME, own, re.IGNORECASE)
                self.assertTrue(match, own)
                self.assertTrue(command_line.endswith(tail.replace("PID", match.group(1))), command_line)
                self.assertEqual(shown, show)
                self.assertEqual(working.rstrip("\\").lower(), TEMP_FOLDER.lower())
        self.assertEqual(len(set(temp_copies(self.prefix, COPY_NAME)) - before), len(cases))

    def test_temporary_folder_follows_program_data_and_leaves_what_is_beside_it(self):
        beside = self.prefix.unix(r"C:\OtherData\Velmora")
        before = fill_and_snapshot(beside)
        cases = ((r"C:\OtherData", r"C:\OtherData\Velmora\installer-temp"), ("", TEMP_FOLDER))
        for program_data, expected in cases:
            with self.subTest(program_data=program_data):
                self.prefix.unix(RECORD).unlink(missing_ok=True)
                code, starts = self.launch(program_data=program_data)
                self.assertEqual(code, 0)
                self.assertEqual(starts[0][0].rsplit("\\", 1)[0].lower(), expected.lower())
        self.assertEqual(snapshot(beside), before)

    def test_failures_end_with_their_codes_and_start_nothing(self):
        blocked = self.prefix.unix(r"C:\Blocked")
        blocked.mkdir()
        (blocked / "Velmora").write_bytes(b"a file where the folder must go")
        # Links made in advance (by another user) at either level; the target holds a file:
        # Wine removes the target of a link to an empty folder.
        target = self.prefix.unix(r"C:\elsewhere")
        target.mkdir()
        (target / "keep.txt").write_text("the link's target")
        self.prefix.unix(r"C:\Linked").mkdir()
        self.prefix.unix(r"C:\Linked\Velmora").symlink_to(target, target_is_directory=True)
        self.prefix.unix(r"C:\LinkedTemp\Velmora").mkdir(parents=True)
        self.prefix.unix(r"C:\LinkedTemp\Velmora\installer-temp").symlink_to(target, target_is_directory=True)
        not_a_program = self.scratch / "not-a-program.exe"
        not_a_program.write_bytes(b"MZ but nothing else")
        cases = (
            ("no setup program beside it", None, None, (), 2),
            ("temporary folder blocked by a file", RECORD_START, r"C:\Blocked", (), 3),
            ("a link where the product folder belongs", RECORD_START, r"C:\Linked", (), 3),
            ("a link where the temporary folder belongs", RECORD_START, r"C:\LinkedTemp", (), 3),
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
        self.assertEqual(os.listdir(target), ["keep.txt"])
        self.assertTrue(self.prefix.unix(r"C:\LinkedTemp\Velmora\installer-temp").is_symlink())


if __name__ == "__main__":
    main()
