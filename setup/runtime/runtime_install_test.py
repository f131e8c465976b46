"""Silent installs of small setup packages whose runtime descriptor points at the
loopback server: the real setup program fetches, verifies and runs the stand-in
runtime installer before it installs anything."""
import hashlib
import os
import shutil
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from runtime_support import STANDIN_LOG, RuntimeServerTestCase, standin  # noqa: E402
from winetest import OUT, RUNTIME_KEY, SOURCE, TESTAPPS, UNINSTALL_KEY, main, pack  # noqa: E402

TEMP = r"C:\ProgramData\Velmora\installer-temp"
TRANSACTION = SOURCE / "setup" / "engine" / "install_transaction.cpp"
TRANSACTION_RUNS_FLOW = "EnsureDesktopRuntime" in TRANSACTION.read_text(encoding="utf-8")


@unittest.skipUnless(TRANSACTION_RUNS_FLOW, "this build's install transaction does not run the runtime flow yet")
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
        for variant, served in [("ok", "ok.exe"), ("1603", "1603.exe"), ("1641", "1641.exe"), ("short", "short.exe")]:
            data = standin("ok" if variant == "short" else variant).read_bytes()
            (cls.served / served).write_bytes(data[:-1] if variant == "short" else data)
            descriptor = cls.work / f"{variant}.txt"
            descriptor.write_text(f"{cls.server.url(served)}\t{len(data)}\t{hashlib.sha256(data).hexdigest()}\n")
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

    def test_missing_runtime_is_downloaded_and_installed_first(self):
        folder = r"C:\Apps\Velmora"
        self.assertEqual(self.install("ok", folder), 0)
        self.assertEqual(len(self.runs()), 1)
        self.assertTrue(self.prefix.key_exists(RUNTIME_KEY + r"\8.0.11"))
        self.assertTrue(self.prefix.exists(folder + r"\Velmora.exe"))
        self.assertEqual(self.prefix.listing(TEMP), [])

    def test_present_runtime_is_not_fetched(self):
        self.prefix.register_runtime()
        self.assertEqual(self.install("ok", r"C:\Apps\Present"), 0)
        self.assertEqual(self.server.requests, [])
        self.assertEqual(self.runs(), [])

    def test_runtime_failures_stop_the_install_before_any_file(self):
        # 1641: the runtime's installer has started a restart; nothing may be staged.
        for variant, runs in [("1603", 1), ("1641", 1), ("short", 0)]:
            with self.subTest(variant):
                self.setUp()
                folder = rf"C:\Apps\Failed-{variant}"
                self.assertEqual(self.install(variant, folder), 2)
                self.assertEqual(len(self.runs()), runs)
                apps = self.prefix.unix(r"C:\Apps")
                left = [n for n in os.listdir(apps) if n.startswith(f"Failed-{variant}")] if apps.exists() else []
                self.assertEqual(left, [], "no folder, staging or backup")
                self.assertFalse(self.prefix.key_exists(UNINSTALL_KEY))
                self.assertEqual(self.prefix.listing(TEMP), [])


if __name__ == "__main__":
    main()
