"""The HTTPS download of the runtime package, run by the probe program in a prefix
that trusts the loopback server's test CA."""
import os

from https_server import Certificates, HttpsServer
from runtime_support import RuntimeServerTestCase
from winetest import main

SIZE = 300_000
DESTINATION = r"C:\downloads\package.bin"


class Download(RuntimeServerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.data = os.urandom(SIZE)
        (cls.served / "package.bin").write_bytes(cls.data)
        (cls.served / "long.bin").write_bytes(cls.data + b"x")
        cls.big = os.urandom(4 * SIZE)
        (cls.served / "big.bin").write_bytes(cls.big)

    def setUp(self):
        super().setUp()
        target = self.prefix.unix(DESTINATION)
        target.parent.mkdir(parents=True, exist_ok=True)
        target.unlink(missing_ok=True)
        self.server.requests.clear()

    def download(self, url, *options, size=SIZE):
        return self.probe("download", url, size, DESTINATION, *options)

    def written(self):
        path = self.prefix.unix(DESTINATION)
        return path.read_bytes() if path.exists() else None

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


if __name__ == "__main__":
    main()
