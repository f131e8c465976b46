"""The package builder: its refusals, the manifest and resources of what it builds,
reproducible output, raw packages for tests, and broken raw packages under Wine."""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import yaml

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "testing"))
from pe_resources import rcdata  # noqa: E402
from winetest import KIT, OUT, TESTAPPS, UNINSTALL_KEY, PrefixTestCase, main, pack  # noqa: E402

DIGEST = "ab" * 32
GOOD_DESCRIPTOR = f"https://localhost:47443/runtime.exe\t1048576\t{DIGEST}\r\n"
SCRATCH_BASE = "/dev/shm" if os.path.isdir("/dev/shm") else None


def write(path, data):
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data if isinstance(data, bytes) else data.encode("utf-8"))


def make_payload(root):
    files = {
        "Velmora.exe": b"MZ placeholder application",
        "Uninstall.exe": b"MZ launcher",
        "Velmora.Maintenance.exe": b"MZ maintenance",
        "signatures.dat": os.urandom(3000),
        "resources/defaults.ini": "[general]\nlanguage=auto\n",
        "resources/资源/说明.txt": "说明\n",
        "resources/templates/report/summary.html": "<html></html>\n",
    }
    for rel, data in files.items():
        write(Path(root) / rel, data)
    return root


class Scratch(unittest.TestCase):
    def setUp(self):
        self.scratch = Path(tempfile.mkdtemp(prefix="velmora-pack-test-", dir=SCRATCH_BASE))
        self.addCleanup(shutil.rmtree, self.scratch, True)
        self.payload = make_payload(self.scratch / "payload")
        self.descriptor = self.scratch / "descriptor.txt"
        write(self.descriptor, GOOD_DESCRIPTOR)
        self.out = self.scratch / "out"
        self.out.mkdir()

    def build(self, *args, payload=None, descriptor=None, output=None):
        output = output or self.out / "VelmoraSetup.exe"
        code, errors = pack(output, "--payload", payload or self.payload,
                            "--runtime-descriptor", descriptor or self.descriptor, *args)
        return code, errors, output

    def assert_refused(self, code, errors, *expected):
        self.assertEqual(code, 2, errors)
        self.assertIn("refused", errors)
        for text in expected:
            self.assertIn(text, errors)
        self.assertEqual(os.listdir(self.out), [], "nothing may be written on refusal")


class Refusals(Scratch):
    def test_each_bad_payload_is_refused_with_its_file_and_rule(self):
        cases = [
            ("question mark", lambda p: write(p / "bad?name.txt", "x"), ["bad?name.txt", "refused character"]),
            ("colon", lambda p: write(p / "a:b.txt", "x"), ["a:b.txt", "refused character"]),
            ("control character", lambda p: write(p / "tab\tname", "x"), ["refused character"]),
            ("name ending with a dot", lambda p: write(p / "data/trail.", "x"), ["data\\trail.", "full stop"]),
            ("folder ending with a space", lambda p: write(p / "dir /f.txt", "x"), ["dir \\f.txt", "space"]),
            ("device name", lambda p: write(p / "data/NUL.txt", "x"), ["data\\NUL.txt", "device name"]),
            ("backslash inside a name", lambda p: write(p / "a\\b.txt", "x"), ["a\\b.txt", "backslash"]),
            ("path that would pass MAX_PATH below the default folder", lambda p: write(p / ("d" * 200) / ("f" * 34), "x"),
             ["f" * 34, "1 to 234 UTF-16 characters"]),
            ("name that is not UTF-8", lambda p: write(p / os.fsdecode(b"\xff.txt"), "x"), ["not valid UTF-8"]),
            ("empty file", lambda p: write(p / "data/empty.dat", b""), ["data\\empty.dat", "empty files"]),
            ("file of 4 GiB (sparse)", lambda p: os.truncate(p / "signatures.dat", 1 << 32),
             ["signatures.dat", "smaller than 4 GiB"]),
            ("paths equal ignoring case", lambda p: write(p / "RESOURCES/defaults.INI", "y"),
             ["defaults.ini", "letter case"]),
            ("names equal under Windows' case rules beyond A-Z",
             lambda p: (write(p / "data/Éclair.txt", "a"), write(p / "data/éclair.txt", "b")),
             ["clair.txt", "letter case"]),
            ("file equal to a folder ignoring case", lambda p: write(p / "Resources", "y"),
             ["Resources", "is a file, but the folder resources"]),
            ("record name at the top", lambda p: write(p / ".Install-Manifest", "x"),
             [".install-manifest", "installed-files record"]),
            ("link to a folder", lambda p: os.symlink(p / "resources", p / "linked"), ["linked", "link to a folder"]),
            ("Velmora.exe missing", lambda p: os.remove(p / "Velmora.exe"), ["Velmora.exe", "at its top"]),
            ("Uninstall.exe only below the top", lambda p: os.rename(p / "Uninstall.exe", p / "resources/Uninstall.exe"),
             ["Uninstall.exe", "at its top"]),
            ("Velmora.Maintenance.exe missing", lambda p: os.remove(p / "Velmora.Maintenance.exe"),
             ["Velmora.Maintenance.exe", "at its top"]),
        ]
        for name, change, expected in cases:
            with self.subTest(name):
                payload = make_payload(self.scratch / name.replace(" ", "-"))
                change(Path(payload))
                code, errors, _ = self.build(payload=payload)
                self.assert_refused(code, errors, *expected)

    def test_each_bad_descriptor_is_refused(self):
        long_size = "99999999999999999999"
        cases = [
            ("plain http", GOOD_DESCRIPTOR.replace("https", "http"), "https://"),
            ("scheme in capitals", GOOD_DESCRIPTOR.replace("https", "HTTPS"), "https://"),
            ("byte-order mark", "\ufeff" + GOOD_DESCRIPTOR, "https://"),
            ("size 0", GOOD_DESCRIPTOR.replace("1048576", "0"), "1 to 536870912 bytes"),
            ("size over 512 MiB", GOOD_DESCRIPTOR.replace("1048576", "536870913"), "1 to 536870912 bytes"),
            ("size without digits", GOOD_DESCRIPTOR.replace("1048576", "large"), "decimal number"),
            ("size beyond 64 bits", GOOD_DESCRIPTOR.replace("1048576", long_size), "decimal number"),
            ("digest of 63 digits", GOOD_DESCRIPTOR.replace(DIGEST, DIGEST[1:]), "64 hexadecimal digits"),
            ("digest with a g", GOOD_DESCRIPTOR.replace(DIGEST, "g" + DIGEST[1:]), "64 hexadecimal digits"),
            ("fourth field", GOOD_DESCRIPTOR.replace("\r\n", "\textra"), "64 hexadecimal digits"),
            ("two fields", "https://localhost/r.exe\t1048576\n", "separated by tabs"),
            ("empty file", "", "separated by tabs"),
        ]
        for name, text, rule in cases:
            with self.subTest(name):
                descriptor = self.scratch / f"{name}.txt"
                write(descriptor, text)
                code, errors, _ = self.build(descriptor=descriptor)
                self.assert_refused(code, errors, str(descriptor), rule)
        write(self.scratch / "latin1.txt", b"https://x/\xe9\t5\t" + DIGEST.encode())
        code, errors, _ = self.build(descriptor=self.scratch / "latin1.txt")
        self.assert_refused(code, errors, "not valid UTF-8")
        write(self.descriptor, GOOD_DESCRIPTOR.replace("1048576", "536870912"))  # the largest size passes
        code, errors, _ = self.build()
        self.assertEqual(code, 0, errors)

    def test_package_manager_options_are_checked_before_anything_is_written(self):
        code, errors, _ = self.build("--winget", self.out / "winget", "--installer-url", "http://example.com/x.exe")
        self.assert_refused(code, errors, "--installer-url must begin with https://")

    def test_refusal_leaves_an_existing_package_untouched(self):
        existing = self.out / "VelmoraSetup.exe"
        existing.write_bytes(b"earlier package")
        os.remove(self.payload / "Velmora.exe")
        code, errors, _ = self.build()
        self.assertEqual(code, 2, errors)
        self.assertEqual(existing.read_bytes(), b"earlier package")
        self.assertEqual(os.listdir(self.out), ["VelmoraSetup.exe"])

    def test_more_than_64535_files_are_refused(self):
        # Empty files cost no data blocks; the count is checked before anything else.
        many = self.scratch / "many"
        make_payload(many)
        for folder in range(65):
            sub = many / f"f{folder:02d}"
            sub.mkdir()
            for i in range(1000):
                (sub / f"{i}").touch()
        code, errors, _ = self.build(payload=many)
        self.assert_refused(code, errors, "65007 files", "at most 64535")

    def test_manifest_over_one_mebibyte_is_refused_and_one_of_exactly_that_size_builds(self):
        # About 3,500 lines of 300 bytes; names are then shortened until the manifest
        # is one byte over the limit, and then exactly at it.
        payload = make_payload(self.scratch / "long")
        folder = payload / ("d" * 200)
        folder.mkdir()
        for i in range(3520):
            (folder / f"{i:05d}{'x' * 20}").write_bytes(b"z")
        code, errors, _ = self.build(payload=payload)
        self.assert_refused(code, errors, "payload manifest", "at most 1048576 bytes")
        excess = int(re.search(r"would be (\d+) bytes", errors).group(1)) - (1 << 20)
        self.shorten_names(folder, excess - 1)
        code, errors, _ = self.build(payload=payload)
        self.assert_refused(code, errors, "would be 1048577 bytes")
        self.shorten_names(folder, 1)
        code, errors, output = self.build(payload=payload)
        self.assertEqual(code, 0, errors)
        self.assertEqual(len(rcdata(output)[1000]), 1 << 20)

    @staticmethod
    def shorten_names(folder, characters):
        for path in sorted(folder.iterdir()):
            cut = min(characters, len(path.name) - 5)
            if cut > 0:
                path.rename(path.with_name(path.name[:-cut]))
                characters -= cut
            if characters == 0:
                return


def sha256sum(folder):
    files = sorted(str(p.relative_to(folder)) for p in Path(folder).rglob("*") if p.is_file())
    output = subprocess.run(["sha256sum", "--", *files], cwd=folder, check=True, stdout=subprocess.PIPE,
                            text=True).stdout
    return {line[66:]: line[:64].upper() for line in output.splitlines()}


class BuiltPackage(Scratch):
    def test_manifest_lists_exactly_the_payload_and_every_file_is_carried(self):
        code, errors, output = self.build()
        self.assertEqual(code, 0, errors)
        resources = rcdata(output)
        text = resources[1000].decode("utf-8")
        self.assertFalse(text.startswith("\ufeff"))
        self.assertTrue(text.endswith("\n"))
        lines = text[:-1].split("\n")
        self.assertNotIn("", lines)
        expected = sha256sum(self.payload)
        listed = {}
        for index, line in enumerate(lines):
            ident, path, size, digest = line.split("\t")
            self.assertEqual(int(ident), 1001 + index)
            unix = path.replace("\\", "/")
            listed[unix] = digest
            data = (self.payload / unix).read_bytes()
            self.assertEqual(int(size), len(data))
            self.assertEqual(resources[int(ident)], data)
        self.assertEqual(listed, expected)
        self.assertEqual(resources[999], GOOD_DESCRIPTOR.encode())
        self.assertEqual(resources[101], (KIT / "resources" / "logo.png").read_bytes())
        self.assertEqual(set(resources), {101, 999, 1000} | set(range(1001, 1001 + len(lines))))

    def test_package_manager_manifest_and_detection_rule_describe_the_package(self):
        url = "https://downloads.example.com/VelmoraSetup-1.0.1.exe"
        code, errors, output = self.build("--winget", self.out / "winget", "--installer-url", url)
        self.assertEqual(code, 0, errors)
        folder = self.out / "winget"
        names = ["Quenlo.Velmora.installer.yaml", "Quenlo.Velmora.locale.en-US.yaml", "Quenlo.Velmora.yaml"]
        self.assertEqual(sorted(os.listdir(folder)), names)
        installer, locale, version = (yaml.safe_load((folder / name).read_text("utf-8")) for name in names)
        identity = {"PackageIdentifier": "Quenlo.Velmora", "PackageVersion": "1.0.1", "ManifestVersion": "1.10.0"}
        self.assertEqual(version, dict(identity, DefaultLocale="en-US", ManifestType="version"))
        self.assertEqual({k: locale[k] for k in ("PackageLocale", "Publisher", "PackageName", "ManifestType")},
                         {"PackageLocale": "en-US", "Publisher": "Quenlo", "PackageName": "Velmora",
                          "ManifestType": "defaultLocale"})
        files = installer["InstallationMetadata"].pop("Files")
        self.assertEqual({f["RelativeFilePath"].replace("\\", "/"): f["FileSha256"] for f in files},
                         sha256sum(self.payload))
        self.assertEqual([(f["RelativeFilePath"], f["FileType"]) for f in files if "FileType" in f],
                         [("Velmora.exe", "launch")])
        package_sha256 = hashlib.sha256(output.read_bytes()).hexdigest().upper()
        self.assertEqual(installer, dict(identity, **{
            "InstallationMetadata": {"DefaultInstallLocation": "%ProgramFiles%\\Velmora"},
            "Installers": [{"Architecture": "x64", "InstallerUrl": url, "InstallerSha256": package_sha256}],
            "MinimumOSVersion": "10.0.0.0", "InstallerType": "exe", "Scope": "machine",
            "InstallModes": ["interactive", "silent", "silentWithProgress"],
            "InstallerSwitches": {"Silent": "/quiet", "SilentWithProgress": "/quiet",
                                  "InstallLocation": '/install-dir "<INSTALLPATH>"', "Log": '/log "<LOGPATH>"'},
            "ExpectedReturnCodes": [{"InstallerReturnCode": 5, "ReturnResponse": "installInProgress"},
                                    {"InstallerReturnCode": 6, "ReturnResponse": "systemNotSupported"}],
            "UpgradeBehavior": "install", "ElevationRequirement": "elevatesSelf",
            "AppsAndFeaturesEntries": [{"DisplayName": "Velmora", "Publisher": "Quenlo", "DisplayVersion": "1.0.1",
                                        "ProductCode": "Velmora"}],
            "ManifestType": "installer"}))
        rule = json.loads((self.out / "VelmoraSetup.detection.json").read_text("utf-8"))
        self.assertEqual(rule, {"@odata.type": "#microsoft.graph.win32LobAppRegistryDetection",
                                "keyPath": "HKEY_LOCAL_MACHINE\\" + UNINSTALL_KEY[5:], "valueName": "DisplayVersion",
                                "detectionType": "version", "operator": "greaterThanOrEqual",
                                "detectionValue": "1.0.1", "check32BitOn64System": False})
        schemas = os.environ.get("VELMORA_WINGET_SCHEMAS")
        if schemas:  # the schema files are not part of this repository
            import jsonschema
            for name, kind in zip(names, ("installer", "defaultLocale", "version")):
                schema = json.loads((Path(schemas) / f"manifest.{kind}.1.10.0.json").read_text("utf-8"))
                jsonschema.validate(yaml.safe_load((folder / name).read_text("utf-8")), schema)

    def test_same_input_gives_the_same_bytes_wherever_it_lies(self):
        code, errors, first = self.build(output=self.out / "first.exe")
        self.assertEqual(code, 0, errors)
        code, errors, second = self.build(output=self.out / "second.exe")
        self.assertEqual(code, 0, errors)
        elsewhere = self.scratch / "elsewhere" / "copy"
        shutil.copytree(self.payload, elsewhere)
        for path in elsewhere.rglob("*"):
            os.utime(path, (1, 1))
        code, errors, third = self.build(payload=elsewhere, output=self.out / "third.exe")
        self.assertEqual(code, 0, errors)
        # The linker's order must not depend on where the kit lies either.
        kit_copy = self.scratch / "elsewhere" / "kit"
        shutil.copytree(KIT, kit_copy, symlinks=True)
        code, errors, fourth = self.build("--kit", kit_copy, output=self.out / "fourth.exe")
        self.assertEqual(code, 0, errors)
        for other in (second, third, fourth):
            self.assertEqual(subprocess.run(["cmp", first, other]).returncode, 0, other)

    def test_a_file_changed_while_packing_is_embedded_as_it_was_hashed(self):
        # The resource compiler is the last to read the payload: changing a file just
        # before it runs must not make the package disagree with its own manifest.
        shim = self.scratch / "bin"
        shim.mkdir()
        windres = shim / "x86_64-w64-mingw32-windres"
        windres.write_text(f'#!/bin/sh\nprintf changed > "{self.payload / "signatures.dat"}"\n'
                           f'exec "{shutil.which(windres.name)}" "$@"\n')
        windres.chmod(0o755)
        output = self.out / "VelmoraSetup.exe"
        env = dict(os.environ, PATH=f"{shim}:{os.environ['PATH']}")
        result = subprocess.run(["python3", str(Path(__file__).with_name("pack")), "--kit", str(KIT), "--output",
                                 str(output), "--payload", str(self.payload), "--no-descriptor"],
                                stderr=subprocess.PIPE, text=True, env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual((self.payload / "signatures.dat").read_bytes(), b"changed")
        resources = rcdata(output)
        for line in resources[1000].decode("utf-8").splitlines():
            ident, path, size, digest = line.split("\t")
            self.assertEqual((len(resources[int(ident)]), hashlib.sha256(resources[int(ident)]).hexdigest().upper()),
                             (int(size), digest), path)

    def test_logo_and_descriptor_can_be_left_out(self):
        for option, left_out, kept in (("--no-logo", 101, 999), ("--no-descriptor", 999, 101)):
            code, errors, output = self.build(option)
            self.assertEqual(code, 0, errors)
            self.assertEqual((left_out in rcdata(output), kept in rcdata(output)), (False, True), option)

    def test_raw_mode_embeds_exactly_what_it_is_given(self):
        manifest = b"\xef\xbb\xbf1001\tbad\xff\r\n\r\n"
        write(self.scratch / "manifest.bin", manifest)
        write(self.scratch / "bad-descriptor.txt", "http://nowhere")
        output = self.out / "raw.exe"
        code, errors = pack(output, "--manifest", self.scratch / "manifest.bin",
                            "--resource", f"1001={self.payload / 'Velmora.exe'}",
                            "--resource", f"4242={self.payload / 'signatures.dat'}",
                            "--runtime-descriptor", self.scratch / "bad-descriptor.txt")
        self.assertEqual(code, 0, errors)
        resources = rcdata(output)
        self.assertEqual(set(resources), {101, 999, 1000, 1001, 4242})
        self.assertEqual(resources[1000], manifest)
        self.assertEqual(resources[999], b"http://nowhere")
        self.assertEqual(resources[4242], (self.payload / "signatures.dat").read_bytes())


# Broken raw packages run under Wine: "/quiet" must end in 2 and write nothing.
SETUP_FILES = {
    "Velmora.exe": TESTAPPS / "Velmora.exe",
    "Uninstall.exe": OUT / "Uninstall.exe",
    "Velmora.Maintenance.exe": OUT / "Velmora.Maintenance.exe",
}


class BrokenPackagesUnderWine(PrefixTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.register_runtime()
        cls.lines = [f"{1001 + i}\t{name}\t{path.stat().st_size}\t{hashlib.sha256(path.read_bytes()).hexdigest()}"
                     for i, (name, path) in enumerate(SETUP_FILES.items())]
        cls.resources = [f"{1001 + i}={path}" for i, path in enumerate(SETUP_FILES.values())]

    def raw_package(self, name, manifest, resources):
        output = self.scratch / f"{name}.exe"
        args = ["--resource=" + r for r in resources]
        if manifest is not None:
            write(self.scratch / f"{name}.txt", manifest)
            args += ["--manifest", self.scratch / f"{name}.txt"]
        code, errors = pack(output, *args)
        self.assertEqual(code, 0, errors)
        return output

    def test_broken_manifests_end_in_2_with_nothing_written(self):
        good = self.lines
        size_one_more = good[0].replace(f"\t{SETUP_FILES['Velmora.exe'].stat().st_size}\t",
                                        f"\t{SETUP_FILES['Velmora.exe'].stat().st_size + 1}\t")
        cases = [
            ("bad-size", "\r\n".join([size_one_more] + good[1:]), self.resources),
            ("bad-digest", "\n".join(good[:2] + [good[2][:-64] + "0" * 64]), self.resources),
            ("bad-line", "\n".join(good + ["1004\tthree\tfields"]), self.resources),
            ("missing-resource", "\n".join(good), self.resources[:2]),
            ("no-manifest", None, self.resources),
            ("empty-manifest", "", self.resources),
            ("not-utf8", b"\n".join(line.encode() for line in good) + b"\n\xff", self.resources),
            # What the record reader would refuse at uninstall, and an identifier that
            # names another resource (66537 is 1001 in 16 bits).
            ("empty-line", "\n\n".join(good), self.resources),
            ("over-1-mib", "\n".join(good[:2] + [good[2] + "\t" + "x" * (1 << 20)]), self.resources),
            ("id-beyond-16-bits", "\n".join(good[1:] + [good[0].replace("1001\t", "66537\t", 1)]),
             self.resources),
            ("same-path-twice", "\n".join(good + [good[0].replace("1001\t", "1004\t", 1)]),
             self.resources + [f"1004={SETUP_FILES['Velmora.exe']}"]),
        ]
        for name, manifest, resources in cases:
            with self.subTest(name):
                self.prefix.reg_delete(UNINSTALL_KEY)  # what a failed row registered
                package = self.raw_package(name, manifest, resources)
                self.assertEqual(self.prefix.run(package, "/quiet", "/install-dir", f"C:\\velmora-{name}"), 2)
                left = [n for n in os.listdir(self.prefix.unix("C:\\")) if n.lower().startswith(f"velmora-{name}")]
                self.assertEqual(left, [])
                self.assertFalse(self.prefix.key_exists(UNINSTALL_KEY))

    def test_the_same_package_well_formed_installs(self):
        # Shows that the refusals above come from the broken parts, not from the setting.
        package = self.raw_package("well-formed", "\r\n".join(self.lines) + "\r\n", self.resources)
        self.addCleanup(self.prefix.reg_delete, UNINSTALL_KEY)
        self.assertEqual(self.prefix.run(package, "/quiet", "/install-dir", "C:\\velmora-good"), 0)
        for name, path in SETUP_FILES.items():
            self.assertEqual(self.prefix.unix(f"C:\\velmora-good\\{name}").read_bytes(), path.read_bytes())


if __name__ == "__main__":
    main()
