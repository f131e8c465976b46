"""A deterministic payload for the benchmarks: about 150 MiB in about 400 files, three
files of 25-40 MiB, a few of 1-4 MiB and many of 4-200 KiB, in folders up to four
levels deep. Two variants: "incompressible" (random bytes) and "half" (every 8 KiB
block half random, half repetitive text, so that it compresses to about a half).
The same variant and seed always give the same names and bytes. generate_small gives
many small files instead: COUNT random files of 4 KiB in 50 folders.

  python3 scripts/bench/bench_payload.py OUTPUT_FOLDER [--variant half] [--seed N]
"""
import argparse
import random
import shutil
from pathlib import Path

KIB, MIB = 1024, 1024 * 1024
DEFAULT_SEED = 20261206
VARIANTS = ("incompressible", "half")
TOP_FOLDERS = ("bin", "data", "plugins", "resources")
WORDS = b"recover sector cluster volume journal carve header footer signature partition "


def folder_tree(rng):
    """Folders one to four levels deep below the payload's top."""
    folders = []
    for top in TOP_FOLDERS:
        folders.append(top)
        for second in range(rng.randint(2, 3)):
            level2 = f"{top}/{top[:3]}-{second}"
            folders.append(level2)
            for third in range(rng.randint(1, 2)):
                level3 = f"{level2}/part{third}"
                folders.append(level3)
                folders.append(f"{level3}/x64")
    return folders


def file_sizes(rng):
    sizes = [25 * MIB + rng.randint(0, KIB), 31 * MIB + rng.randint(0, KIB), 37 * MIB + rng.randint(0, KIB)]
    sizes += [rng.randint(1 * MIB, 4 * MIB) for _ in range(8)]
    sizes += [rng.randint(4 * KIB, 200 * KIB) for _ in range(386)]
    return sizes


def content(rng, size, variant):
    if variant == "incompressible":
        return rng.randbytes(size)
    block = 8 * KIB
    text = (WORDS * (block // len(WORDS) + 1))[: block // 2]
    parts = []
    for start in range(0, size, block):
        parts.append(rng.randbytes(block // 2))
        parts.append(text)
    return b"".join(parts)[:size]


def plan(seed=DEFAULT_SEED):
    """[(relative path with forward slashes, size)] in creation order."""
    rng = random.Random(seed)
    folders = folder_tree(rng)
    entries = []
    for index, size in enumerate(file_sizes(rng)):
        folder = rng.choice(folders) if index >= 3 else "data"
        extension = rng.choice((".dll", ".dat", ".bin", ".pak", ".json", ".txt"))
        entries.append((f"{folder}/file{index:03d}{extension}", size))
    return entries


def generate(root, variant="incompressible", seed=DEFAULT_SEED, programs=None):
    """Writes the payload below root (which must not exist yet). programs maps the names
    the setup requires at the top ("Velmora.exe", ...) to files copied in; without it
    small stand-ins are written. Returns [(relative path, size)] of every file."""
    if variant not in VARIANTS:
        raise ValueError(f"variant must be one of {VARIANTS}")
    root = Path(root)
    root.mkdir(parents=True)
    rng = random.Random(seed * 7 + VARIANTS.index(variant))
    written = []
    for rel, size in plan(seed):
        target = root / rel
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(content(rng, size, variant))
        written.append((rel, size))
    return written + add_programs(root, programs)


def add_programs(root, programs):
    """The programs the setup requires at the top of the payload: the given builds, or
    stand-ins of the same names."""
    written = []
    for name in ("Velmora.exe", "Uninstall.exe", "Velmora.Maintenance.exe"):
        source = (programs or {}).get(name)
        if source:
            shutil.copyfile(source, root / name)
        else:
            (root / name).write_bytes(b"MZ stand-in for " + name.encode())
        written.append((name, (root / name).stat().st_size))
    return written


def generate_small(root, count, seed=DEFAULT_SEED, programs=None):
    """count files of 4 KiB (random bytes) in 50 folders two levels down, plus the
    programs the setup requires at the top, as generate does."""
    root = Path(root)
    root.mkdir(parents=True)
    rng = random.Random(seed + count)
    written = []
    for index in range(count):
        rel = f"s/d{index % 50:02d}/f{index:05d}.bin"
        target = root / rel
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(rng.randbytes(4 * KIB))
        written.append((rel, 4 * KIB))
    return written + add_programs(root, programs)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output")
    parser.add_argument("--variant", choices=VARIANTS, default="incompressible")
    parser.add_argument("--seed", type=int, default=DEFAULT_SEED)
    args = parser.parse_args()
    files = generate(args.output, args.variant, args.seed)
    print(f"{len(files)} files, {sum(size for _, size in files) / MIB:.1f} MiB in {args.output}")


if __name__ == "__main__":
    main()
