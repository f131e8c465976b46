"""Quiet installs, updates, repairs, refusals and rollbacks of the real setup program
under Wine, checked on the prefix's files, registry and shortcuts."""
import os
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from install_support import (DESKTOP, PROGRAMS, Package, installed_problems, lnk_info, shortcuts,  # noqa: E402
                             tree_state, work_folders)
from winetest import OUT, TESTAPPS, UNINSTALL_KEY, PrefixTestCase, main  # noqa: E402

SETUP = OUT / "VelmoraSetup.exe"
DEFAULT = r"C:\Program Files\Velmora"
REFUSED = 2
UNINSTALLER = DEFAULT + r"\Uninstall.exe"
# A key that already exists without an installation keeps its other values (Comments).
ENTRY = {"DisplayName": ("REG_SZ", "Velmora"), "DisplayVersion": ("REG_SZ", "1.0.1"),
         "Publisher": ("REG_SZ", "Quenlo"), "InstallLocation": ("REG_SZ", DEFAULT),
         "DisplayIcon": ("REG_SZ", UNINSTALLER + ",0"), "UninstallString": ("REG_SZ", f'"{UNINSTALLER}" /uninstall'),
         "QuietUninstallString": ("REG_SZ", f'"{UNINSTALLER}" /uninstall /quiet'),
         "NoModify": ("REG_DWORD", 1), "NoRepair": ("REG_DWORD", 1), "Comments": ("REG_SZ", "kept")}


class InstallUpdateRepair(PrefixTestCase):
    """One installation carried through its life: fresh, refused, repaired, updated."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.register_runtime()
        cls.package = Package(SETUP)
        cls.prefix.reg_add(UNINSTALL_KEY, "Comments", data="kept")
        cls.prefix.reg_add(UNINSTALL_KEY, "ModifyPath", data="modify.exe")

    def assert_installed(self):
        p = self.prefix
        self.assertEqual(installed_problems(p, DEFAULT, self.package), [])
        self.assertEqual(p.reg_values(UNINSTALL_KEY), ENTRY)
        self.assertEqual(shortcuts(p), {PROGRAMS: ["Velmora.lnk"], DESKTOP: ["Velmora.lnk"]})
        self.assertEqual(work_folders(p, DEFAULT), [])

    def assert_unchanged(self, files, values):
        self.assertEqual(tree_state(self.prefix.unix(DEFAULT)), files)
        self.assertEqual(self.prefix.reg_values(UNINSTALL_KEY), values)
        self.assertEqual(work_folders(self.prefix, DEFAULT), [])

    def start_application(self, folder):
        process = self.prefix.start(folder + r"\Velmora.exe")
        self.addCleanup(process.wait, timeout=30)
        self.addCleanup(self.prefix.run, "taskkill", "/F", "/IM", "Velmora.exe")
        self.prefix.wait_window("^Velmora 1.0.1$")

    def test_1_fresh_quiet_install_into_the_default_folder(self):
        p = self.prefix
        self.assertEqual(p.run(SETUP, "/quiet"), 0)
        self.assert_installed()
        for folder in (PROGRAMS, DESKTOP):
            info = lnk_info(p.unix(folder + r"\Velmora.lnk"))
            self.assertEqual(info.get("Local path"), DEFAULT + r"\Velmora.exe", info)
            self.assertEqual(info.get("Working directory"), DEFAULT, info)
            self.assertEqual(info.get("Icon location"), DEFAULT + r"\Velmora.exe", info)

    def test_2_refusals_change_nothing(self):
        p = self.prefix
        files, values = tree_state(p.unix(DEFAULT)), p.reg_values(UNINSTALL_KEY)
        with self.subTest("registered in another folder"):
            self.assertEqual(p.run(SETUP, "/quiet", "/install-dir", r"C:\Other\Velmora"), REFUSED)
            self.assertFalse(p.exists(r"C:\Other"))
            self.assert_unchanged(files, values)
        with self.subTest("application running from the folder"):
            self.start_application(DEFAULT)
            self.assertEqual(p.run(SETUP, "/quiet"), REFUSED)
            self.doCleanups()
            self.assert_unchanged(files, values)

    def test_3_repair_while_a_copy_runs_elsewhere_drops_what_the_application_made(self):
        p = self.prefix
        elsewhere = p.unix(r"C:\Elsewhere")
        elsewhere.mkdir()
        shutil.copy(TESTAPPS / "Velmora.exe", elsewhere / "Velmora.exe")
        (p.unix(DEFAULT) / "recovered-session.db").write_bytes(b"made by the application")
        self.start_application(r"C:\Elsewhere")
        self.assertEqual(p.run(SETUP, "/quiet"), 0)
        self.assert_installed()

    def test_4_update_replaces_the_whole_folder_and_leaves_link_targets_alone(self):
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
        self.assertEqual(p.run(SETUP, "/quiet"), 0)
        self.assertEqual((outside / "photo.jpg").read_bytes(), b"keep me")
        # Wine cannot remove a link to a non-empty folder (Windows can): the backup keeps
        # the link alone and nothing else.
        for leftover in work_folders(p, DEFAULT):
            self.assertEqual([e.name for e in (root.parent / leftover).iterdir()], ["recovered"])
            os.remove(root.parent / leftover / "recovered")
            os.rmdir(root.parent / leftover)
        self.assert_installed()

    def test_5_a_registered_folder_deleted_by_hand_is_installed_again_or_uninstalled(self):
        p = self.prefix
        shutil.rmtree(p.unix(DEFAULT))
        self.assertEqual(p.run(SETUP, "/quiet"), 0)
        self.assert_installed()
        shutil.rmtree(p.unix(DEFAULT))
        self.assertEqual(p.run(SETUP, "/uninstall", "/install-dir", DEFAULT, "/quiet"), 0)
        self.assertFalse(p.key_exists(UNINSTALL_KEY))
        self.assertEqual(shortcuts(p), {PROGRAMS: [], DESKTOP: []})


class RefusalsOnAFreshMachine(PrefixTestCase):
    """Refusals and rollbacks of a fresh install: exit 2 and the machine as it was."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.register_runtime()

    def test_unsafe_or_occupied_folders(self):
        p = self.prefix
        full = p.unix(r"C:\Apps\Full")
        full.mkdir(parents=True)
        (full / "notes.txt").write_bytes(b"mine")
        p.unix(r"C:\Apps\AFile").write_bytes(b"a file, not a folder")
        target = p.unix(r"C:\LinkTarget")
        target.mkdir()
        (target / "keep.txt").write_bytes(b"keep")
        os.symlink(target, p.unix(r"C:\Linked"))
        cases = {"not empty": r"C:\Apps\Full", "a file": r"C:\Apps\AFile", "inside Windows": r"C:\windows\Velmora",
                 "ProgramFiles itself": r"C:\Program Files", "under a directory link": r"C:\Linked\Velmora",
                 # Windows drops a trailing space or dot: the files would land elsewhere than registered.
                 "trailing space": "C:/Apps/Velmora /", "trailing dot": "C:\\Apps\\Velmora.\\",
                 "space in a parent": "C:\\Apps \\Velmora", "device": r"C:\Apps\NUL",
                 "device with extension": r"C:\Apps\nul.txt", "device as a parent": r"C:\Apps\COM1\Velmora"}
        for name, folder in cases.items():
            with self.subTest(name):
                path = p.unix(folder)
                before = path.read_bytes() if path.is_file() else tree_state(path)
                self.assertEqual(p.run(SETUP, "/quiet", "/install-dir", folder), REFUSED)
                self.assertEqual(path.read_bytes() if path.is_file() else tree_state(path), before)
                self.assertFalse(p.key_exists(UNINSTALL_KEY))
                self.assertEqual(shortcuts(p), {PROGRAMS: [], DESKTOP: []})
                self.assertEqual(work_folders(p, folder), [])
        self.assertEqual(tree_state(target), {"keep.txt": tree_state(target)["keep.txt"]})

    def test_a_shortcut_that_cannot_be_saved(self):
        p = self.prefix
        blocker = p.unix(DESKTOP + r"\Velmora.lnk")
        blocker.mkdir()
        (blocker / "keep").write_bytes(b"x")
        self.addCleanup(shutil.rmtree, blocker)
        self.assertEqual(p.run(SETUP, "/quiet", "/install-dir", r"C:\Apps\Shortcut"), REFUSED)
        self.assertFalse(p.exists(r"C:\Apps\Shortcut"))
        self.assertFalse(p.key_exists(UNINSTALL_KEY))
        self.assertFalse(p.exists(PROGRAMS + r"\Velmora.lnk"))
        self.assertEqual(work_folders(p, r"C:\Apps\Shortcut"), [])


if __name__ == "__main__":
    main()
