"""The download benchmark behind scripts/bench-runtime: the probe program (the setup's
own download code), a floor program (one WinHTTP GET, 1 MiB reads written straight to
a file, nothing else) and curl fetch the same file from the same loopback HTTPS server,
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
SOURCE = Path(os.environ.get("VELMORA_SOURCE", Path(__file__).resolve().parent.parent))


def build_floor(output):
    subprocess.run(["x86_64-w64-mingw32-g++-posix", "-std=c++20", "-O2", "-o", str(output),
                    str(SOURCE / "scripts" / "bench" / "bench_download_floor.cpp"), "-static", "-municode", "-s",
                    "-lwinhttp"], check=True)


def floor_seconds(prefix, floor, server, size):
    target = prefix.unix(r"C:\floor.bin")
    if target.exists():
        target.unlink()
    result = ProbeResult(prefix.run_raw([floor, server.url("payload.bin"), r"C:\floor.bin"], timeout=600))
    if result.code != 0 or target.stat().st_size != size:
        raise RuntimeError(f"the floor's download failed:\n{result.output}")
    target.unlink()
    return float(result.facts["elapsed"])


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
        floor = work / "floor.exe"
        build_floor(floor)
        certificates = Certificates(work / "certs")
        server = HttpsServer(work / "served", certificates)
        prefix = WinePrefix("bench")
        try:
            certificates.trust_in(prefix)
            curl, floors, silent, windowed, walls = [], [], [], [], []
            for _ in range(args.rounds):
                curl.append(curl_seconds(server, certificates, work / "curl.bin"))
                (work / "curl.bin").unlink()
                floors.append(floor_seconds(prefix, floor, server, size))
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
    print(f"  floor (WinHTTP, 1 MiB reads)  {statistics.median(floors):6.3f} s  {rate(floors):7.1f} MB/s")
    print(f"  setup download (silent)       {statistics.median(silent):6.3f} s  {rate(silent):7.1f} MB/s"
          f"   (with Wine start: {statistics.median(walls):.3f} s)")
    print(f"  setup download (with progress){statistics.median(windowed):6.3f} s  {rate(windowed):7.1f} MB/s"
          f"   ({posted} progress messages)")
    print(f"  ratio setup/curl throughput   silent {rate(silent) / rate(curl):.2f}, "
          f"with progress {rate(windowed) / rate(curl):.2f}")
    median = statistics.median
    print(f"  ratio setup time/floor time   silent {median(silent) / median(floors):.2f}, "
          f"with progress {median(windowed) / median(floors):.2f}   (target: with progress <= 1.15)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
