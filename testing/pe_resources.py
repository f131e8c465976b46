"""Reads the resources of a 64-bit Windows program on Linux, so that tests can check
what a setup package carries without running it."""
import struct
from pathlib import Path

RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 10, 14, 16, 24
RESOURCE_DIRECTORY_INDEX = 2


class PeImage:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        if struct.unpack_from("<H", data, optional)[0] != 0x20B:
            raise ValueError("not a 64-bit image")
        count = struct.unpack_from("<I", data, optional + 108)[0]
        self.resource_rva = 0
        if count > RESOURCE_DIRECTORY_INDEX:
            self.resource_rva = struct.unpack_from("<I", data, optional + 112 + 8 * RESOURCE_DIRECTORY_INDEX)[0]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def directory(self, relative):
        """[(name or id, is_directory, relative offset)] of one resource directory."""
        base = self.offset(self.resource_rva)
        named, ids = struct.unpack_from("<12xHH", self.data, base + relative)
        entries = []
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, base + relative + 16 + 8 * i)
            key = self.name_at(base + (name & 0x7FFFFFFF)) if name & 0x80000000 else name
            entries.append((key, bool(target & 0x80000000), target & 0x7FFFFFFF))
        return entries

    def name_at(self, offset):
        length = struct.unpack_from("<H", self.data, offset)[0]
        return self.data[offset + 2:offset + 2 + 2 * length].decode("utf-16-le")

    def leaf(self, relative):
        rva, size = struct.unpack_from("<II", self.data, self.offset(self.resource_rva) + relative)
        start = self.offset(rva)
        return self.data[start:start + size]

    def resources(self):
        """{(type, name): bytes} of every resource (first language of each)."""
        found = {}
        if not self.resource_rva:
            return found
        for kind, _, types in self.directory(0):
            for name, _, languages in self.directory(types):
                _, _, data = self.directory(languages)[0]
                found[(kind, name)] = self.leaf(data)
        return found


def read_resources(path):
    """{(type, name): bytes} of every resource of a program."""
    return PeImage(Path(path).read_bytes()).resources()


def rcdata(path):
    """{id: bytes} of the RT_RCDATA resources of a program."""
    return {name: data for (kind, name), data in read_resources(path).items() if kind == RT_RCDATA}
