#!/usr/bin/env python3
"""Reads a 64-bit PE file's export names, imported DLLs and DLL characteristics from its own
headers, so that no check depends on a dumping tool's text layout or translation.
Usage: pe_file.py FILE    prints "machine X", "characteristic NAME", "export NAME", "import DLL" lines
"""
import struct
import sys

CHARACTERISTICS = {0x20: "HIGH_ENTROPY_VA", 0x40: "DYNAMIC_BASE", 0x100: "NX_COMPAT", 0x4000: "GUARD_CF"}


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections = struct.unpack_from("<HH", data, pe + 4)
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic != 0x20B:
            raise ValueError("not a PE32+ image")
        self.characteristics = struct.unpack_from("<H", data, optional + 70)[0]
        directory_count = self.u32(optional + 108)
        self.directories = [struct.unpack_from("<II", data, optional + 112 + 8 * i) for i in range(min(directory_count, 16))]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(sections)]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise ValueError("RVA %#x lies in no section" % rva)

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def exports(self):
        rva, size = self.directories[0] if self.directories else (0, 0)
        if not size:
            return []
        table = self.offset(rva)
        count, names = self.u32(table + 24), self.u32(table + 32)
        return [self.text(self.u32(self.offset(names) + 4 * i)) for i in range(count)]

    def imports(self):
        rva, size = self.directories[1] if len(self.directories) > 1 else (0, 0)
        names, entry = [], self.offset(rva) if size else None
        while entry is not None and any(self.data[entry:entry + 20]):
            names.append(self.text(self.u32(entry + 12)))
            entry += 20
        return names


def main():
    try:
        with open(sys.argv[1], "rb") as file:
            pe = PeFile(file.read())
    except (OSError, ValueError, struct.error) as fault:
        sys.exit("pe_file.py: %s: %s" % (sys.argv[1], fault))
    print("machine %#x" % pe.machine)
    for bit, name in CHARACTERISTICS.items():
        if pe.characteristics & bit:
            print("characteristic " + name)
    for name in pe.exports():
        print("export " + name)
    for name in pe.imports():
        print("import " + name)


if __name__ == "__main__":
    main()
