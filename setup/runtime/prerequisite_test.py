"""The runtime prerequisite flow: the probe program runs it with a descriptor embedded in its
own copy; the loopback server delivers a stand-in runtime installer."""
import hashlib
import os
import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from runtime_support import PROBE, STANDIN_LOG, RuntimeServerTestCase, standin  # noqa: E402
from winetest import RUNTIME_KEY, fill_and_snapshot, main, snapshot  # noqa: E402

TEMP = r"C:\ProgramData\Velmora\installer-temp"
MISSING = "Information for a required component is missing. Download setup again."
NO_TEMP = "The installer could not create its temporary directory."
UNSAFE = "A required component could not be downloaded safely. Check the network and try again."
NOT_INSTALLED = "A required component could not be installed. Try again."
RESTARTING = ("Windows is restarting to finish installing the desktop runtime. Run setup again after the "
              "restart.")
UNTOUCHED = "<untouched>"
VARIANTS = ("ok", "3010", "1641", "1603", "1602", "noregister")


class PrerequisiteFlow(RuntimeServerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.installers = {}
        for variant in VARIANTS:
            data = standin(variant).read_bytes()
            (cls.served / f"{variant}.exe").write_bytes(data)
            cls.installers[variant] = (len(data), hashlib.sha256(data).hexdigest().upper())
        ok = bytearray((cls.served / "ok.exe").read_bytes())
        (cls.served / "short.exe").write_bytes(ok[:-1])
        ok[len(ok) // 2] ^= 0x01
        (cls.served / "flipped.exe").write_bytes(ok)

    def setUp(self):
        super().setUp()
        self.clear_runtime()
        shutil.rmtree(self.prefix.unix(r"C:\ProgramData\Velmora"), ignore_errors=True)
        self.prefix.unix(STANDIN_LOG).unlink(missing_ok=True)
        self.server.requests.clear()

    def descriptor(self, served_name, variant="ok", digest=None, ending="\r\n"):
        size, sha = self.installers[variant]
        return f"{self.server.url(served_name)}\t{size}\t{digest or sha}{ending}".encode()

    def ensure(self, descriptor, *options, env=None):
        return self.probe("ensure", *options, program=self.flow_program(descriptor), env=env)

    def installer_runs(self):
        log = self.prefix.unix(STANDIN_LOG)
        return log.read_text(encoding="utf-8").splitlines() if log.exists() else []

    def assert_no_package_left(self, folder=TEMP):
        self.assertTrue(self.prefix.exists(folder), "the temporary folder stays")
        self.assertEqual(self.prefix.listing(folder), [])

    def test_a_present_runtime_or_a_missing_or_invalid_descriptor_touches_nothing(self):
        size, sha = self.installers["ok"]
        # (name, descriptor, succeeds, message)
        cases = [
            ("runtime present", self.descriptor("ok.exe"), True, UNTOUCHED),
            ("no resource", None, False, MISSING),
            ("plain http", f"http://localhost:{self.server.plain_port}/ok.exe\t{size}\t{sha}".encode(), False, MISSING),
            ("byte-order mark", b"\xef\xbb\xbf" + self.descriptor("ok.exe"), False, MISSING),
            ("not UTF-8", self.descriptor("ok.exe").replace(b"\t", b"\t\xff", 1), False, MISSING),
        ]
        for name, descriptor, succeeds, message in cases:
            with self.subTest(name):
                if succeeds:
                    self.prefix.register_runtime("8.0.2")
                result = self.ensure(descriptor, "--progress")
                self.clear_runtime()
                self.assertEqual(result.ok, succeeds, result.output)
                self.assertEqual(result.message, message)
                self.assertEqual(result.posted, 0)
                self.assertFalse(self.prefix.exists(r"C:\ProgramData\Velmora"))
        self.assertEqual(self.server.requests, [])

    def test_the_installers_exit_code_and_the_registry_afterwards_decide(self):
        # The failing stand-ins register the runtime before they fail: only the exit
        # code can make the flow fail.
        for variant, message in [("ok", UNTOUCHED), ("3010", UNTOUCHED), ("1603", NOT_INSTALLED),
                                 ("1602", NOT_INSTALLED), ("noregister", NOT_INSTALLED), ("1641", RESTARTING)]:
            with self.subTest(variant):
                self.setUp()
                result = self.ensure(self.descriptor(f"{variant}.exe", variant), "--progress")
                self.assertEqual(result.ok, message == UNTOUCHED, result.output)
                self.assertEqual(result.message, message)
                package = rf"{TEMP}\windowsdesktop-runtime-{result.facts['pid']}.download"
                self.assertEqual(self.installer_runs(), [f'{package}|"{package}" /install /quiet /norestart|show=0'])
                if result.ok:
                    self.assertTrue(self.prefix.key_exists(RUNTIME_KEY + r"\8.0.11"))
                self.assert_no_package_left()
                self.assertEqual(result.progress[0], (0.1, "Downloading required components"))
                self.assertEqual(result.progress[-1], (0.32, "Installing required components"))
                self.assertEqual({text for _, text in result.progress[:-1]}, {"Downloading required components"})
                fractions = [fraction for fraction, _ in result.progress]
                self.assertEqual(fractions, sorted(fractions))

    def test_unsafe_downloads_are_deleted_and_never_run(self):
        # How a download fails is the download tests' business; the digest check is the flow's.
        cases = [
            ("one byte short", self.descriptor("short.exe")),
            ("one wrong byte", self.descriptor("flipped.exe")),
            ("wrong digest", self.descriptor("ok.exe", digest="0" * 64)),
        ]
        for name, descriptor in cases:
            with self.subTest(name):
                self.setUp()
                result = self.ensure(descriptor)
                self.assertFalse(result.ok)
                self.assertEqual(result.message, UNSAFE)
                self.assertEqual(self.installer_runs(), [])
                self.assert_no_package_left()

    def test_digest_letter_case_does_not_matter_and_a_stale_package_is_replaced(self):
        sha = self.installers["ok"][1]
        for name, digest, options in [("lower case", sha.lower(), ["--stale"]),
                                      ("mixed case", sha[:32].lower() + sha[32:], [])]:
            with self.subTest(name):
                self.setUp()
                result = self.ensure(self.descriptor("ok.exe", digest=digest, ending=""), *options)
                self.assertTrue(result.ok, result.output)
                self.assert_no_package_left()

    def test_temporary_folder_follows_program_data_and_leaves_what_is_beside_it(self):
        beside = self.prefix.unix(r"C:\Shared Data\Velmora")
        before = fill_and_snapshot(beside)
        cases = [
            ("set", ["--program-data", r"C:\Shared Data"], r"C:\Shared Data\Velmora\installer-temp"),
            ("unset", ["--no-program-data"], TEMP),
        ]
        for name, options, folder in cases:
            with self.subTest(name):
                self.setUp()
                result = self.ensure(self.descriptor("ok.exe"), *options)
                self.assertTrue(result.ok, result.output)
                package = rf"{folder}\windowsdesktop-runtime-{result.facts['pid']}.download"
                self.assertTrue(self.installer_runs()[0].startswith(package + "|"))
                self.assert_no_package_left(folder)
        self.assertEqual(snapshot(beside), before)

    def test_a_temporary_folder_that_cannot_be_made_safely_stops_before_the_download(self):
        # A file where a folder must go, or a link made in advance (by another user) at
        # either level; a link's target holds a file: Wine removes an empty one.
        target = self.prefix.unix(r"C:\elsewhere")
        target.mkdir()
        (target / "keep.txt").write_text("the link's target")
        self.prefix.unix(r"C:\blocker").write_text("a file where a folder must go")
        self.prefix.unix(r"C:\linked").mkdir()
        self.prefix.unix(r"C:\linked\Velmora").symlink_to(target, target_is_directory=True)
        self.prefix.unix(r"C:\linked-temp\Velmora").mkdir(parents=True)
        self.prefix.unix(r"C:\linked-temp\Velmora\installer-temp").symlink_to(target, target_is_directory=True)
        for program_data in (r"C:\blocker", r"C:\linked", r"C:\linked-temp"):
            with self.subTest(program_data):
                self.setUp()
                result = self.ensure(self.descriptor("ok.exe"), "--program-data", program_data)
                self.assertFalse(result.ok)
                self.assertEqual(result.message, NO_TEMP)
                self.assertEqual(self.server.requests, [])
        self.assertEqual(os.listdir(target), ["keep.txt"])
        self.assertTrue(self.prefix.unix(r"C:\linked-temp\Velmora\installer-temp").is_symlink())


class PrerequisiteFlowInChinese(RuntimeServerTestCase):
    locale = "zh_CN.UTF-8"

    def test_messages_and_progress_follow_the_language(self):
        data = standin("noregister").read_bytes()
        (self.served / "runtime.exe").write_bytes(data)
        line = f"{self.server.url('runtime.exe')}\t{len(data)}\t{hashlib.sha256(data).hexdigest()}"
        program = self.flow_program(line.encode())
        self.clear_runtime()
        result = self.probe("ensure", "--progress", program=program)
        self.assertFalse(result.ok)
        self.assertEqual(result.message, "必要组件未能安装，请重试。")
        self.assertEqual(result.progress[0], (0.1, "正在下载必要组件"))
        self.assertEqual(result.progress[-1], (0.32, "正在安装必要组件"))
        (self.served / "runtime.exe").write_bytes(data[:-1])
        self.assertEqual(self.probe("ensure", program=program).message, "必要组件未能安全下载，请检查网络后重试。")
        result = self.probe("ensure", program=PROBE)
        self.assertEqual(result.message, "必要组件信息缺失，请重新下载安装程序。")


if __name__ == "__main__":
    main()
