#!/usr/bin/env python3
"""Points a Windows program's load-config directory at its ".lcfg" section.

    python3 tools/pe_load_config.py PROGRAM.exe

The linker (GNU ld 2.40) leaves data directory 10 of the PE empty even when
the program defines _load_config_used; platform/win32/load_config.cpp puts
that structure into a section ".lcfg" of its own. This step sets the
directory to that section, after checking that it holds the structure with
DependentLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32, and updates the header's
checksum when the linker wrote one. It changes nothing else, gives the same
bytes for the same input (releases stay reproducible), and is idempotent.
Any surprise ends it with a message and exit code 1, leaving the file as it
was.
"""
import os
import struct
import sys

LOAD_CONFIG_DIRECTORY = 10
SEARCH_SYSTEM32 = 0x800
# Per optional-header magic: the structure's size and DependentLoadFlags offset.
LAYOUT = {0x10B: (72, 0x36), 0x20B: (112, 0x4E)}


def fail(message):
    sys.exit(f"pe_load_config: {message}")


def checksum(image, checksum_offset):
    total = 0
    data = image[:checksum_offset] + b"\0\0\0\0" + image[checksum_offset + 4:]
    if len(data) % 2:
        data += b"\0"
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def patch(image):
    if image[:2] != b"MZ":
        fail("not a PE image")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        fail("not a PE image")
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    if magic not in LAYOUT:
        fail(f"unknown optional header 0x{magic:x}")
    size, flags_offset = LAYOUT[magic]
    directories = optional + (96 if magic == 0x10B else 112)
    count = struct.unpack_from("<I", image, directories - 4)[0]
    if count <= LOAD_CONFIG_DIRECTORY:
        fail("no load-config directory entry")
    entry = directories + 8 * LOAD_CONFIG_DIRECTORY
    table = optional + optional_size
    for index in range(sections):
        header = table + 40 * index
        name = image[header:header + 8].rstrip(b"\0")
        if name != b".lcfg":
            continue
        virtual_size, rva, raw_size, raw = struct.unpack_from("<IIII", image, header + 8)
        if min(virtual_size, raw_size) < size:
            fail(".lcfg is smaller than the structure")
        own_size = struct.unpack_from("<I", image, raw)[0]
        flags = struct.unpack_from("<H", image, raw + flags_offset)[0]
        if own_size != size or flags != SEARCH_SYSTEM32:
            fail(f".lcfg holds size {own_size}, flags 0x{flags:x}")
        current = struct.unpack_from("<II", image, entry)
        if current not in ((0, 0), (rva, size)):
            fail(f"the load-config directory already points at 0x{current[0]:x}")
        struct.pack_into("<II", image, entry, rva, size)
        checksum_offset = optional + 64
        if struct.unpack_from("<I", image, checksum_offset)[0] != 0:
            struct.pack_into("<I", image, checksum_offset, checksum(image, checksum_offset))
        return
    fail("no .lcfg section (link platform/win32/load_config.cpp into the program)")


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: pe_load_config.py PROGRAM.exe")
    path = sys.argv[1]
    with open(path, "rb") as file:
        image = bytearray(file.read())
    before = bytes(image)
    patch(image)
    if image != before:
        temporary = path + ".lcfg-tmp"
        with open(temporary, "wb") as file:
            file.write(image)
        os.replace(temporary, path)


if __name__ == "__main__":
    main()
