"""Reads the resources of a 64-bit Windows program on Linux, so that tests can check
what a setup package carries without running it."""
import struct
from pathlib import Path

RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 10, 14, 16, 24


def read_resources(path):
    """{(type, id): bytes} of every resource of a program (first language of each)."""
    data = Path(path).read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional = struct.unpack_from("<H12xH", data, pe + 6)
    rva = struct.unpack_from("<I", data, pe + 24 + 128)[0]  # data directory 2 of a PE32+ header
    if not rva:
        return {}
    headers = [struct.unpack_from("<12xI4xI", data, pe + 24 + optional + 40 * i) for i in range(sections)]
    base = next(raw for start, raw in headers if start == rva)  # the linker gives .rsrc a section

    def entries(at):  # [(id, offset)] of one directory
        at = base + (at & 0x7FFFFFFF)
        named, ids = struct.unpack_from("<12xHH", data, at)
        return [struct.unpack_from("<II", data, at + 16 + 8 * i) for i in range(named + ids)]

    found = {}
    for kind, names in entries(0):
        for name, languages in entries(names):
            leaf, size = struct.unpack_from("<II", data, base + entries(languages)[0][1])
            found[(kind, name)] = data[base + leaf - rva:base + leaf - rva + size]
    return found


def rcdata(path):
    return {name: data for (kind, name), data in read_resources(path).items() if kind == RT_RCDATA}
