"""Silent installs of small setup packages whose runtime descriptor points at the
loopback server: the real setup program fetches, verifies and runs the stand-in
runtime installer before it installs anything."""
import hashlib
import os
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from runtime_support import STANDIN_LOG, RuntimeServerTestCase, standin  # noqa: E402
from winetest import OUT, RUNTIME_KEY, TESTAPPS, UNINSTALL_KEY, main, pack  # noqa: E402

TEMP = r"C:\ProgramData\Velmora\installer-temp"


class QuietInstallWithRuntime(RuntimeServerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        payload = cls.work / "payload"
        payload.mkdir()
        shutil.copy(TESTAPPS / "Velmora.exe", payload / "Velmora.exe")
        shutil.copy(OUT / "Uninstall.exe", payload / "Uninstall.exe")
        shutil.copy(OUT / "Velmora.Maintenance.exe", payload / "Velmora.Maintenance.exe")
        cls.packages = {}
        for variant in ("ok", "1641", "short"):
            data = standin("ok" if variant == "short" else variant).read_bytes()
            size_and_digest = f"{len(data)}\t{hashlib.sha256(data).hexdigest()}\n"
            (cls.served / f"{variant}.exe").write_bytes(data[:-1] if variant == "short" else data)
            descriptor = cls.work / f"{variant}.txt"
            descriptor.write_text(f"{cls.server.url(variant + '.exe')}\t{size_and_digest}")
            package = cls.work / f"setup-{variant}.exe"
            code, errors = pack(package, "--payload", payload, "--runtime-descriptor", descriptor)
            assert code == 0, errors
            cls.packages[variant] = package

    def setUp(self):
        super().setUp()
        self.clear_runtime()
        self.prefix.reg_delete(UNINSTALL_KEY)
        log = self.prefix.unix(STANDIN_LOG)
        if log.exists():
            log.unlink()
        self.server.requests.clear()

    def install(self, variant, folder):
        return self.prefix.run(self.packages[variant], "/quiet", "/install-dir", folder, timeout=180)

    def runs(self):
        log = self.prefix.unix(STANDIN_LOG)
        return log.read_text(encoding="utf-8").splitlines() if log.exists() else []

    def test_a_missing_runtime_comes_first_and_its_failure_stops_the_install_before_any_file(self):
        # Which failure stops the flow is the prerequisite tests' business: one stands for
        # all, and 1641 (a restart already started) must stop before anything is staged.
        for variant, code, runs in [("ok", 0, 1), ("1641", 2, 1), ("short", 2, 0)]:
            with self.subTest(variant):
                self.setUp()
                folder = rf"C:\Apps\Velmora-{variant}"
                self.assertEqual(self.install(variant, folder), code)
                self.assertEqual(len(self.runs()), runs)
                if code == 0:
                    self.assertTrue(self.prefix.key_exists(RUNTIME_KEY + r"\8.0.11"))
                self.assertEqual(self.prefix.exists(folder + r"\Velmora.exe"), code == 0)
                apps = self.prefix.unix(r"C:\Apps")
                left = sorted(n for n in os.listdir(apps) if n.startswith(f"Velmora-{variant}"))
                self.assertEqual(left, [f"Velmora-{variant}"] if code == 0 else [], "no folder, staging or backup")
                self.assertEqual(self.prefix.key_exists(UNINSTALL_KEY), code == 0)
                self.assertEqual(self.prefix.listing(TEMP), [])


if __name__ == "__main__":
    main()
