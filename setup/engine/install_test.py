"""Quiet installs, updates, repairs, refusals and rollbacks of the real setup program
under Wine, checked on the prefix's files, registry and shortcuts."""
import os
import shutil
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from install_support import (DESKTOP, PROGRAMS, Package, build_package, installed_problems,  # noqa: E402
                             lnk_info, placeholder_payload, shortcuts, small_drive, tree_state, work_folders)
from winetest import OUT, TESTAPPS, UNINSTALL_KEY, PrefixTestCase, main, pack  # noqa: E402

SETUP = OUT / "VelmoraSetup.exe"
DEFAULT = r"C:\Program Files\Velmora"
REFUSED = 2


def expected_entry(folder, name="Velmora", version="1.0.1"):
    uninstaller = folder + r"\Uninstall.exe"
    return {"DisplayName": ("REG_SZ", name), "DisplayVersion": ("REG_SZ", version),
            "Publisher": ("REG_SZ", "Quenlo"), "InstallLocation": ("REG_SZ", folder),
            "DisplayIcon": ("REG_SZ", uninstaller + ",0"),
            "UninstallString": ("REG_SZ", f'"{uninstaller}" /uninstall'),
            "QuietUninstallString": ("REG_SZ", f'"{uninstaller}" /uninstall /quiet'),
            "NoModify": ("REG_DWORD", 1), "NoRepair": ("REG_DWORD", 1)}


class InstallUpdateRepair(PrefixTestCase):
    """One installation carried through its life: fresh, refused, repaired, updated."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.register_runtime()
        cls.package = Package(SETUP)
        # A key that already exists without an installation: its other values stay.
        cls.prefix.reg_add(UNINSTALL_KEY, "Comments", data="kept")
        cls.prefix.reg_add(UNINSTALL_KEY, "ModifyPath", data="modify.exe")

    def assert_installed(self, version="1.0.1", extra=None):
        p = self.prefix
        self.assertEqual(installed_problems(p, DEFAULT, self.package), [])
        entry = expected_entry(DEFAULT, version=version)
        entry.update(extra or {})
        self.assertEqual(p.reg_values(UNINSTALL_KEY), entry)
        self.assertEqual(shortcuts(p), {PROGRAMS: ["Velmora.lnk"], DESKTOP: ["Velmora.lnk"]})
        self.assertEqual(work_folders(p, DEFAULT), [])

    def assert_unchanged(self, files, values):
        self.assertEqual(tree_state(self.prefix.unix(DEFAULT)), files)
        self.assertEqual(self.prefix.reg_values(UNINSTALL_KEY), values)
        self.assertEqual(work_folders(self.prefix, DEFAULT), [])

    def start_application(self, folder):
        process = self.prefix.start(folder + r"\Velmora.exe")
        self.prefix.wait_window("^Velmora 1.0.1$")
        self.addCleanup(self.stop_applications, process)

    def stop_applications(self, process):
        self.prefix.run("taskkill", "/F", "/IM", "Velmora.exe")
        process.wait(timeout=30)

    def test_1_fresh_quiet_install_into_the_default_folder(self):
        p = self.prefix
        self.assertEqual(p.run(SETUP, "/quiet"), 0)
        self.assert_installed(extra={"Comments": ("REG_SZ", "kept")})
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
        self.assert_installed(extra={"Comments": ("REG_SZ", "kept")})

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
        self.assert_installed(extra={"Comments": ("REG_SZ", "kept")})

    def test_5_a_registered_folder_deleted_by_hand_is_installed_again_or_uninstalled(self):
        p = self.prefix
        shutil.rmtree(p.unix(DEFAULT))
        self.assertEqual(p.run(SETUP, "/quiet"), 0)
        self.assert_installed(extra={"Comments": ("REG_SZ", "kept")})
        shutil.rmtree(p.unix(DEFAULT))
        self.assertEqual(p.run(SETUP, "/uninstall", "/install-dir", DEFAULT, "/quiet"), 0)
        self.assertFalse(p.key_exists(UNINSTALL_KEY))
        self.assertEqual(shortcuts(p), {PROGRAMS: [], DESKTOP: []})


class ChineseOverEnglish(PrefixTestCase):
    locale = "zh_CN.UTF-8"

    def test_a_chinese_install_over_an_english_one_keeps_only_the_chinese_shortcut(self):
        p = self.prefix
        p.register_runtime()
        english = p.with_env(LANG="en_US.UTF-8", LC_ALL="en_US.UTF-8")
        self.assertEqual(p.run(SETUP, "/quiet", env=english), 0)
        self.assertEqual(p.reg_value(UNINSTALL_KEY, "DisplayName"), ("REG_SZ", "Velmora"))
        self.assertEqual(shortcuts(p), {PROGRAMS: ["Velmora.lnk"], DESKTOP: ["Velmora.lnk"]})
        self.assertEqual(p.run(SETUP, "/quiet"), 0)
        self.assertEqual(p.reg_values(UNINSTALL_KEY), expected_entry(DEFAULT, name="岫澜"))
        self.assertEqual(shortcuts(p), {PROGRAMS: ["岫澜.lnk"], DESKTOP: ["岫澜.lnk"]})
        info = lnk_info(p.unix(DESKTOP + r"\岫澜.lnk"))
        self.assertEqual(info.get("Local path"), DEFAULT + r"\Velmora.exe", info)


class RefusalsOnAFreshMachine(PrefixTestCase):
    """Every refusal before anything is written: exit 2 and the machine as it was."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.register_runtime()

    def assert_nothing_installed(self, folder):
        p = self.prefix
        self.assertFalse(p.key_exists(UNINSTALL_KEY))
        self.assertEqual(shortcuts(p), {PROGRAMS: [], DESKTOP: []})
        self.assertEqual(work_folders(p, folder), [])

    def test_unsafe_or_occupied_folders(self):
        p = self.prefix
        full = p.unix(r"C:\Apps\Full")
        full.mkdir(parents=True)
        (full / "notes.txt").write_bytes(b"mine")
        target = p.unix(r"C:\LinkTarget")
        target.mkdir()
        (target / "keep.txt").write_bytes(b"keep")
        os.symlink(target, p.unix(r"C:\Linked"))
        cases = {"not empty": r"C:\Apps\Full", "inside Windows": r"C:\windows\Velmora",
                 "ProgramFiles itself": r"C:\Program Files", "under a directory link": r"C:\Linked\Velmora",
                 # Windows drops a trailing space or dot: the files would land elsewhere than registered.
                 "trailing space": "C:/Apps/Velmora /", "trailing dot": "C:\\Apps\\Velmora.\\",
                 "space in a parent": "C:\\Apps \\Velmora", "device": r"C:\Apps\NUL",
                 "device with extension": r"C:\Apps\nul.txt", "device as a parent": r"C:\Apps\COM1\Velmora"}
        for name, folder in cases.items():
            with self.subTest(name):
                before = tree_state(p.unix(folder))
                self.assertEqual(p.run(SETUP, "/quiet", "/install-dir", folder), REFUSED)
                self.assertEqual(tree_state(p.unix(folder)), before)
                self.assert_nothing_installed(folder)
        self.assertEqual(tree_state(target), {"keep.txt": tree_state(target)["keep.txt"]})

    def test_incomplete_packages(self):
        p = self.prefix
        files = placeholder_payload()
        manifests = {"no manifest": None, "size 0": lambda lines: [lines[0].rsplit("\t", 2)[0] + "\t0\t" + "A" * 64],
                     "three fields": lambda lines: [lines[0].rsplit("\t", 1)[0]],
                     "same path twice": lambda lines: lines + [lines[0].replace("1001", "1009", 1)]}
        for name, lines in manifests.items():
            with self.subTest(name):
                package = self.scratch / "incomplete.exe"
                if lines is None:
                    code, err = pack(package, "--resource", f"1001={TESTAPPS / 'Velmora.exe'}")
                    self.assertEqual(code, 0, err)
                else:
                    build_package(package, files, manifest_lines=lines)
                self.assertEqual(p.run(package, "/quiet", "/install-dir", r"C:\Apps\Incomplete"), REFUSED)
                self.assertFalse(p.exists(r"C:\Apps\Incomplete"))
                self.assert_nothing_installed(r"C:\Apps\Incomplete")


class RollbacksOnRealFaults(PrefixTestCase):
    """Faults the platform really produces; each leaves the machine as it was."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.register_runtime()

    def assert_rolled_back(self, folder):
        p = self.prefix
        self.assertFalse(p.key_exists(UNINSTALL_KEY))
        self.assertEqual(shortcuts(p), {PROGRAMS: [], DESKTOP: []})
        self.assertEqual(work_folders(p, folder), [])

    def test_a_third_file_with_a_wrong_digest(self):
        files = dict(placeholder_payload(), **{r"data\a.bin": b"a" * 100, r"data\b.bin": b"b" * 100})

        def corrupt_third(lines):
            fields = lines[2].split("\t")
            fields[3] = "0" * 64
            return lines[:2] + ["\t".join(fields)] + lines[3:]

        package = build_package(self.scratch / "corrupt.exe", files, manifest_lines=corrupt_third)
        self.assertEqual(self.prefix.run(package, "/quiet", "/install-dir", r"C:\Apps\Digest"), REFUSED)
        self.assertFalse(self.prefix.exists(r"C:\Apps\Digest"))
        self.assert_rolled_back(r"C:\Apps\Digest")

    def test_a_file_where_the_installation_folder_must_go(self):
        p = self.prefix
        p.unix(r"C:\Apps").mkdir(exist_ok=True)
        p.unix(r"C:\Apps\AFile").write_bytes(b"a file, not a folder")
        self.assertEqual(p.run(SETUP, "/quiet", "/install-dir", r"C:\Apps\AFile"), REFUSED)
        self.assertEqual(p.unix(r"C:\Apps\AFile").read_bytes(), b"a file, not a folder")
        self.assert_rolled_back(r"C:\Apps\AFile")

    def test_a_full_drive(self):
        p = self.prefix
        files = dict(placeholder_payload(), **{r"data\big.bin": os.urandom(400 * 1024)})
        package = build_package(self.scratch / "big.exe", files)
        with small_drive(p, "e", size="256k") as drive:
            self.assertEqual(p.run(package, "/quiet", "/install-dir", r"E:\Velmora"), REFUSED)
            self.assertEqual(list(Path(drive).iterdir()), [])
        self.assert_rolled_back(r"E:\Velmora")

    def test_a_staging_path_beyond_220_characters(self):
        p = self.prefix
        folder = "C:\\" + "\\".join(["L" * 49] * 4) + "\\" + "V" * 7
        self.assertEqual(len(folder), 210)
        self.assertEqual(p.run(SETUP, "/quiet", "/install-dir", folder), REFUSED)
        self.assertFalse(p.exists(folder))
        self.assert_rolled_back(folder)

    def test_a_shortcut_that_cannot_be_saved_on_a_fresh_install(self):
        p = self.prefix
        blocker = p.unix(DESKTOP + r"\Velmora.lnk")
        blocker.mkdir()
        (blocker / "keep").write_bytes(b"x")
        try:
            self.assertEqual(p.run(SETUP, "/quiet", "/install-dir", r"C:\Apps\Shortcut"), REFUSED)
            self.assertFalse(p.exists(r"C:\Apps\Shortcut"))
            self.assertFalse(p.key_exists(UNINSTALL_KEY))
            self.assertFalse(p.exists(PROGRAMS + r"\Velmora.lnk"))
        finally:
            shutil.rmtree(blocker)
        self.assert_rolled_back(r"C:\Apps\Shortcut")

    def test_an_existing_empty_folder_is_installed_into(self):
        p = self.prefix
        p.unix(r"C:\Apps\Empty").mkdir(parents=True)
        self.assertEqual(p.run(SETUP, "/quiet", "/install-dir", r"C:\Apps\Empty"), 0)
        self.assertEqual(installed_problems(p, r"C:\Apps\Empty", Package(SETUP)), [])
        self.assertEqual(p.reg_value(UNINSTALL_KEY, "InstallLocation"), ("REG_SZ", r"C:\Apps\Empty"))
        p.reg_delete(UNINSTALL_KEY)
        for folder in (PROGRAMS, DESKTOP):
            os.remove(p.unix(folder + r"\Velmora.lnk"))


if __name__ == "__main__":
    main()
