"""The programs carry the manifests, version blocks, icons and logo that Windows and the setup
window rely on, and import only what Windows 10 from its first build has. Read from the built files,
no Wine needed. (Wine shows task dialogs without the Common Controls 6 manifest too.)"""
import re
import struct
import subprocess
import unittest

from pe_resources import RT_GROUP_ICON, RT_MANIFEST, RT_RCDATA, RT_VERSION, read_resources
from winetest import OUT

SUPPORTED_OS = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
# Functions that the first Windows 10 builds lack: a static import of one of them keeps
# a program from starting there at all.
LATE_FUNCTIONS = {"SetProcessDpiAwarenessContext", "GetDpiForSystem", "GetDpiForWindow",
                  "SetThreadDpiAwarenessContext", "AdjustWindowRectExForDpi", "GetSystemMetricsForDpi",
                  "EnableNonClientDpiScaling", "SystemParametersInfoForDpi"}
STRINGS = {"CompanyName": "Quenlo", "FileVersion": "1.0.1.0", "ProductName": "Velmora",
           "ProductVersion": "1.0.1"}
# program, manifest identity, description, whether it shows windows (Common Controls 6, DPI, logo)
PROGRAMS = [
    ("Velmora.Maintenance.exe", "Velmora.NativeInstaller", "Velmora Maintenance", True),
    ("VelmoraSetup.exe", "Velmora.NativeInstaller", "Velmora Setup", True),
    ("Uninstall.exe", "Velmora.Uninstaller.app", "Velmora Uninstaller", False),
]


class ProgramResources(unittest.TestCase):
    def test_manifest_icon_version_logo_and_imports(self):
        for program, identity, description, windows in PROGRAMS:
            with self.subTest(program):
                resources = read_resources(OUT / program)
                manifest = resources[(RT_MANIFEST, 1)].decode("utf-8")
                for text in (f'name="{identity}" version="1.0.0.0"', SUPPORTED_OS, ">true</longPathAware>",
                             'level="requireAdministrator" uiAccess="false"'):
                    self.assertIn(text, manifest)
                controls = re.search(r'name="Microsoft\.Windows\.Common-Controls" version="6\.0\.0\.0"\s+'
                                     r'processorArchitecture="amd64"', manifest)
                dpi = ">PerMonitorV2</dpiAwareness>" if windows else "dpiAware"
                self.assertEqual((bool(controls), dpi in manifest), (windows, windows))
                self.assertIn((RT_GROUP_ICON, 1), resources)
                version = resources[(RT_VERSION, 1)]
                fixed = struct.unpack_from("<4I", version, version.find(struct.pack("<I", 0xFEEF04BD)) + 8)
                self.assertEqual(fixed, (1 << 16,) * 4)  # file and product version 1.0.1.0
                strings = dict(STRINGS, FileDescription=description, InternalName=program,
                               OriginalFilename=program)
                text = version.decode("utf-16-le", "replace")
                self.assertEqual(dict(re.findall(f"({'|'.join(strings)})\0+([^\0]*)", text)), strings)
                if windows:
                    self.assertEqual(struct.unpack_from(">8s8xIIBB", resources[(RT_RCDATA, 101)]),
                                     (b"\x89PNG\r\n\x1a\n", 128, 128, 8, 6))  # 128 pixels, RGBA
                dump = subprocess.check_output(["x86_64-w64-mingw32-objdump", "-p", OUT / program], text=True)
                self.assertRegex(dump, r"Subsystem\s+00000002")  # a GUI program: no console window
                imported = set(re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\w+)\s*$", dump, re.MULTILINE))
                self.assertIn("GetModuleHandleW", imported)  # the table was read
                self.assertEqual(imported & LATE_FUNCTIONS, set())
        # The launcher (the last row) links nothing of the setup program; advapi32 protects the
        # installer temporary folder.
        libraries = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        runtime = {name for name in libraries if name == "msvcrt.dll" or name.startswith("api-ms-win-crt-")}
        self.assertEqual(libraries - runtime, {"kernel32.dll", "shell32.dll", "advapi32.dll"})


if __name__ == "__main__":
    unittest.main(verbosity=2)
