"""Support for the runtime prerequisite tests: a trusted loopback HTTPS server per test
class, the probe program that drives the download and the flow, and the stand-in
runtime installers."""
import shutil
import tempfile
from pathlib import Path

from https_server import Certificates, HttpsServer
from winetest import RUNTIME_KEY, TESTAPPS, PrefixTestCase

PROBE = TESTAPPS / "runtime-probe.exe"
STANDIN_LOG = r"C:\users\Public\standin-runtime.log"


def standin(variant):
    """The stand-in runtime installer exiting with variant's code (ok, noregister: 0, unregistered)."""
    return TESTAPPS / f"runtime-installer-{variant}.exe"


class ProbeResult:
    """The probe's lines: "progress FRACTION TEXT" in their order, and one "KEY VALUE" per fact."""

    def __init__(self, completed):
        self.code, self.output = completed.returncode, completed.stdout
        pairs = [line.split(" ", 1) for line in completed.stdout.splitlines()]
        self.facts = {key: value for key, value in pairs if key != "progress"}
        self.progress = [(float(fraction), text) for key, value in pairs if key == "progress"
                         for fraction, text in [value.split(" ", 1)]]
        self.ok = self.facts.get("result") == "1"
        self.message = self.facts.get("message")
        self.posted = len(self.progress)


class RuntimeServerTestCase(PrefixTestCase):
    """A prefix that trusts a fresh test CA, and an HTTPS server for it serving cls.served."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.work = Path(tempfile.mkdtemp(prefix="velmora-runtime-"))
        cls.addClassCleanup(shutil.rmtree, cls.work, True)
        cls.served = cls.work / "served"
        cls.served.mkdir()
        cls.certificates = Certificates(cls.work / "certs")
        cls.certificates.trust_in(cls.prefix)
        cls.server = HttpsServer(cls.served, cls.certificates)
        cls.addClassCleanup(cls.server.close)

    def probe(self, *args, program=PROBE, env=None):
        return ProbeResult(self.prefix.run_raw([program, *args], env=env))

    def clear_runtime(self):
        self.prefix.reg_delete(RUNTIME_KEY)
