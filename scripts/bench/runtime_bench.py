"""The download benchmark behind scripts/bench-runtime: the probe program (the setup's
own download code) and curl fetch the same file from the same loopback HTTPS server,
alternately, and the medians are compared."""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from https_server import Certificates, HttpsServer
from runtime_support import PROBE, ProbeResult
from winetest import WinePrefix

MIB = 1 << 20


def make_file(path, size):
    with open(path, "wb") as f:
        block = os.urandom(4 * MIB)
        for _ in range(size // len(block)):
            f.write(block)
        f.write(block[: size % len(block)])


def curl_seconds(server, certificates, target):
    result = subprocess.run(["curl", "-s", "-o", str(target), "-w", "%{time_total}", "--cacert",
                             str(certificates.ca), server.url("payload.bin")],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, check=True)
    return float(result.stdout)


def probe_seconds(prefix, server, size, progress):
    target = prefix.unix(r"C:\bench.bin")
    if target.exists():
        target.unlink()
    options = ["--progress"] if progress else []
    started = time.perf_counter()
    result = ProbeResult(prefix.run_raw([PROBE, "download", server.url("payload.bin"), size, r"C:\bench.bin",
                                         *options], timeout=600))
    wall = time.perf_counter() - started
    if not result.ok or target.stat().st_size != size:
        raise RuntimeError(f"the probe's download failed:\n{result.output}")
    target.unlink()
    return float(result.facts["elapsed"]), wall, result.posted


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size-mib", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args(argv)
    size = args.size_mib * MIB
    base = "/dev/shm" if os.path.isdir("/dev/shm") else None
    with tempfile.TemporaryDirectory(prefix="velmora-bench-", dir=base) as work:
        work = Path(work)
        (work / "served").mkdir()
        make_file(work / "served" / "payload.bin", size)
        certificates = Certificates(work / "certs")
        server = HttpsServer(work / "served", certificates)
        prefix = WinePrefix("bench")
        try:
            certificates.trust_in(prefix)
            curl, silent, windowed, walls = [], [], [], []
            for _ in range(args.rounds):
                curl.append(curl_seconds(server, certificates, work / "curl.bin"))
                (work / "curl.bin").unlink()
                seconds, wall, _ = probe_seconds(prefix, server, size, False)
                silent.append(seconds)
                walls.append(wall)
                seconds, _, posted = probe_seconds(prefix, server, size, True)
                windowed.append(seconds)
        finally:
            server.close()
            prefix.close()
    rate = lambda seconds: size / 1e6 / statistics.median(seconds)  # noqa: E731
    print(f"download of {args.size_mib} MiB over loopback HTTPS, median of {args.rounds} rounds")
    print(f"  curl                          {statistics.median(curl):6.3f} s  {rate(curl):7.1f} MB/s")
    print(f"  setup download (silent)       {statistics.median(silent):6.3f} s  {rate(silent):7.1f} MB/s"
          f"   (with Wine start: {statistics.median(walls):.3f} s)")
    print(f"  setup download (with progress){statistics.median(windowed):6.3f} s  {rate(windowed):7.1f} MB/s"
          f"   ({posted} progress messages)")
    print(f"  ratio setup/curl throughput   silent {rate(silent) / rate(curl):.2f}, "
          f"with progress {rate(windowed) / rate(curl):.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
