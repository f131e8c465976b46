"""The HTTPS download of the runtime package, run by the probe program in a prefix
that trusts the loopback server's test CA."""
import os
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "testing"))
from https_server import Certificates, HttpsServer  # noqa: E402
from runtime_support import RuntimeServerTestCase  # noqa: E402
from winetest import main  # noqa: E402

SIZE = 300_000
DESTINATION = r"C:\downloads\package.bin"
DOWNLOADING = "Downloading required components"


class Download(RuntimeServerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.data = os.urandom(SIZE)
        (cls.served / "package.bin").write_bytes(cls.data)
        (cls.served / "long.bin").write_bytes(cls.data + b"x")
        (cls.served / "short.bin").write_bytes(cls.data[:-1])
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
        # (url path, what the server must see): the fragment never leaves the client. Over
        # 1 MiB: a system that fills whole 1 MiB reads still posts twice.
        for path, requested in [("big.bin?y=1#frag", "/big.bin?y=1"),
                                ("big.bin?channel=8.0&arch=x64", "/big.bin?channel=8.0&arch=x64")]:
            self.setUp()
            result = self.download(self.server.url(path), "--progress", size=4 * SIZE)
            self.assertTrue(result.ok, result.output)
            self.assertEqual(self.server.requests, [requested])
        self.assertEqual(self.written(), self.big)
        fractions = [fraction for fraction, _ in result.progress]
        self.assertGreaterEqual(len(fractions), 2)
        self.assertEqual(fractions, sorted(fractions))
        self.assertGreater(fractions[0], 0.1)
        self.assertAlmostEqual(fractions[-1], 0.32, places=6)
        self.assertEqual({text for _, text in result.progress}, {DOWNLOADING})
        self.assertEqual(result.posted, len(fractions))

    def test_body_length_is_what_the_descriptor_says(self):
        # (path, succeeds, bytes left in the file)
        cases = [
            ("nolength/package.bin", True, SIZE),          # no Content-Length: the descriptor counts
            ("long.bin", False, SIZE + 1),                 # one byte long: the passing chunk is written, then cut
            ("short.bin", False, SIZE - 1),                # one byte short: fails at the end
            (f"short/{SIZE // 2}/package.bin", False, SIZE // 2),  # announced but never sent in full
            (f"long/{SIZE // 3}/package.bin", False, SIZE // 3),   # announces less than the descriptor
        ]
        for path, succeeds, left in cases:
            with self.subTest(path=path):
                self.setUp()
                result = self.download(self.server.url(path))
                self.assertEqual(result.ok, succeeds, result.output)
                self.assertEqual(len(self.written() or b""), left)

    def test_a_body_longer_than_the_descriptor_is_cut_off_at_once(self):
        # The server sends far more than announced by the descriptor, then stalls:
        # the download must end when the size is passed, not wait for the server.
        result = self.download(self.server.url(f"stall/{4 * SIZE}/big.bin"), size=SIZE // 10)
        self.assertFalse(result.ok, result.output)
        self.assertLess(float(result.facts["elapsed"]), 15)
        self.assertLessEqual(len(self.written()), SIZE // 10 + 65536)

    def test_where_the_download_may_go_and_what_it_leaves(self):
        stranger = HttpsServer(self.served, Certificates(self.work / "untrusted", "Untrusted Test CA"))
        self.addCleanup(stranger.close)
        plain = f"http://localhost:{self.server.plain_port}/package.bin"
        # (name, url, destination before, succeeds, destination after, requests the server saw)
        cases = [
            ("https redirect", self.server.url("redirect/package.bin"), None, True, self.data,
             ["/redirect/package.bin", "/package.bin"]),
            ("404", self.server.url("status/404"), None, False, None, ["/status/404"]),
            ("500", self.server.url("status/500"), None, False, None, ["/status/500"]),
            ("missing file", self.server.url("nothing-here.bin"), None, False, None, ["/nothing-here.bin"]),
            ("https to http redirect", self.server.url("redirect-http/package.bin"), None, False, None,
             ["/redirect-http/package.bin"]),
            ("plain http", plain, None, False, None, []),
            ("untrusted certificate", stranger.url("package.bin"), None, False, None, []),
            ("existing destination", self.server.url("package.bin"), b"earlier", False, b"earlier", None),
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

    def test_a_stall_in_the_body_ends_with_the_receive_time_out(self):
        result = self.download(self.server.url(f"stall/{SIZE // 2}/package.bin"), "--receive-timeout", "2000")
        self.assertFalse(result.ok, result.output)
        self.assertLess(float(result.facts["elapsed"]), 20)

    def test_a_server_that_never_answers_ends_after_the_real_30_second_time_out(self):
        result = self.download(self.server.url("silent"), "--progress")
        self.assertFalse(result.ok, result.output)
        self.assertGreater(float(result.facts["elapsed"]), 25)
        self.assertLess(float(result.facts["elapsed"]), 36)
        self.assertEqual(result.posted, 0)
        self.assertIsNone(self.written())


if __name__ == "__main__":
    main()
