"""The real setup program under Wine through one installation's life, from a fresh machine to a
quiet uninstall: the prefix's files, registry and shortcuts, the "/log" file, DLLs planted beside."""
import hashlib
import os
import re
import shutil

from install_support import (DESKTOP, PROGRAMS, Package, build_package, installed_problems, lnk_info,
                             placeholder_payload, shortcuts, tree_state, work_folders)
from runtime_support import RuntimeServerTestCase, standin
from winetest import OUT, RUNTIME_KEY, TESTAPPS, UNINSTALL_KEY, main, wait_until

SETUP = OUT / "VelmoraSetup.exe"
DEFAULT = r"C:\Program Files\Velmora"
REFUSED = 2
UNINSTALLER = DEFAULT + r"\Uninstall.exe"
TEMP = r"C:\ProgramData\Velmora\installer-temp"
LOG = r"C:\logs\setup.log"
LINE = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d \[(\d+)\] (.*)")
# A key that already exists without an installation keeps its other values (Comments).
ENTRY = {"DisplayName": ("REG_SZ", "Velmora"), "DisplayVersion": ("REG_SZ", "1.0.1"),
         "Publisher": ("REG_SZ", "Quenlo"), "InstallLocation": ("REG_SZ", DEFAULT),
         "DisplayIcon": ("REG_SZ", UNINSTALLER + ",0"), "UninstallString": ("REG_SZ", f'"{UNINSTALLER}" /uninstall'),
         "QuietUninstallString": ("REG_SZ", f'"{UNINSTALLER}" /uninstall /quiet'),
         "NoModify": ("REG_DWORD", 1), "NoRepair": ("REG_DWORD", 1), "Comments": ("REG_SZ", "kept")}
# Named like system DLLs the programs use (version.dll aside: test_5); one that is loaded
# leaves "NAME.dll.loaded" beside it.
PLANTED = sorted(dll for dll in (TESTAPPS / "planted").glob("*.dll") if dll.name != "version.dll")


class InstallLife(RuntimeServerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.runtime = standin("ok").read_bytes()
        (cls.served / "runtime.exe").write_bytes(cls.runtime)
        cls.runtime_sha256 = hashlib.sha256(cls.runtime).hexdigest().upper()
        descriptor = cls.work / "descriptor.txt"
        descriptor.write_text(f"{cls.server.url('runtime.exe')}\t{len(cls.runtime)}\t{cls.runtime_sha256}\n")
        # The sample package's files, with a runtime this class serves.
        cls.setup = build_package(cls.work / "setup.exe", Package(SETUP).files, descriptor=descriptor)
        cls.package = Package(cls.setup)
        cls.prefix.unix(LOG).parent.mkdir(parents=True, exist_ok=True)
        cls.prefix.reg_delete(RUNTIME_KEY)

    def install(self, *args, log=LOG):
        return self.prefix.run(self.setup, "/quiet", *args, *(("/log", log) if log else ()), timeout=180)

    def read_log(self, path=LOG):
        data = self.prefix.unix(path).read_bytes()
        self.assertFalse(data.startswith(b"\xef\xbb\xbf"), "no byte order mark")
        lines = data.decode("utf-8").split("\r\n")
        self.assertEqual(lines[-1], "", "every line ends with CR LF")
        matches = [LINE.fullmatch(line) for line in lines[:-1]]
        self.assertNotIn(None, matches, "every line starts with the time and the process id:\n" + "\n".join(lines))
        return [match.group(2) for match in matches]

    def new_events(self, run):
        before = self.read_log() if self.prefix.exists(LOG) else []
        code = run()
        after = self.read_log()
        self.assertEqual(after[:len(before)], before)
        return code, after[len(before):]

    def assert_in_order(self, events, expected):
        rest = iter(events)  # any() takes the events up to the one found
        for text in expected:
            self.assertTrue(any(e.startswith(text) for e in rest), "\n".join([f"{text!r} not in order:", *events]))

    def assert_installed(self):
        p = self.prefix
        self.assertEqual((installed_problems(p, DEFAULT, self.package), p.reg_values(UNINSTALL_KEY),
                          shortcuts(p), work_folders(p, DEFAULT)),
                         ([], ENTRY, {PROGRAMS: ["Velmora.lnk"], DESKTOP: ["Velmora.lnk"]}, []))

    def assert_unchanged(self, files, values):
        p = self.prefix
        self.assertEqual((tree_state(p.unix(DEFAULT)), p.reg_values(UNINSTALL_KEY), work_folders(p, DEFAULT)),
                         (files, values, []))

    def start_application(self, folder):
        process = self.prefix.start(folder + r"\Velmora.exe")
        self.addCleanup(process.wait, timeout=30)
        self.addCleanup(self.prefix.run, "taskkill", "/F", "/IM", "Velmora.exe")
        self.prefix.wait_window("^Velmora 1.0.1$")

    def plant_dlls(self, *folders):
        for folder in folders:
            self.prefix.unix(folder).mkdir(parents=True, exist_ok=True)
            for dll in PLANTED:
                shutil.copy(dll, self.prefix.unix(folder))

    def test_0_a_fresh_machine_stays_as_it_was_after_each_failure_then_installs_logging_each_step(self):
        p, url, size = self.prefix, self.server.url("runtime.exe"), len(self.runtime)
        (self.served / "runtime.exe").write_bytes(self.runtime[:-1])
        try:
            code, events = self.new_events(self.install)
        finally:
            (self.served / "runtime.exe").write_bytes(self.runtime)
        self.assertEqual(code, REFUSED)
        self.assert_in_order(events, [
            "desktop runtime 8 missing",
            f"download received {size - 1} of {size} bytes",
            "runtime download failed, message stored: A required component could not be downloaded safely.",
            "exit code 2",
        ])
        self.assert_unchanged(None, None)
        # The desktop link cannot be saved: all that was done is rolled back.
        blocker = p.unix(DESKTOP + r"\Velmora.lnk")
        blocker.mkdir()
        (blocker / "keep").write_bytes(b"x")
        try:
            code, events = self.new_events(lambda: self.install("line\nbreak"))
        finally:
            shutil.rmtree(blocker)
        self.assertEqual(code, REFUSED)
        self.assert_in_order(events, [
            "Velmora.Maintenance 1.0.1, setup configuration",
            "command line: ",
            "Windows 10.0.",
            'install mode: fresh install (registered version "" in "", this version 1.0.1: nothing registered)',
            f'installation folder "{DEFAULT}"',
            "desktop runtime 8 missing",
            f"download {url}",
            "download HTTP status 200",
            f"download received {size} of {size} bytes",
            f"runtime package verified: {size} bytes, SHA-256 {self.runtime_sha256} as described",
            "runtime installer ended with exit code 0",
            "desktop runtime found in the registry: 8.0.11",
            f"staged and verified {len(self.package.files)} files",
            "swap: renaming",
            rf'shortcut "{PROGRAMS}\Velmora.lnk" -> "{DEFAULT}\Velmora.exe"',
            rf'shortcut "{DESKTOP}\Velmora.lnk" not saved: error 0x',
            "rollback: removing the shortcuts",
            f'rollback: removing the new files from "{DEFAULT}"',
            "install failed, message stored: Installation was rolled back after registration failed.",
            "exit code 2",
        ])
        # A control character from outside is written escaped, never as a line break.
        self.assertIn("line<U+000A>break", next(e for e in events if e.startswith("command line")))
        self.assert_unchanged(None, None)
        p.unix(r"C:\Apps").mkdir()
        p.unix(r"C:\Apps\AFile").write_bytes(b"a file, not a folder")
        target = p.unix(r"C:\LinkTarget")
        target.mkdir()
        (target / "keep.txt").write_bytes(b"keep")
        os.symlink(target, p.unix(r"C:\Linked"))
        # Rows no in-process test has, and "inside Windows": the install asks IsSafeInstallFolder at all.
        cases = {"a file": r"C:\Apps\AFile", "under a directory link": r"C:\Linked\Velmora",
                 "inside Windows": r"C:\windows\Velmora"}
        for name, folder in cases.items():
            with self.subTest(name):
                before = tree_state(p.unix(folder))
                self.assertEqual(self.install("/install-dir", folder, log=None), REFUSED)
                self.assertEqual((tree_state(p.unix(folder)), p.reg_values(UNINSTALL_KEY), work_folders(p, folder)),
                                 (before, None, []))
        self.assertEqual(list(tree_state(target)), ["keep.txt"])
        self.assertEqual(shortcuts(p), {PROGRAMS: [], DESKTOP: []})
        p.reg_add(UNINSTALL_KEY, "Comments", data="kept")
        p.reg_add(UNINSTALL_KEY, "ModifyPath", data="modify.exe")
        code, events = self.new_events(self.install)
        self.assertEqual(code, 0)
        self.assert_in_order(events, [
            rf'shortcut "{DESKTOP}\Velmora.lnk" -> "{DEFAULT}\Velmora.exe"',
            'registry value DisplayName = "Velmora"',
            "registry value NoRepair = 1",
            f'installed 1.0.1 into "{DEFAULT}"',
            "exit code 0",
        ])
        self.assert_installed()
        for folder in (PROGRAMS, DESKTOP):
            info = lnk_info(p.unix(folder + r"\Velmora.lnk"))
            self.assertEqual([info.get(name) for name in ("Local path", "Working directory", "Icon location")],
                             [DEFAULT + r"\Velmora.exe", DEFAULT, DEFAULT + r"\Velmora.exe"], info)

    def test_1_each_refusal_names_its_reason_and_changes_nothing(self):
        p = self.prefix
        files, values = tree_state(p.unix(DEFAULT)), p.reg_values(UNINSTALL_KEY)
        packaged, tampered = b"bad.bin as packaged", b"bad.bin as tampered"
        good = build_package(self.work / "good.exe", {**placeholder_payload(), "data\\bad.bin": packaged})
        bad = self.work / "bad.exe"
        bad.write_bytes(good.read_bytes().replace(packaged, tampered))
        disk, manifest = (hashlib.sha256(data).hexdigest().upper() for data in (tampered, packaged))

        def answered():
            process = p.start(self.setup, "/log", LOG)
            p.answer_dialog("Return")
            return process.wait(timeout=60)

        def running():
            self.start_application(DEFAULT)
            return self.install()

        newer = "refused: A newer version of Velmora is already installed."
        cases = [  # registered version, the run, what it logs
            ("9.0.0", self.install, [newer]),
            ("9.0.0", answered, [newer, "message shown: The operation could not finish / A newer version",
                                 "message answered with button"]),
            ("1.0.1", running, ["install failed, message stored: Close Velmora before updating."]),
            ("1.0.1", lambda: p.run(bad, "/quiet", "/log", LOG), [
                f'packaged file "data\\bad.bin" failed: SHA-256 on disk {disk}, in the manifest {manifest}',
                f'rollback: removing the staging folder "{DEFAULT}.staging-',
                "install failed, message stored: A packaged file failed verification."]),
        ]
        for version, run, logged in cases:
            with self.subTest(logged[-1]):
                p.reg_add(UNINSTALL_KEY, "DisplayVersion", data=version)
                code, events = self.new_events(run)
                p.reg_add(UNINSTALL_KEY, "DisplayVersion", data="1.0.1")
                self.doCleanups()
                self.assertEqual(code, REFUSED)
                self.assert_in_order(events, logged + ["exit code 2"])
                self.assert_unchanged(files, values)

    def test_2_an_update_replaces_the_whole_folder_and_leaves_link_targets_alone(self):
        p = self.prefix
        p.reg_add(UNINSTALL_KEY, "DisplayVersion", data="1.0.0")
        root = p.unix(DEFAULT)
        (root / "plugins").mkdir()
        (root / "plugins" / "old.dll").write_bytes(b"old")
        (root / "Velmora.exe").write_bytes(b"old application")
        outside = p.unix(r"C:\Recovered")
        outside.mkdir()
        (outside / "photo.jpg").write_bytes(b"keep me")
        os.symlink(outside, root / "recovered")
        code, events = self.new_events(self.install)
        self.assertEqual(code, 0)
        self.assert_in_order(events, [
            f'install mode: update (registered version "1.0.0" in "{DEFAULT}", this version 1.0.1: '
            "registered is older or unreadable)",
            f'install into "{DEFAULT}", replacing the installation there',
            f'swap: moving "{DEFAULT}" aside to "{DEFAULT}.backup-',
            f'swap: renaming "{DEFAULT}.staging-',
            "exit code 0",
        ])
        self.assertNotIn("download", "\n".join(events), "the runtime is present now")
        self.assertEqual((outside / "photo.jpg").read_bytes(), b"keep me")
        # Wine cannot remove a link to a non-empty folder (Windows can): the backup keeps
        # the link alone and nothing else.
        for leftover in work_folders(p, DEFAULT):
            self.assertEqual(tree_state(root.parent / leftover), {"recovered": "link"})
            shutil.rmtree(root.parent / leftover)
        self.assert_installed()

    def test_3_a_repair_whatever_its_log_does_changes_nothing_else(self):
        p = self.prefix
        read_only = p.unix(r"C:\logs\read-only.log")
        read_only.write_bytes(b"kept\r\n")
        os.setxattr(read_only, "user.DOSATTRIB", b"0x21")
        p.unix(r"C:\logs\a-folder.log").mkdir()
        # Each run repairs: a copy running elsewhere does not stop it, what the application made goes.
        (p.unix(DEFAULT) / "recovered-session.db").write_bytes(b"made by the application")
        self.start_application(p.windows_of(TESTAPPS))
        self.assertEqual(self.install(log=None), 0)
        self.assert_installed()
        state, values = tree_state(p.unix(DEFAULT)), p.reg_values(UNINSTALL_KEY)
        # Opening a read-only file for writing succeeds for root under Wine; Windows
        # refuses it, so only there the file also stays as it was.
        for log in (r"C:\nowhere\setup.log", r"C:\logs\read-only.log", r"C:\logs\a-folder.log", "NUL",
                    "C:\\logs\\bad\x01name.log"):
            with self.subTest(log=log):
                self.assertEqual(self.install(log=log), 0)
                self.assertEqual((tree_state(p.unix(DEFAULT)), p.reg_values(UNINSTALL_KEY)), (state, values))
        self.assertFalse(p.exists(r"C:\nowhere"))
        self.assertEqual(sorted(os.listdir(p.unix(r"C:\logs"))), ["a-folder.log", "read-only.log", "setup.log"])

    def test_4_a_folder_deleted_by_hand_installs_and_uninstalls_never_loading_a_dll_planted_beside(self):
        p, log = self.prefix, r"C:\logs\uninstall.log"
        shutil.rmtree(p.unix(DEFAULT))
        self.assertEqual(self.install(log=None), 0)
        self.assert_installed()
        shutil.rmtree(p.unix(DEFAULT))
        self.assertEqual(p.run(self.setup, "/uninstall", "/install-dir", DEFAULT, "/quiet"), 0)
        self.assertEqual((p.key_exists(UNINSTALL_KEY), shortcuts(p)), (False, {PROGRAMS: [], DESKTOP: []}))
        # Wine prefers its own DLLs; with "n,b" it searches as Windows does for a DLL outside the
        # KnownDLLs, so a program that looked in its own folder would load the one planted there.
        overrides = ",".join(dll.stem for dll in PLANTED) + "=n,b"
        env = p.with_env(WINEDLLOVERRIDES=p.env["WINEDLLOVERRIDES"] + ";" + overrides)
        beside_setup = p.windows_of(self.setup.parent)
        self.plant_dlls(r"C:\control", beside_setup)
        p.run("rundll32", r"C:\control\bcrypt.dll,Nothing", env=env)
        self.assertTrue(p.exists(r"C:\control\bcrypt.dll.loaded"), "a DLL that loads leaves its marker")
        self.assertEqual(p.run(self.setup, "/quiet", env=env, timeout=180), 0)
        # Beside the launcher and beside the copy of the maintenance program it starts.
        self.plant_dlls(DEFAULT, TEMP)
        self.assertEqual(p.run(UNINSTALLER, "/uninstall", "/quiet", "/log", log, env=env), 0)
        # The launcher ends at once; the copy it started writes the log.
        self.assertTrue(wait_until(lambda: p.exists(log) and b"exit code" in p.unix(log).read_bytes()))
        events = self.read_log(log)
        self.assert_in_order(events, [
            "Velmora.Maintenance 1.0.1, maintenance configuration",
            "command line: ",
            f'uninstall mode for "{DEFAULT}" (/install-dir)',
            f'uninstall complete: "{DEFAULT}"',
            "exit code 0",
        ])
        self.assertRegex(events[1], r'installer-temp\\Maintenance-.* /uninstall /install-dir "C:\\Program '
                                    r'Files\\Velmora" /wait-pid \d+ /quiet /log "C:\\logs\\uninstall\.log"$')
        markers = [m for folder in (beside_setup, DEFAULT, TEMP) for m in p.unix(folder).glob("*.loaded")]
        self.assertEqual((p.key_exists(UNINSTALL_KEY), markers), (False, []))

    def test_5_a_planted_version_dll_is_checked_only_on_windows(self):
        self.skipTest("Wine's user32 imports version.dll, so every process loads it from the program's "
                      "folder at start, before any code of ours runs (Windows' user32 does not)")


if __name__ == "__main__":
    main()
