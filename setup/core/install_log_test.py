"""The "/log" file of the real programs under Wine, through one installation's life: a
runtime download that fails, a quiet install that downloads the runtime, an update, refusals, a failed verification,
a rollback, logs that cannot be written, and a quiet uninstall through Uninstall.exe."""
import hashlib
import os
import re
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from install_support import build_package, placeholder_payload, tree_state  # noqa: E402
from runtime_support import STANDIN_LOG, RuntimeServerTestCase, standin  # noqa: E402
from uninstall_support import LAUNCHER, MAINTENANCE, TEMP_FOLDER  # noqa: E402
from winetest import RUNTIME_KEY, TESTAPPS, UNINSTALL_KEY, main, pack, wait_until  # noqa: E402

FOLDER = r"C:\Apps\Velmora"
LOG = r"C:\logs\setup.log"
LINE = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d \[(\d+)\] (.*)")
DESKTOP_LINK = r"C:\users\Public\Desktop\Velmora.lnk"


class InstallLog(RuntimeServerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        payload = cls.work / "payload"
        (payload / "data").mkdir(parents=True)
        shutil.copy(TESTAPPS / "Velmora.exe", payload / "Velmora.exe")
        shutil.copy(LAUNCHER, payload / "Uninstall.exe")
        shutil.copy(MAINTENANCE, payload / "Velmora.Maintenance.exe")
        (payload / "data" / "notes.txt").write_bytes(b"notes")
        cls.runtime = standin("ok").read_bytes()
        (cls.served / "runtime.exe").write_bytes(cls.runtime)
        descriptor = cls.work / "descriptor.txt"
        cls.runtime_sha256 = hashlib.sha256(cls.runtime).hexdigest().upper()
        descriptor.write_text(f"{cls.server.url('runtime.exe')}\t{len(cls.runtime)}\t{cls.runtime_sha256}\n")
        cls.package = cls.work / "setup.exe"
        code, errors = pack(cls.package, "--payload", payload, "--runtime-descriptor", descriptor)
        assert code == 0, errors
        cls.prefix.unix(LOG).parent.mkdir(parents=True, exist_ok=True)
        cls.prefix.reg_delete(RUNTIME_KEY)

    def install(self, *args, package=None, log=LOG):
        return self.prefix.run(package or self.package, "/quiet", *args, *(("/log", log) if log else ()),
                               timeout=180)

    def read_log(self, path=LOG):
        data = self.prefix.unix(path).read_bytes()
        self.assertFalse(data.startswith(b"\xef\xbb\xbf"), "no byte order mark")
        lines = data.decode("utf-8").split("\r\n")
        self.assertEqual(lines[-1], "", "every line ends with CR LF")
        matches = [LINE.fullmatch(line) for line in lines[:-1]]
        self.assertNotIn(None, matches, "every line starts with the time and the process id:\n" + "\n".join(lines))
        return [match.group(2) for match in matches]

    def new_events(self, run, path=LOG):
        """The lines that run() appended: what was there before stays as it was."""
        before = self.read_log(path) if self.prefix.exists(path) else []
        code = run()
        after = self.read_log(path)
        self.assertEqual(after[:len(before)], before)
        return code, after[len(before):]

    def assert_in_order(self, events, expected):
        position = 0
        for text in expected:
            found = [i for i in range(position, len(events)) if events[i].startswith(text)]
            self.assertTrue(found, f"{text!r} not found after event {position} in:\n" + "\n".join(events))
            position = found[0] + 1

    def test_0_a_runtime_that_fails_verification_stops_the_install_before_any_file(self):
        size = len(self.runtime)
        (self.served / "runtime.exe").write_bytes(self.runtime[:-1])
        try:
            code, events = self.new_events(lambda: self.install("/install-dir", FOLDER))
        finally:
            (self.served / "runtime.exe").write_bytes(self.runtime)
        self.assertEqual(code, 2)
        self.assert_in_order(events, [
            "desktop runtime 8 missing",
            f"download received {size - 1} of {size} bytes",
            "runtime download failed, message stored: A required component could not be downloaded safely.",
            "exit code 2",
        ])
        apps = self.prefix.unix(r"C:\Apps")
        self.assertEqual(os.listdir(apps) if apps.exists() else [], [], "no folder, staging or backup")
        self.assertFalse(self.prefix.key_exists(UNINSTALL_KEY))
        self.assertFalse(self.prefix.exists(STANDIN_LOG), "the installer never ran")
        self.assertEqual(self.prefix.listing(TEMP_FOLDER), [])

    def test_1_quiet_install_logs_its_start_the_download_the_writes_and_the_exit_code(self):
        url = self.server.url("runtime.exe")
        size = len(self.runtime)
        code, events = self.new_events(lambda: self.install("/install-dir", FOLDER, "line\nbreak"))
        self.assertEqual(code, 0)
        self.assert_in_order(events, [
            "Velmora.Maintenance 1.0.1, setup configuration",
            "command line: ",
            "Windows 10.0.",
            'install mode: fresh install (registered version "" in "", this version 1.0.1: nothing registered)',
            f'installation folder "{FOLDER}"',
            "desktop runtime 8 missing",
            f"download {url}",
            "download HTTP status 200",
            f"download received {size} of {size} bytes",
            f"runtime package verified: {size} bytes, SHA-256 {self.runtime_sha256} as described",
            "runtime installer ended with exit code 0",
            "desktop runtime found in the registry: 8.0.11",
            "staged and verified 4 files",
            "swap: renaming",
            r'shortcut "C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Velmora.lnk" -> "C:\Apps\Velmora\Velmora.exe"',
            rf'shortcut "{DESKTOP_LINK}"',
            'registry value DisplayName = "Velmora"',
            'registry value DisplayVersion = "1.0.1"',
            f'registry value InstallLocation = "{FOLDER}"',
            "registry value NoRepair = 1",
            f'installed 1.0.1 into "{FOLDER}"',
            "exit code 0",
        ])
        self.assertEqual(self.prefix.listing(TEMP_FOLDER), [])
        # A control character from outside is written escaped, never as a line break.
        self.assertIn("line<U+000A>break", next(e for e in events if e.startswith("command line")))

    def test_2_an_update_names_the_registered_version_and_the_swap(self):
        self.prefix.reg_add(UNINSTALL_KEY, "DisplayVersion", data="1.0.0")
        code, events = self.new_events(self.install)
        self.assertEqual(code, 0)
        self.assert_in_order(events, [
            f'install mode: update (registered version "1.0.0" in "{FOLDER}", this version 1.0.1: '
            "registered is older or unreadable)",
            f'install into "{FOLDER}", replacing the installation there',
            f'swap: moving "{FOLDER}" aside to "{FOLDER}.backup-',
            f'swap: renaming "{FOLDER}.staging-',
            "exit code 0",
        ])
        self.assertNotIn("download", "\n".join(events), "the runtime is present now")

    def test_3_each_refusal_names_its_reason(self):
        p = self.prefix
        # (what to change, arguments, the reason logged)
        cases = [
            (("DisplayVersion", "9.0.0"), (),
             "refused: A newer version of Velmora is already installed."),
            (None, ("/install-dir", r"relative\folder"), "refused: The installation folder is not valid."),
            (None, ("/install-dir", r"C:\Other\Velmora"),
             "install failed, message stored: Uninstall the existing copy before choosing another folder."),
        ]
        for change, args, reason in cases:
            with self.subTest(reason):
                if change:
                    p.reg_add(UNINSTALL_KEY, change[0], data=change[1])
                code, events = self.new_events(lambda: self.install(*args))
                p.reg_add(UNINSTALL_KEY, "DisplayVersion", data="1.0.1")
                self.assertEqual(code, 2)
                self.assert_in_order(events, [reason, "exit code 2"])
        with self.subTest("the window mode logs the message it shows"):
            p.reg_add(UNINSTALL_KEY, "DisplayVersion", data="9.0.0")

            def answered():
                process = p.start(self.package, "/log", LOG)
                p.answer_dialog("Return")
                return process.wait(timeout=60)

            code, events = self.new_events(answered)
            p.reg_add(UNINSTALL_KEY, "DisplayVersion", data="1.0.1")
            self.assertEqual(code, 2)
            self.assert_in_order(events, [
                "refused: A newer version", "message shown: The operation could not finish / A newer version",
                "message answered with button", "exit code 2"])

    def test_4_a_failed_verification_names_the_file_and_changes_nothing(self):
        files = dict(placeholder_payload(), **{"data\\bad.bin": b"packaged bytes"})
        wrong = "0" * 64

        def lie(lines):
            return [line.rsplit("\t", 1)[0] + "\t" + wrong if "bad.bin" in line else line for line in lines]

        bad = build_package(self.scratch / "bad.exe", files, manifest_lines=lie)
        state = tree_state(self.prefix.unix(FOLDER))
        digest = hashlib.sha256(b"packaged bytes").hexdigest().upper()
        code, events = self.new_events(lambda: self.install(package=bad))
        self.assertEqual(code, 2)
        self.assert_in_order(events, [
            f'packaged file "data\\bad.bin" failed: SHA-256 on disk {digest}, in the manifest {wrong}',
            f'rollback: removing the staging folder "{FOLDER}.staging-',
            "install failed, message stored: A packaged file failed verification.",
            "exit code 2",
        ])
        self.assertEqual(tree_state(self.prefix.unix(FOLDER)), state)

    def test_5_a_rollback_logs_every_step(self):
        blocker = self.prefix.unix(DESKTOP_LINK)
        blocker.unlink()
        blocker.mkdir()
        try:
            code, events = self.new_events(self.install)
        finally:
            blocker.rmdir()
        self.assertEqual(code, 2)
        self.assert_in_order(events, [
            f'shortcut "{DESKTOP_LINK}" not saved: error 0x',
            "rollback: removing the shortcuts",
            f'rollback: removing the new files from "{FOLDER}"',
            f'rollback: moving the backup "{FOLDER}.backup-',
            "install failed, message stored: Installation was rolled back after registration failed.",
            "exit code 2",
        ])

    def test_6_a_log_that_cannot_be_written_changes_nothing_else(self):
        p = self.prefix
        read_only = p.unix(r"C:\logs\read-only.log")
        read_only.write_bytes(b"kept\r\n")
        os.setxattr(read_only, "user.DOSATTRIB", b"0x21")
        p.unix(r"C:\logs\a-folder.log").mkdir()
        baseline = self.install(log=None)
        state, values = tree_state(p.unix(FOLDER)), p.reg_values(UNINSTALL_KEY)
        # Opening a read-only file for writing succeeds for root under Wine; Windows
        # refuses it, so only there the file also stays as it was.
        for log in (r"C:\nowhere\setup.log", r"C:\logs\read-only.log", r"C:\logs\a-folder.log", "NUL",
                    "C:\\logs\\bad\x01name.log"):
            with self.subTest(log=log):
                self.assertEqual(self.install(log=log), baseline)
                self.assertEqual(tree_state(p.unix(FOLDER)), state)
                self.assertEqual(p.reg_values(UNINSTALL_KEY), values)
        self.assertFalse(p.exists(r"C:\nowhere"))
        self.assertEqual(sorted(os.listdir(p.unix(r"C:\logs"))), ["a-folder.log", "read-only.log", "setup.log"])

    def test_7_a_quiet_uninstall_through_the_launcher_logs_in_the_copy(self):
        p, log = self.prefix, r"C:\logs\uninstall.log"
        code = self.prefix.run(FOLDER + r"\Uninstall.exe", "/uninstall", "/quiet", "/log", log)
        self.assertEqual(code, 0)
        # The launcher ends at once; the copy it started writes the log.
        self.assertTrue(wait_until(lambda: p.exists(log) and b"exit code" in p.unix(log).read_bytes()))
        events = self.read_log(log)
        self.assert_in_order(events, [
            "Velmora.Maintenance 1.0.1, maintenance configuration",
            "command line: ",
            f'uninstall mode for "{FOLDER}" (/install-dir)',
            f'uninstall complete: "{FOLDER}"',
            "exit code 0",
        ])
        self.assertIn("installer-temp\\Maintenance-", events[1])
        self.assertIn(f'/uninstall /install-dir "{FOLDER}" /wait-pid ', events[1])
        self.assertTrue(events[1].endswith(f' /quiet /log "{log}"'), events[1])
        self.assertFalse(self.prefix.key_exists(UNINSTALL_KEY))


if __name__ == "__main__":
    main()
