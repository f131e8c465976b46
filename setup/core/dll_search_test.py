"""DLLs planted beside the programs (or beside their temporary copies) are never loaded.

Wine normally prefers its own system DLLs; the tests tell it to prefer a DLL found on
the search path ("n,b"), as Windows does for every DLL outside the KnownDLLs, so that a
program that searched its own folder would load the planted DLL and leave a marker."""
import re
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from winetest import OUT, TESTAPPS, PrefixTestCase, main  # noqa: E402
from uninstall_support import pending_renames, wait_for_end, wait_for_scheduled  # noqa: E402

PLANTED = TESTAPPS / "planted"
# Wine's own user32 imports version.dll, so every process loads it at start from the
# program's folder, before any code of ours runs; Windows' user32 does not import it.
WINE_ONLY = {"version.dll"}
NAMES = sorted(p.name for p in PLANTED.glob("*.dll") if p.name not in WINE_ONLY)
TEMP = r"C:\ProgramData\Velmora\installer-temp"
DOWNLOADS = r"C:\users\Public\Downloads"
INSTALLED = r"C:\Program Files\Velmora"


# Functions that the first Windows 10 builds lack: a static import of one of them keeps
# a program from starting there at all.
LATE_FUNCTIONS = {"SetProcessDpiAwarenessContext", "GetDpiForSystem", "GetDpiForWindow",
                  "SetThreadDpiAwarenessContext", "AdjustWindowRectExForDpi", "GetSystemMetricsForDpi",
                  "EnableNonClientDpiScaling", "SystemParametersInfoForDpi"}


class StaticImports(unittest.TestCase):
    def test_no_program_imports_what_early_windows_10_lacks_and_the_launcher_only_system_libraries(self):
        for program in ("VelmoraSetup.exe", "Velmora.Maintenance.exe", "Uninstall.exe"):
            with self.subTest(program=program):
                dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(OUT / program)],
                                      stdout=subprocess.PIPE, text=True, check=True).stdout
                self.assertRegex(dump, r"Subsystem\s+00000002")  # a GUI program: no console window
                imported = set(re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\w+)\s*$", dump, re.MULTILINE))
                self.assertIn("GetModuleHandleW", imported)  # the table was read
                self.assertEqual(imported & LATE_FUNCTIONS, set())
        # The launcher links nothing of the setup program; advapi32 protects the
        # installer temporary folder.
        libraries = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        runtime = {name for name in libraries if name == "msvcrt.dll" or name.startswith("api-ms-win-crt-")}
        self.assertEqual(libraries - runtime, {"kernel32.dll", "shell32.dll", "advapi32.dll"})


class PlantedDlls(PrefixTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.register_runtime()
        overrides = ",".join(Path(name).stem for name in NAMES) + "=n,b"
        cls.env = cls.prefix.with_env(WINEDLLOVERRIDES=cls.prefix.env["WINEDLLOVERRIDES"] + ";" + overrides)

    def plant(self, folder):
        target = self.prefix.unix(folder)
        target.mkdir(parents=True, exist_ok=True)
        for name in NAMES:
            shutil.copy(PLANTED / name, target / name)
        return target

    def markers(self, *folders):
        return sorted(str(m) for f in folders for m in self.prefix.unix(f).glob("*.loaded"))

    def test_version_dll_is_not_checked_because_wines_user32_imports_it(self):
        self.skipTest("Wine's user32 imports version.dll at process start (Windows' does not)")

    def test_0_a_planted_dll_on_the_search_path_is_loaded(self):
        # The markers work: a program that loads by name from that folder gets ours.
        folder = self.plant(r"C:\control")
        self.prefix.run("rundll32", r"C:\control\bcrypt.dll,Nothing", env=self.env)
        self.assertTrue((folder / "bcrypt.dll.loaded").exists())

    def test_1_install_and_uninstall_beside_planted_dlls(self):
        # Where the programs run from: the download folder, the installation and the
        # temporary folder the launcher copies the maintenance program to.
        p = self.prefix
        downloads = self.plant(DOWNLOADS)
        shutil.copy(OUT / "VelmoraSetup.exe", downloads / "VelmoraSetup.exe")
        self.assertEqual(p.run(DOWNLOADS + r"\VelmoraSetup.exe", "/quiet", env=self.env), 0)
        self.plant(INSTALLED)
        self.plant(TEMP)
        before = pending_renames(p)
        self.assertEqual(p.run(INSTALLED + r"\Uninstall.exe", "/quiet", env=self.env), 0)
        copies = wait_for_scheduled(p, r"\\installer-temp\\Maintenance-\d+-\d+\.exe$", before)
        self.assertTrue(copies and wait_for_end(p, copies[0]), copies)
        self.assertFalse(p.exists(INSTALLED + r"\Velmora.exe"), "the uninstall ran")
        self.assertEqual(self.markers(DOWNLOADS, INSTALLED, TEMP), [])


if __name__ == "__main__":
    main()
