"""The runtime prerequisite flow: the probe program runs it with a descriptor embedded in its
own copy; the loopback server delivers a stand-in runtime installer."""
import hashlib
import os
import shutil

from runtime_support import PROBE, STANDIN_LOG, RuntimeServerTestCase, standin
from winetest import RUNTIME_KEY, fill_and_snapshot, main, snapshot

TEMP = r"C:\ProgramData\Velmora\installer-temp"
SHARED_TEMP = r"C:\Shared Data\Velmora\installer-temp"
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
        for variant in VARIANTS:
            shutil.copy(standin(variant), cls.served / f"{variant}.exe")
        ok = bytearray((cls.served / "ok.exe").read_bytes())
        ok[len(ok) // 2] ^= 0x01
        (cls.served / "flipped.exe").write_bytes(ok)

    def setUp(self):
        super().setUp()
        self.clear_runtime()
        shutil.rmtree(self.prefix.unix(r"C:\ProgramData\Velmora"), ignore_errors=True)
        self.prefix.unix(STANDIN_LOG).unlink(missing_ok=True)
        self.server.requests.clear()

    def descriptor(self, served_name, variant="ok"):
        data = standin(variant).read_bytes()
        digest = hashlib.sha256(data).hexdigest().upper()
        return f"{self.server.url(served_name)}\t{len(data)}\t{digest}\r\n".encode()

    def ensure(self, descriptor, *options, env=None):
        """Runs the flow in a copy of the probe that carries descriptor (bytes), or none."""
        program = self.scratch / "setup-probe.exe"
        shutil.copy(PROBE, program)
        if descriptor is not None:
            (self.scratch / "descriptor.txt").write_bytes(descriptor)
            embedded = self.probe("set-descriptor", self.prefix.windows_of(program),
                                  self.prefix.windows_of(self.scratch / "descriptor.txt"))
            self.assertEqual(embedded.code, 0, embedded.output)
        return self.probe("ensure", *options, program=program, env=env)

    def assert_no_package_left(self, folder=TEMP):
        self.assertTrue(self.prefix.exists(folder), "the temporary folder stays")
        self.assertEqual(self.prefix.listing(folder), [])

    def test_a_present_runtime_a_bad_descriptor_or_an_unsafe_temporary_folder_fetches_nothing(self):
        # A file where a folder must go, or a link made in advance (by another user) at either
        # level of the temporary folder; the links' target holds a file: Wine removes an empty one.
        target = self.prefix.unix(r"C:\elsewhere")
        target.mkdir()
        (target / "keep.txt").write_text("the link's target")
        self.prefix.unix(r"C:\blocker").write_text("a file where a folder must go")
        links = [self.prefix.unix(r"C:\linked\Velmora"), self.prefix.unix(r"C:\linked-temp\Velmora\installer-temp")]
        for link in links:
            link.parent.mkdir(parents=True)
            link.symlink_to(target, target_is_directory=True)
        ok = self.descriptor("ok.exe")
        # (name, descriptor, ProgramData, message)
        cases = [
            ("runtime present", ok, [], UNTOUCHED),
            ("no resource", None, [], MISSING),
            ("plain http", ok.replace(b"https", b"http"), [], MISSING),
            ("byte-order mark", b"\xef\xbb\xbf" + ok, [], MISSING),
            ("not UTF-8", ok.replace(b"\t", b"\t\xff", 1), [], MISSING),
            *[(folder, ok, ["--program-data", folder], NO_TEMP) for folder in
              (r"C:\blocker", r"C:\linked", r"C:\linked-temp")],
        ]
        for name, descriptor, options, message in cases:
            with self.subTest(name):
                if message == UNTOUCHED:
                    self.prefix.register_runtime("8.0.2")
                result = self.ensure(descriptor, "--progress", *options)
                self.clear_runtime()
                self.assertEqual((result.ok, result.message, result.posted),
                                 (message == UNTOUCHED, message, 0), result.output)
                self.assertFalse(self.prefix.exists(r"C:\ProgramData\Velmora"))
        self.assertEqual(self.server.requests, [])
        self.assertEqual(os.listdir(target), ["keep.txt"])
        self.assertTrue(all(link.is_symlink() for link in links))

    def test_the_installers_exit_code_and_the_registry_afterwards_decide(self):
        # The failing stand-ins register the runtime before they fail: only the exit code
        # can make the flow fail. Rows also plant a stale package of the flow's name, move
        # ProgramData (what is beside the temporary folder stays) or unset it.
        beside = self.prefix.unix(r"C:\Shared Data\Velmora")
        before = fill_and_snapshot(beside)
        for variant, message, options, folder in [
                ("ok", UNTOUCHED, ["--stale"], TEMP),
                ("3010", UNTOUCHED, ["--program-data", r"C:\Shared Data"], SHARED_TEMP),
                ("1603", NOT_INSTALLED, ["--no-program-data"], TEMP), ("1602", NOT_INSTALLED, [], TEMP),
                ("noregister", NOT_INSTALLED, [], TEMP), ("1641", RESTARTING, [], TEMP)]:
            with self.subTest(variant):
                self.setUp()
                result = self.ensure(self.descriptor(f"{variant}.exe", variant), "--progress", *options)
                self.assertEqual((result.ok, result.message), (message == UNTOUCHED, message), result.output)
                package = rf"{folder}\windowsdesktop-runtime-{result.facts['pid']}.download"
                self.assertEqual(self.prefix.unix(STANDIN_LOG).read_text(encoding="utf-8").splitlines(),
                                 [f'{package}|"{package}" /install /quiet /norestart|show=0'])
                if result.ok:
                    self.assertTrue(self.prefix.key_exists(RUNTIME_KEY + r"\8.0.11"))
                self.assert_no_package_left(folder)
                # The download's own steps lie between these: download_test checks them.
                self.assertEqual([result.progress[0], result.progress[-1]], [
                    (0.1, "Downloading required components"), (0.32, "Installing required components")])
        self.assertEqual(snapshot(beside), before)

    def test_a_package_that_fails_verification_is_deleted_and_never_run(self):
        # Right size, one byte flipped. A short download is the install tests' case.
        result = self.ensure(self.descriptor("flipped.exe"))
        self.assertEqual((result.ok, result.message, self.prefix.exists(STANDIN_LOG)), (False, UNSAFE, False))
        self.assert_no_package_left()

    def test_messages_and_progress_follow_the_language(self):
        chinese = self.prefix.in_locale("zh_CN.UTF-8")
        result = self.ensure(self.descriptor("noregister.exe", "noregister"), "--progress", env=chinese)
        self.assertEqual((result.message, result.progress[0], result.progress[-1]),
                         ("必要组件未能安装，请重试。", (0.1, "正在下载必要组件"), (0.32, "正在安装必要组件")))
        self.assertEqual(self.ensure(self.descriptor("flipped.exe"), env=chinese).message,
                         "必要组件未能安全下载，请检查网络后重试。")
        self.assertEqual(self.ensure(None, env=chinese).message, "必要组件信息缺失，请重新下载安装程序。")


if __name__ == "__main__":
    main()
