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
    """The stand-in runtime installer that exits with variant's code (ok = 0;
    noregister = 0 without registering)."""
    return TESTAPPS / f"runtime-installer-{variant}.exe"


class ProbeResult:
    def __init__(self, completed):
        self.code = completed.returncode
        self.output = completed.stdout
        self.progress = []
        self.facts = {}
        for line in completed.stdout.splitlines():
            key, _, value = line.partition(" ")
            if key == "progress":
                fraction, _, text = value.partition(" ")
                self.progress.append((float(fraction), text))
            else:
                self.facts[key] = value
        self.ok = self.facts.get("result") == "1"
        self.message = self.facts.get("message")
        self.posted = int(self.facts.get("posted", "-1"))


class RuntimeServerTestCase(PrefixTestCase):
    """A prefix that trusts a fresh test CA, and an HTTPS server for it serving
    cls.served (a scratch folder)."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.work = Path(tempfile.mkdtemp(prefix="velmora-runtime-"))
        cls.served = cls.work / "served"
        cls.served.mkdir()
        cls.certificates = Certificates(cls.work / "certs")
        cls.certificates.trust_in(cls.prefix)
        cls.server = HttpsServer(cls.served, cls.certificates)

    @classmethod
    def tearDownClass(cls):
        cls.server.close()
        shutil.rmtree(cls.work, ignore_errors=True)
        super().tearDownClass()

    def probe(self, *args, program=PROBE, timeout=120, env=None):
        return ProbeResult(self.prefix.run_raw([program, *args], timeout=timeout, env=env))

    def flow_program(self, descriptor):
        """A copy of the probe carrying descriptor (bytes) as its runtime descriptor, or none."""
        program = self.scratch / "setup-probe.exe"
        shutil.copy(PROBE, program)
        if descriptor is not None:
            source = self.scratch / "descriptor.txt"
            source.write_bytes(descriptor)
            embedded = self.probe("set-descriptor", self.prefix.windows_of(program), self.prefix.windows_of(source))
            assert embedded.code == 0, embedded.output
        return program

    def clear_runtime(self):
        self.prefix.reg_delete(RUNTIME_KEY)
