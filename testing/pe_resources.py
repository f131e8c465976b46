"""Reads the resources of a 64-bit PE file: {(type, name): bytes}, where type and name
are integers or strings. Only what the tests need: no language selection (the first
language of each name is taken)."""
import struct

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST, RT_RCDATA = 3, 14, 16, 24, 10


def read_resources(path):
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path} is not a PE file")
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x20B:
        raise ValueError(f"{path} is not a 64-bit PE file")
    resource_rva, _ = struct.unpack_from("<II", data, optional + 112 + 2 * 8)
    table = optional + optional_size
    spans = []
    for i in range(sections):
        _, vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        spans.append((vaddr, max(vsize, raw_size), raw_ptr))

    def offset(rva):
        for vaddr, size, raw in spans:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise ValueError(f"address {rva:#x} is outside every section")

    if resource_rva == 0:
        return {}
    base = offset(resource_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            if name & 0x80000000:
                at = base + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", data, at)[0]
                name = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            yield name, target

    found = {}
    for type_id, type_target in entries(0):
        for name_id, name_target in entries(type_target & 0x7FFFFFFF):
            for _, language_target in entries(name_target & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + language_target)
                start = offset(rva)
                found[(type_id, name_id)] = data[start:start + size]
                break
    return found
