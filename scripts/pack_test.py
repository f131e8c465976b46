"""The package builder: its refusals, the manifest and resources of what it builds,
reproducible output, signing, and broken raw packages under Wine."""
import hashlib
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path
from unittest import mock

import yaml

from install_support import Package, installed_problems, placeholder_payload
from pe_resources import rcdata
from winetest import BUILD, KIT, UNINSTALL_KEY, PrefixTestCase, main, pack

DIGEST = "ab" * 32
GOOD_DESCRIPTOR = f"https://localhost:47443/runtime.exe\t536870912\t{DIGEST}\r\n"  # the largest size
SAMPLE = BUILD / "sample"
SCRATCH_BASE = "/dev/shm" if os.path.isdir("/dev/shm") else None
PAYLOAD = {"Velmora.exe": b"MZ placeholder application", "Uninstall.exe": b"MZ launcher",
           "Velmora.Maintenance.exe": b"MZ maintenance", "signatures.dat": os.urandom(3000),
           "resources/defaults.ini": b"[general]\nlanguage=auto\n", "resources/资源/说明.txt": "说明\n".encode(),
           "resources/templates/report/summary.html": b"<html></html>\n"}
# A path written into a good payload (or a change made to it), and what the refusal names.
BAD_PAYLOADS = [
    ("bad?name.txt", "bad?name.txt", "refused character"),
    ("tab\tname", "refused character"),
    ("data/trail.", "data\\trail.", "full stop"),
    ("dir /f.txt", "dir \\f.txt", "space"),
    ("data/NUL.txt", "data\\NUL.txt", "device name"),
    ("a\\b.txt", "a\\b.txt", "backslash"),
    ("d" * 200 + "/" + "f" * 34, "f" * 34, "1 to 234 UTF-16 characters"),  # MAX_PATH below the default folder
    (os.fsdecode(b"\xff.txt"), "not valid UTF-8"),
    ("RESOURCES/defaults.INI", "defaults.ini", "letter case"),
    ("Resources", "Resources", "is a file, but the folder resources"),
    (".Install-Manifest", ".install-manifest", "installed-files record"),
    (lambda p: write(p / "data/empty.dat", b""), "data\\empty.dat", "empty files"),
    (lambda p: os.truncate(p / "signatures.dat", 1 << 32), "signatures.dat", "smaller than 4 GiB"),  # sparse
    (lambda p: (write(p / "data/Éclair.txt"), write(p / "data/éclair.txt")), "clair.txt", "letter case"),
    (lambda p: os.symlink(p / "resources", p / "linked"), "linked", "link to a folder"),
    (lambda p: os.remove(p / "Velmora.exe"), "Velmora.exe", "at its top"),
    (lambda p: os.rename(p / "Uninstall.exe", p / "resources/Uninstall.exe"), "Uninstall.exe", "at its top"),
    (lambda p: os.remove(p / "Velmora.Maintenance.exe"), "Velmora.Maintenance.exe", "at its top"),
]
BAD_DESCRIPTORS = [
    (GOOD_DESCRIPTOR.replace("https", "http"), "https://"),
    (GOOD_DESCRIPTOR.replace("https", "HTTPS"), "https://"),
    ("\ufeff" + GOOD_DESCRIPTOR, "https://"),
    (GOOD_DESCRIPTOR.replace("536870912", "0"), "1 to 536870912 bytes"),
    (GOOD_DESCRIPTOR.replace("536870912", "536870913"), "1 to 536870912 bytes"),
    (GOOD_DESCRIPTOR.replace("536870912", "large"), "decimal number"),
    (GOOD_DESCRIPTOR.replace("536870912", "9" * 20), "decimal number"),  # beyond 64 bits
    (GOOD_DESCRIPTOR.replace(DIGEST, DIGEST[1:]), "64 hexadecimal digits"),
    (GOOD_DESCRIPTOR.replace(DIGEST, "g" + DIGEST[1:]), "64 hexadecimal digits"),
    (GOOD_DESCRIPTOR.replace("\r\n", "\textra"), "64 hexadecimal digits"),
    ("https://localhost/r.exe\t1048576\n", "separated by tabs"),
    (b"https://x/\xe9\t5\t" + DIGEST.encode(), "not valid UTF-8"),
]


def run(*command):
    result = subprocess.run(list(map(str, command)), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True)
    return result.returncode == 0, result.stdout


def write(path, data="x"):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data if isinstance(data, bytes) else data.encode("utf-8"))


class Packing(unittest.TestCase):
    def setUp(self):
        self.scratch = Path(tempfile.mkdtemp(prefix="velmora-pack-test-", dir=SCRATCH_BASE))
        self.addCleanup(shutil.rmtree, self.scratch, True)
        self.payload = self.scratch / "payload"
        for rel, data in PAYLOAD.items():
            write(self.payload / rel, data)
        self.descriptor = self.scratch / "descriptor.txt"
        write(self.descriptor, GOOD_DESCRIPTOR)
        self.out = self.scratch / "out"
        # An earlier package that every refusal must leave as it was, alone in its folder.
        write(self.out / "VelmoraSetup.exe", b"earlier package")

    def build(self, *args, payload=None, descriptor=None, output=None):
        output = output or self.out / "VelmoraSetup.exe"
        code, errors = pack(output, "--payload", payload or self.payload,
                            "--runtime-descriptor", descriptor or self.descriptor, *args)
        return code, errors, output

    def assert_refused(self, built, *expected):
        code, errors, _ = built
        self.assertEqual(code, 2, errors)
        for text in ("refused", *expected):
            self.assertIn(text, errors)
        self.assertEqual(os.listdir(self.out), ["VelmoraSetup.exe"])
        self.assertEqual((self.out / "VelmoraSetup.exe").read_bytes(), b"earlier package")

    def assert_built(self, built):
        code, errors, output = built
        self.assertEqual(code, 0, errors)
        return rcdata(output)

    def test_each_bad_payload_descriptor_or_option_is_refused_naming_the_file_and_the_rule(self):
        for number, (change, *expected) in enumerate(BAD_PAYLOADS):
            with self.subTest(expected):
                payload = shutil.copytree(self.payload, self.scratch / f"payload-{number}")
                if callable(change):
                    change(payload)
                else:
                    write(payload / change)
                self.assert_refused(self.build(payload=payload), *expected)
        for number, (text, rule) in enumerate(BAD_DESCRIPTORS):
            with self.subTest(descriptor=text):
                descriptor = self.scratch / f"descriptor-{number}.txt"
                write(descriptor, text)
                self.assert_refused(self.build(descriptor=descriptor), str(descriptor), rule)
        refused = self.build("--winget", self.out / "winget", "--installer-url", "http://example.com/x")
        self.assert_refused(refused, "--installer-url must begin with https://")

    def test_more_than_64535_files_are_refused(self):
        # Empty files cost no data blocks; the count is checked before anything else.
        for i in range(65000):
            write(self.payload / f"f{i // 1000:02d}" / str(i % 1000), b"")
        self.assert_refused(self.build(), "65007 files", "at most 64535")

    def test_manifest_over_one_mebibyte_is_refused_and_one_of_exactly_that_size_builds(self):
        # About 3,500 lines of 300 bytes; names are then shortened until the manifest
        # is one byte over the limit, and then exactly at it.
        folder = self.payload / ("d" * 200)
        for i in range(3520):
            write(folder / f"{i:05d}{'x' * 20}", b"z")
        built = self.build()
        excess = int(re.search(r"would be (\d+) bytes", built[1]).group(1)) - (1 << 20)
        for over, names_cut in ((1, excess - 1), (0, 1)):
            for path in sorted(folder.iterdir()):
                take = min(names_cut, len(path.name) - 5)
                if take > 0:
                    path.rename(path.with_name(path.name[:-take]))
                    names_cut -= take
            built = self.build("--no-descriptor")
            if over:
                self.assert_refused(built, "would be 1048577 bytes")
        resources = self.assert_built(built)
        self.assertEqual((len(resources[1000]), 999 in resources, 101 in resources), (1 << 20, False, True))

    def test_carries_the_payload_as_hashed_describes_it_to_package_managers_and_is_reproducible(self):
        # The resource compiler is the last to read the payload: a file changed just
        # before it runs must not make the package disagree with its own manifest.
        expected = {rel: hashlib.sha256(data).hexdigest().upper() for rel, data in PAYLOAD.items()}
        shim = self.scratch / "bin" / "x86_64-w64-mingw32-windres"
        write(shim, f'#!/bin/sh\nprintf changed > "{self.payload / "signatures.dat"}"\n'
                    f'exec "{shutil.which(shim.name)}" "$@"\n')
        shim.chmod(0o755)
        url = "https://downloads.example.com/VelmoraSetup-1.0.1.exe"
        with mock.patch.dict(os.environ, PATH=f"{shim.parent}:{os.environ['PATH']}"):
            built = self.build("--winget", self.out / "winget", "--installer-url", url)
        self.assertEqual((self.payload / "signatures.dat").read_bytes(), b"changed")
        resources = self.assert_built(built)
        text = resources[1000].decode("utf-8")
        # No byte-order mark, no empty line.
        self.assertEqual((text[:4], text[-1:], "\n\n" in text), ("1001", "\n", False))
        rows = [line.split("\t") for line in text.splitlines()]
        listed = {row[1].replace("\\", "/"): (int(row[2]), row[3], resources[int(row[0])]) for row in rows}
        self.assertEqual(listed, {rel: (len(data), expected[rel], data) for rel, data in PAYLOAD.items()})
        self.assertEqual(resources[999], GOOD_DESCRIPTOR.encode())
        self.assertEqual(resources[101], (KIT / "resources" / "logo.png").read_bytes())
        self.assertEqual(set(resources), {101, 999, 1000} | set(range(1001, 1001 + len(listed))))
        package_sha256 = hashlib.sha256(built[2].read_bytes()).hexdigest().upper()
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
        self.assertEqual({f["RelativeFilePath"].replace("\\", "/"): f["FileSha256"] for f in files}, expected)
        self.assertEqual([(f["RelativeFilePath"], f["FileType"]) for f in files if "FileType" in f],
                         [("Velmora.exe", "launch")])
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
        # The same input gives the same bytes wherever payload and kit lie.
        write(self.payload / "signatures.dat", PAYLOAD["signatures.dat"])
        elsewhere = self.scratch / "elsewhere"
        shutil.copytree(self.payload, elsewhere / "copy")
        shutil.copytree(KIT, elsewhere / "kit", symlinks=True)
        for path in (elsewhere / "copy").rglob("*"):
            os.utime(path, (1, 1))
        again = self.build("--kit", elsewhere / "kit", payload=elsewhere / "copy",
                           output=self.out / "again.exe")
        self.assert_built(again)
        self.assertEqual(hashlib.sha256(again[2].read_bytes()).hexdigest().upper(), package_sha256)

    def test_signed_with_certificate_and_key_or_with_pkcs12_and_refused_with_a_wrong_password(self):
        key, cert, pfx = self.scratch / "key.pem", self.scratch / "cert.pem", self.scratch / "cert.pfx"
        self.assertTrue(*run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                             "-out", cert, "-days", "2", "-subj", "/CN=Velmora Test Signing",
                             "-addext", "extendedKeyUsage=codeSigning"))
        self.assertTrue(*run("openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx,
                             "-passout", "pass:secret"))
        sample = {"payload": SAMPLE / "payload", "descriptor": SAMPLE / "runtime-descriptor.txt"}
        verify = ("osslsigncode", "verify", "-CAfile", cert, "-in")
        self.assert_refused(self.build("--sign-pkcs12", pfx, "--sign-password", "wrong", **sample),
                            "osslsigncode failed")
        for name, signing in (("cert.exe", ("--sign-cert", cert, "--sign-key", key)),
                              ("pfx.exe", ("--sign-pkcs12", pfx, "--sign-password", "secret"))):
            with self.subTest(name):
                self.assert_built(self.build(*signing, output=self.scratch / name, **sample))
                files = Package(self.scratch / name).files
                for signed in (name, "Uninstall.exe", "Velmora.Maintenance.exe"):
                    if signed != name:
                        write(self.scratch / signed, files[signed])
                    self.assertTrue(*run(*verify, self.scratch / signed))
                # The application is not ours to sign: it is packed as given.
                self.assertEqual(files["Velmora.exe"], (sample["payload"] / "Velmora.exe").read_bytes())
                self.assertFalse(run(*verify, SAMPLE / "payload" / "Uninstall.exe")[0], "payload changed")


# Broken raw packages run under Wine: "/quiet" must end in 2 and write nothing.
class BrokenPackagesUnderWine(PrefixTestCase):
    def raw_package(self, name, manifest_lines):
        # Built raw, so that the manifest may lie: manifest_lines is a function of the correct lines.
        args, lines = [], []
        for index, (relative, data) in enumerate(placeholder_payload().items(), 1001):
            write(self.scratch / str(index), data)
            args += ["--resource", f"{index}={self.scratch / str(index)}"]
            lines.append(f"{index}\t{relative}\t{len(data)}\t{hashlib.sha256(data).hexdigest().upper()}")
        write(self.scratch / f"{name}.txt", "\n".join(manifest_lines(lines)) + "\n")
        code, errors = pack(self.scratch / f"{name}.exe", "--manifest", self.scratch / f"{name}.txt", *args)
        self.assertEqual(code, 0, errors)
        return self.scratch / f"{name}.exe"

    def test_broken_manifests_end_in_2_with_nothing_written_and_the_well_formed_one_installs(self):
        self.prefix.register_runtime()
        # Each stage once: the parser's rules and each file's checks have tests of their own.
        for name, manifest_lines in [
            ("bad-digest", lambda lines: lines[:2] + [lines[2][:-64] + "0" * 64]),
            ("bad-line", lambda lines: lines + ["1004\tthree\tfields"]),
            ("over-1-mib", lambda lines: lines[:2] + [lines[2] + "\t" + "x" * (1 << 20)]),
        ]:
            with self.subTest(name):
                self.prefix.reg_delete(UNINSTALL_KEY)  # what a failed row registered
                package = self.raw_package(name, manifest_lines)
                self.assertEqual(self.prefix.run(package, "/quiet", "/install-dir", f"C:\\velmora-{name}"), 2)
                left = [n for n in os.listdir(self.prefix.unix("C:\\")) if n.lower().startswith(f"velmora-{name}")]
                self.assertEqual((left, self.prefix.key_exists(UNINSTALL_KEY)), ([], False))
        # The refusals come from the broken parts, not from the setting.
        package = self.raw_package("well-formed", lambda lines: lines)
        self.assertEqual(self.prefix.run(package, "/quiet", "/install-dir", "C:\\velmora-good"), 0)
        self.assertEqual(installed_problems(self.prefix, "C:\\velmora-good", Package(package)), [])


if __name__ == "__main__":
    main()
