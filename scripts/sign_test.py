"""Authenticode signing by the package builder: the package and our programs inside it
are signed and verify; without a key the output is unsigned."""
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "testing"))
from install_support import Package  # noqa: E402
from winetest import BUILD, main, pack  # noqa: E402

PAYLOAD = BUILD / "sample" / "payload"
DESCRIPTOR = BUILD / "sample" / "runtime-descriptor.txt"
OURS = ("Uninstall.exe", "Velmora.Maintenance.exe")


def run(*command):
    return subprocess.run([str(c) for c in command], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def verifies(path, ca):
    result = run("osslsigncode", "verify", "-CAfile", ca, "-in", path)
    return result.returncode == 0, result.stdout


class Signing(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.work = Path(tempfile.mkdtemp(prefix="velmora-sign-"))
        cls.key, cls.cert, cls.pfx = cls.work / "key.pem", cls.work / "cert.pem", cls.work / "cert.pfx"
        made = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", cls.key, "-out", cls.cert,
                   "-days", "2", "-subj", "/CN=Velmora Test Signing", "-addext", "extendedKeyUsage=codeSigning")
        assert made.returncode == 0, made.stdout
        made = run("openssl", "pkcs12", "-export", "-inkey", cls.key, "-in", cls.cert, "-out", cls.pfx,
                   "-passout", "pass:secret")
        assert made.returncode == 0, made.stdout

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def build(self, name, *signing):
        output = self.work / name
        code, errors = pack(output, "--payload", PAYLOAD, "--runtime-descriptor", DESCRIPTOR, *signing)
        self.assertEqual(code, 0, errors)
        return output

    def test_signed_with_certificate_and_key_or_with_pkcs12(self):
        for name, signing in (("cert.exe", ("--sign-cert", self.cert, "--sign-key", self.key)),
                              ("pfx.exe", ("--sign-pkcs12", self.pfx, "--sign-password", "secret"))):
            with self.subTest(name):
                package = self.build(name, *signing)
                ok, text = verifies(package, self.cert)
                self.assertTrue(ok, text)
                files = Package(package).files
                for inner in OURS:
                    (self.work / inner).write_bytes(files[inner])
                    ok, text = verifies(self.work / inner, self.cert)
                    self.assertTrue(ok, f"{inner}: {text}")
                # The application is not ours to sign: it is packed as given.
                self.assertEqual(files["Velmora.exe"], (PAYLOAD / "Velmora.exe").read_bytes())
                self.assertFalse(verifies(PAYLOAD / "Uninstall.exe", self.cert)[0], "the payload folder was changed")

    def test_unsigned_stays_the_default(self):
        first = self.build("plain.exe")  # reproducible: pack_test
        ok, _ = verifies(first, self.cert)
        self.assertFalse(ok)
        files = Package(first).files
        for name in OURS:
            self.assertEqual(files[name], (PAYLOAD / name).read_bytes())

    def test_a_wrong_password_writes_nothing(self):
        output = self.work / "refused.exe"
        code, errors = pack(output, "--payload", PAYLOAD, "--runtime-descriptor", DESCRIPTOR,
                            "--sign-pkcs12", self.pfx, "--sign-password", "wrong")
        self.assertEqual(code, 2, errors)
        self.assertFalse(output.exists())
        self.assertEqual([p.name for p in self.work.glob(".refused.exe*")], [])


if __name__ == "__main__":
    main()
