"""DLLs planted beside the programs (or beside their temporary copies) are never loaded.

Wine normally prefers its own system DLLs; the tests tell it to prefer a DLL found on
the search path ("n,b"), as Windows does for every DLL outside the KnownDLLs, so that a
program that searched its own folder would load the planted DLL and leave a marker."""
import shutil
from pathlib import Path

from winetest import OUT, TESTAPPS, PrefixTestCase, main
from uninstall_support import pending_renames, wait_for_end, wait_for_scheduled

PLANTED = TESTAPPS / "planted"
NAMES = sorted(p.name for p in PLANTED.glob("*.dll") if p.name != "version.dll")
TEMP = r"C:\ProgramData\Velmora\installer-temp"
DOWNLOADS = r"C:\users\Public\Downloads"
INSTALLED = r"C:\Program Files\Velmora"


class PlantedDlls(PrefixTestCase):
    def plant(self, *folders):
        for folder in folders:
            self.prefix.unix(folder).mkdir(parents=True, exist_ok=True)
            for name in NAMES:
                shutil.copy(PLANTED / name, self.prefix.unix(folder) / name)

    def test_version_dll_is_not_checked_because_wines_user32_imports_it(self):
        self.skipTest("Wine's user32 imports version.dll, so every process loads it from the program's "
                      "folder at start, before any code of ours runs (Windows' user32 does not)")

    def test_install_and_uninstall_beside_planted_dlls(self):
        p = self.prefix
        p.register_runtime()
        overrides = ",".join(Path(name).stem for name in NAMES) + "=n,b"
        env = p.with_env(WINEDLLOVERRIDES=p.env["WINEDLLOVERRIDES"] + ";" + overrides)
        # The markers work: a program that loads by name from that folder gets ours.
        self.plant(r"C:\control", DOWNLOADS)
        p.run("rundll32", r"C:\control\bcrypt.dll,Nothing", env=env)
        self.assertTrue(p.exists(r"C:\control\bcrypt.dll.loaded"))
        # Where the programs run from: the download folder, the installation and the
        # temporary folder the launcher copies the maintenance program to.
        shutil.copy(OUT / "VelmoraSetup.exe", p.unix(DOWNLOADS + r"\VelmoraSetup.exe"))
        self.assertEqual(p.run(DOWNLOADS + r"\VelmoraSetup.exe", "/quiet", env=env), 0)
        self.plant(INSTALLED, TEMP)
        before = pending_renames(p)
        self.assertEqual(p.run(INSTALLED + r"\Uninstall.exe", "/quiet", env=env), 0)
        copies = wait_for_scheduled(p, r"\\installer-temp\\Maintenance-\d+-\d+\.exe$", before)
        self.assertTrue(copies and wait_for_end(p, copies[0]), copies)
        self.assertFalse(p.exists(INSTALLED + r"\Velmora.exe"), "the uninstall ran")
        markers = [m for folder in (DOWNLOADS, INSTALLED, TEMP) for m in p.unix(folder).glob("*.loaded")]
        self.assertEqual(markers, [])


if __name__ == "__main__":
    main()
