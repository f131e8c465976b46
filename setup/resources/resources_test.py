"""The programs carry the manifests, version blocks, icons and logo that Windows and
the setup window rely on. Read from the built files; no Wine needed. (Wine shows task
dialogs even without the Common Controls 6 manifest, so only this check catches a lost one.)"""
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


class ProgramResources(unittest.TestCase):
    def check_common(self, program, identity):
        resources = read_resources(OUT / program)
        manifest = resources[(RT_MANIFEST, 1)].decode("utf-8")
        self.assertIn(f'name="{identity}" version="1.0.0.0"', manifest)
        self.assertIn('level="requireAdministrator" uiAccess="false"', manifest)
        self.assertIn(SUPPORTED_OS, manifest)
        self.assertIn(">true</longPathAware>", manifest)
        self.assertIn((RT_GROUP_ICON, 1), resources)
        version = resources[(RT_VERSION, 1)]
        self.assertEqual(fixed_versions(version), ((1, 0, 1, 0), (1, 0, 1, 0)))
        return resources, manifest, version_strings(version)

    def check_setup_manifest(self, manifest):
        self.assertIn(">PerMonitorV2</dpiAwareness>", manifest)
        self.assertRegex(manifest, r'name="Microsoft\.Windows\.Common-Controls" version="6\.0\.0\.0"\s+'
                                   r'processorArchitecture="amd64"')

    def test_maintenance_configuration(self):
        resources, manifest, strings = self.check_common("Velmora.Maintenance.exe", "Velmora.NativeInstaller")
        self.check_setup_manifest(manifest)
        self.assertEqual(strings, {
            "CompanyName": "Quenlo", "FileDescription": "Velmora Maintenance", "FileVersion": "1.0.1.0",
            "InternalName": "Velmora.Maintenance.exe", "OriginalFilename": "Velmora.Maintenance.exe",
            "ProductName": "Velmora", "ProductVersion": "1.0.1"})
        self.assertNotIn((RT_RCDATA, 1000), resources)

    def test_setup_configuration_carries_the_payload_and_the_logo(self):
        resources, manifest, strings = self.check_common("VelmoraSetup.exe", "Velmora.NativeInstaller")
        self.check_setup_manifest(manifest)
        self.assertEqual(strings["ProductVersion"], "1.0.1")
        self.assertIn((RT_RCDATA, 1000), resources)
        self.assertIn((RT_RCDATA, 999), resources)
        logo = resources[(RT_RCDATA, 101)]
        self.assertEqual(logo[:8], b"\x89PNG\r\n\x1a\n")
        width, height, depth, colour_type = struct.unpack_from(">IIBB", logo, 16)
        self.assertEqual((width, height, depth, colour_type), (128, 128, 8, 6))

    def test_uninstaller_launcher(self):
        _, manifest, strings = self.check_common("Uninstall.exe", "Velmora.Uninstaller.app")
        self.assertNotIn("Common-Controls", manifest)
        self.assertNotIn("dpiAware", manifest)
        self.assertEqual(strings, {
            "CompanyName": "Quenlo", "FileDescription": "Velmora Uninstaller", "FileVersion": "1.0.1.0",
            "InternalName": "Uninstall.exe", "OriginalFilename": "Uninstall.exe",
            "ProductName": "Velmora", "ProductVersion": "1.0.1"})


if __name__ == "__main__":
    unittest.main(verbosity=2)
