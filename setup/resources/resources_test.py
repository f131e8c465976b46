"""The programs carry the manifests, version blocks, icons and logo that Windows and
the setup window rely on. Read from the built files; no Wine needed. (Wine shows task
dialogs even without the Common Controls 6 manifest, so only this check catches a lost one.)"""
import re
import struct
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from pe_resources import RT_GROUP_ICON, RT_MANIFEST, RT_RCDATA, RT_VERSION, read_resources  # noqa: E402
from winetest import OUT  # noqa: E402

SUPPORTED_OS = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"


def version_strings(block):
    """The StringFileInfo values of a VS_VERSION_INFO block."""
    text = block.decode("utf-16-le", "replace")
    values = {}
    for name in ("CompanyName", "FileDescription", "FileVersion", "InternalName", "OriginalFilename",
                 "ProductName", "ProductVersion"):
        at = text.find(name + "\0")
        if at < 0:
            continue
        rest = text[at + len(name) + 1:].lstrip("\0")
        values[name] = rest.split("\0", 1)[0]
    return values


def fixed_versions(block):
    at = block.find(struct.pack("<I", 0xFEEF04BD))
    ms, ls, pms, pls = struct.unpack_from("<IIII", block, at + 8)
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF)


def strings_of(description, name):
    return {"CompanyName": "Quenlo", "FileDescription": description, "FileVersion": "1.0.1.0",
            "InternalName": name, "OriginalFilename": name, "ProductName": "Velmora", "ProductVersion": "1.0.1"}


# program, manifest identity, version strings (None: only the product version checked),
# whether it shows windows (Common Controls 6, per-monitor DPI), whether it carries a payload
PROGRAMS = [
    ("Velmora.Maintenance.exe", "Velmora.NativeInstaller",
     strings_of("Velmora Maintenance", "Velmora.Maintenance.exe"), True, False),
    ("VelmoraSetup.exe", "Velmora.NativeInstaller", None, True, True),
    ("Uninstall.exe", "Velmora.Uninstaller.app", strings_of("Velmora Uninstaller", "Uninstall.exe"), False, False),
]


class ProgramResources(unittest.TestCase):
    def test_manifest_icon_version_and_payload(self):
        for program, identity, strings, windows, payload in PROGRAMS:
            with self.subTest(program):
                resources = read_resources(OUT / program)
                manifest = resources[(RT_MANIFEST, 1)].decode("utf-8")
                self.assertIn(f'name="{identity}" version="1.0.0.0"', manifest)
                self.assertIn('level="requireAdministrator" uiAccess="false"', manifest)
                self.assertIn(SUPPORTED_OS, manifest)
                self.assertIn(">true</longPathAware>", manifest)
                self.assertIn((RT_GROUP_ICON, 1), resources)
                version = resources[(RT_VERSION, 1)]
                self.assertEqual(fixed_versions(version), ((1, 0, 1, 0), (1, 0, 1, 0)))
                found = version_strings(version)
                self.assertEqual(found if strings else found["ProductVersion"], strings or "1.0.1")
                controls = re.search(r'name="Microsoft\.Windows\.Common-Controls" version="6\.0\.0\.0"\s+'
                                     r'processorArchitecture="amd64"', manifest)
                self.assertEqual(bool(controls), windows)
                dpi = ">PerMonitorV2</dpiAwareness>" if windows else "dpiAware"
                self.assertEqual(dpi in manifest, windows)
                for rcdata in (1000, 999):
                    self.assertEqual((RT_RCDATA, rcdata) in resources, payload, rcdata)

    def test_the_logo_is_a_128_pixel_rgba_png(self):
        logo = read_resources(OUT / "VelmoraSetup.exe")[(RT_RCDATA, 101)]
        self.assertEqual(logo[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack_from(">IIBB", logo, 16), (128, 128, 8, 6))


if __name__ == "__main__":
    unittest.main(verbosity=2)
