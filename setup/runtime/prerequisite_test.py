"""The runtime prerequisite, run by the probe program in a prefix that trusts the loopback
server's test CA: the HTTPS download on its own, and the whole flow with a descriptor embedded
in the probe's own copy, the server delivering a stand-in runtime installer."""
import hashlib
import os
import shutil

from https_server import Certificates, HttpsServer
from runtime_support import PROBE, STANDIN_LOG, RuntimeServerTestCase, standin
from winetest import RUNTIME_KEY, fill_and_snapshot, main, snapshot

SIZE = 300_000
DESTINATION = r"C:\downloads\package.bin"
TEMP = r"C:\ProgramData\Velmora\installer-temp"
SHARED_TEMP = r"C:\Shared Data\Velmora\installer-temp"
MISSING = "Information for a required component is missing. Download setup again."
NO_TEMP = "The installer could not create its temporary directory."
NOT_INSTALLED = "A required component could not be installed. Try again."
RESTARTING = ("Windows is restarting to finish installing the desktop runtime. Run setup again after the "
              "restart.")
UNTOUCHED = "<untouched>"
VARIANTS = ("ok", "3010", "1641", "1603", "1602", "noregister")


class Runtime(RuntimeServerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        for variant in VARIANTS:
            shutil.copy(standin(variant), cls.served / f"{variant}.exe")
        ok = bytearray((cls.served / "ok.exe").read_bytes())
        ok[len(ok) // 2] ^= 0x01
        (cls.served / "flipped.exe").write_bytes(ok)
        cls.data = os.urandom(SIZE)
        (cls.served / "package.bin").write_bytes(cls.data)
        (cls.served / "long.bin").write_bytes(cls.data + b"x")
        cls.big = os.urandom(4 * SIZE)
        (cls.served / "big.bin").write_bytes(cls.big)

    def setUp(self):
        super().setUp()
        self.clear_runtime()
        shutil.rmtree(self.prefix.unix(r"C:\ProgramData\Velmora"), ignore_errors=True)
        self.prefix.unix(STANDIN_LOG).unlink(missing_ok=True)
        target = self.prefix.unix(DESTINATION)
        target.parent.mkdir(parents=True, exist_ok=True)
        target.unlink(missing_ok=True)
        self.server.requests.clear()

    def download(self, url, *options, size=SIZE):
        return self.probe("download", url, size, DESTINATION, *options)

    def written(self):
        path = self.prefix.unix(DESTINATION)
        return path.read_bytes() if path.exists() else None

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

    def test_query_string_reaches_the_server_and_progress_ends_at_0_32(self):
        # The fragment never leaves the client. Over 1 MiB: a system that fills whole 1 MiB
        # reads still posts twice.
        url = self.server.url("big.bin?channel=8.0&arch=x64#frag")
        result = self.download(url, "--progress", size=4 * SIZE)
        self.assertTrue(result.ok, result.output)
        self.assertEqual(self.server.requests, ["/big.bin?channel=8.0&arch=x64"])
        self.assertEqual(self.written(), self.big)
        fractions = [fraction for fraction, _ in result.progress]
        self.assertEqual(fractions, sorted(fractions))
        self.assertTrue(len(fractions) >= 2 and fractions[0] > 0.1, fractions)
        self.assertAlmostEqual(fractions[-1], 0.32, places=6)
        self.assertEqual({text for _, text in result.progress}, {"Downloading required components"})

    def test_a_stalling_or_silent_server_is_not_waited_for(self):
        # Far more than the descriptor says, then a stall: the download ends once the size is passed.
        # Half the body, then a stall: the receive time-out. No answer: the real 30-second one.
        for path, size, options, seconds, at_most in [
                (f"stall/{4 * SIZE}/big.bin", SIZE // 10, [], (0, 15), SIZE // 10 + 65536),
                (f"stall/{SIZE // 2}/package.bin", SIZE, ["--receive-timeout", "2000"], (0, 15), SIZE // 2),
                ("silent", SIZE, [], (25, 36), 0)]:
            with self.subTest(path):
                self.setUp()
                result = self.download(self.server.url(path), *options, size=size)
                self.assertFalse(result.ok, result.output)
                self.assertTrue(seconds[0] < float(result.facts["elapsed"]) < seconds[1], result.output)
                self.assertLessEqual(len(self.written() or b""), at_most)

    def test_what_the_download_accepts_and_what_it_leaves(self):
        stranger = HttpsServer(self.served, Certificates(self.work / "untrusted", "Untrusted Test CA"))
        self.addCleanup(stranger.close)
        url, data, half, third = self.server.url, self.data, SIZE // 2, SIZE // 3
        # (name, url, destination before, succeeds, destination after, requests the server saw)
        cases = [
            ("no length announced", url("nolength/package.bin"), None, True, data, None),
            ("one byte long: the passing chunk is written", url("long.bin"), None, False, data + b"x", None),
            ("announced, not sent in full", url(f"short/{half}/package.bin"), None, False, data[:half], None),
            ("announces less", url(f"long/{third}/package.bin"), None, False, data[:third], None),
            ("https redirect", url("redirect/package.bin"), None, True, data,
             ["/redirect/package.bin", "/package.bin"]),
            ("404", url("status/404"), None, False, None, ["/status/404"]),
            ("500", url("status/500"), None, False, None, ["/status/500"]),
            ("https to http redirect", url("redirect-http/package.bin"), None, False, None,
             ["/redirect-http/package.bin"]),
            ("plain http", f"http://localhost:{self.server.plain_port}/package.bin", None, False, None, []),
            ("untrusted certificate", stranger.url("package.bin"), None, False, None, []),
            ("existing destination", url("package.bin"), b"earlier", False, b"earlier", None),
        ]
        for name, url, before, succeeds, after, requests in cases:
            with self.subTest(name):
                self.setUp()
                if before is not None:
                    self.prefix.unix(DESTINATION).write_bytes(before)
                result = self.download(url)  # without a progress target
                self.assertEqual(result.ok, succeeds, result.output)
                self.assertEqual(self.written(), after)
                self.assertEqual(result.posted, 0)
                if requests is not None:
                    self.assertEqual(self.server.requests, requests)
        self.assertEqual(self.server.plain_requests, [], "no plain request, not even after a redirect")
        self.assertEqual(stranger.requests, [])

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
                self.assertEqual(os.listdir(self.prefix.unix(folder)), [])  # the folder stays, empty
                # The download's own steps lie between these: the download tests check them.
                self.assertEqual([result.progress[0], result.progress[-1]], [
                    (0.1, "Downloading required components"), (0.32, "Installing required components")])
        self.assertEqual(snapshot(beside), before)

    def test_a_package_failing_verification_never_runs_and_texts_follow_the_language(self):
        chinese = self.prefix.in_locale("zh_CN.UTF-8")
        self.assertEqual(self.ensure(None, env=chinese).message, "必要组件信息缺失，请重新下载安装程序。")
        # Right size, one byte flipped (a short download is the install tests' case): deleted, never run.
        result = self.ensure(self.descriptor("flipped.exe"), env=chinese)
        self.assertEqual((result.ok, result.message, self.prefix.exists(STANDIN_LOG)),
                         (False, "必要组件未能安全下载，请检查网络后重试。", False))
        self.assertEqual(os.listdir(self.prefix.unix(TEMP)), [])
        result = self.ensure(self.descriptor("noregister.exe", "noregister"), "--progress", env=chinese)
        self.assertEqual((result.message, result.progress[0], result.progress[-1]),
                         ("必要组件未能安装，请重试。", (0.1, "正在下载必要组件"), (0.32, "正在安装必要组件")))


if __name__ == "__main__":
    main()
