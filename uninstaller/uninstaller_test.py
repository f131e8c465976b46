"""The launcher Uninstall.exe: the copy it makes and starts, and its exit codes; a stand-in
for Velmora.Maintenance.exe records the start it was given. (Its imports: resources_test.py.)"""
import os
import re
import shutil

from winetest import TESTAPPS, PrefixTestCase, main, wait_until
from uninstall_support import LAUNCHER, TEMP_FOLDER

FOLDER = r"C:\Apps\Velmora"
RECORD = r"C:\start-record.txt"
RECORD_START = TESTAPPS / "record_start.exe"


class Launcher(PrefixTestCase):
    def setUp(self):
        super().setUp()
        self.prefix.unix(RECORD).unlink(missing_ok=True)

    def launch(self, args, folder=FOLDER, stand_in=RECORD_START, program_data=None):
        """The launcher's exit code, laid in folder beside stand_in ("folder": a folder there)."""
        root = self.prefix.unix(folder)
        setup = root / "Velmora.Maintenance.exe"
        shutil.rmtree(setup) if setup.is_dir() else setup.unlink(missing_ok=True)
        root.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(LAUNCHER, root / "Uninstall.exe")
        if stand_in == "folder":
            setup.mkdir()
        elif stand_in:
            shutil.copyfile(stand_in, setup)
        launcher = folder.rstrip("\\") + "\\Uninstall.exe"
        command = [launcher, *args]
        if program_data is not None:  # Wine sets ProgramData itself and ignores the Unix value
            command = ["cmd", "/c", f"set ProgramData={program_data}&&{launcher} {' '.join(args)}"]
        return self.prefix.run(*command, env=self.prefix.with_env(VELMORA_START_RECORD=RECORD), timeout=60)

    def starts(self):
        # (own path, command line, show state, current folder) of each start recorded
        path = self.prefix.unix(RECORD)
        return [line.split("\t") for line in path.read_text("utf-16-le").splitlines()] if path.exists() else []

    def test_each_launch_starts_a_new_copy_with_its_folder_and_process_id(self):
        quiet = f' /uninstall /install-dir "{FOLDER}" /wait-pid PID /quiet'
        plain = f' /uninstall /install-dir "{FOLDER}" /wait-pid PID'
        # (arguments, launcher's folder, ProgramData, how the copy's command line ends, show state)
        cases = [
            (["/uninstall"], FOLDER, None, plain, "1"),  # SW_SHOWNORMAL
            (["/uninstall", "/QUIET"], FOLDER, None, quiet, "0"),  # SW_HIDE
            (["/Quiet"], FOLDER, None, quiet, "0"),
            (["/uninstall", "/quiet:", "-quiet"], FOLDER, None, plain, "1"),
            # A drive root without the backslash that would escape the quote.
            ([], "C:\\", None, ' /uninstall /install-dir "C:" /wait-pid PID', "1"),
            (["/uninstall"], FOLDER, r"C:\OtherData", plain, "1"),
            (["/uninstall"], FOLDER, "", plain, "1"),  # unset
        ]
        for args, folder, program_data, tail, show in cases:
            with self.subTest(args=args, folder=folder, program_data=program_data):
                self.prefix.unix(RECORD).unlink(missing_ok=True)
                self.assertEqual(self.launch(args, folder, program_data=program_data), 0)
                own, command_line, shown, working = wait_until(self.starts, timeout=30)[0]
                temp = r"C:\OtherData\Velmora\installer-temp" if program_data else TEMP_FOLDER
                match = re.fullmatch(re.escape(temp) + r"\\Maintenance-(\d+)-\d+\.exe", own, re.IGNORECASE)
                self.assertTrue(match, own)
                self.assertTrue(command_line.endswith(tail.replace("PID", match.group(1))), command_line)
                self.assertEqual((shown, working.rstrip("\\").lower()), (show, temp.lower()))

    def test_failures_end_with_their_codes_and_start_nothing(self):
        # A link made in advance (by another user) where the temporary folder belongs; the
        # target holds a file: Wine removes the target of a link to an empty folder.
        target = self.prefix.unix(r"C:\elsewhere")
        target.mkdir()
        (target / "keep.txt").write_text("the link's target")
        self.prefix.unix(r"C:\LinkedTemp\Velmora").mkdir(parents=True)
        self.prefix.unix(r"C:\LinkedTemp\Velmora\installer-temp").symlink_to(target, target_is_directory=True)
        not_a_program = self.scratch / "not-a-program.exe"
        not_a_program.write_bytes(b"MZ but nothing else")
        cases = (
            ("no setup program beside it", None, None, 2),
            ("a link where the temporary folder belongs", RECORD_START, r"C:\LinkedTemp", 3),
            ("setup program is a folder", "folder", None, 4),
            ("copy cannot start: at once and without the shell's error box", not_a_program, None, 5),
        )
        for name, stand_in, program_data, expected in cases:
            with self.subTest(name):
                code = self.launch(["/uninstall"], stand_in=stand_in, program_data=program_data)
                self.assertEqual(code, expected)
                self.assertEqual(list(self.prefix.windows(lambda name: name == "Error")), [])
        self.assertEqual(self.starts(), [])
        link = self.prefix.unix(r"C:\LinkedTemp\Velmora\installer-temp")
        self.assertEqual((os.listdir(target), link.is_symlink()), (["keep.txt"], True))


if __name__ == "__main__":
    main()
