#!/usr/bin/env python3
"""add-detections.py DIR VARIANT_TABLE_HEADER: writes known detections into DIR.

- one "MZ" file per entry of the variant table, its checksum forged (CRC-32 is
  linear: four chosen bytes before the 32-byte tail that FileCrc32 leaves out set
  the checksum to any value), so no real worm is needed;
- the EICAR test file, which the signature engine detects;
- clam.exe and clam.zip from Debian's clamav-testfiles, when installed.

The checksums are read from the variant table's header, so they cannot drift.
Prints the number of variant files and engine test files written.
"""
import os
import re
import shutil
import sys
import zlib

MASK = 0xFFFFFFFF
TAIL = 32  # bytes at the end of a file that FileCrc32 leaves out
EICAR = rb"X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*"
CLAM_TESTFILES = "/usr/share/clamav-testfiles"


def crc_table():
    table = []
    for n in range(256):
        c = n
        for _ in range(8):
            c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
        table.append(c)
    return table


TABLE = crc_table()


def unstep(after):
    # The top bytes of the table entries are all different, so the entry XORed
    # into the register by the last byte is known from the register's top byte.
    for i, entry in enumerate(TABLE):
        if entry >> 24 == after >> 24:
            return (((after ^ entry) << 8) & MASK) | i
    raise AssertionError("CRC table without distinct top bytes")


def forge(body, wanted):
    """body + 4 bytes + tail, whose CRC-32 without the tail is wanted."""
    register = ~zlib.crc32(body) & MASK
    x = ~wanted & MASK
    for _ in range(4):
        x = unstep(x)
    data = body + (x ^ register).to_bytes(4, "little")
    if zlib.crc32(data) != wanted:
        raise AssertionError("forged checksum %08X does not match" % wanted)
    return data + b"T" * TAIL


def variant_checksums(header):
    text = open(header, encoding="utf-8").read()
    block = re.search(r"VariantCrcTable\s*=\s*\{(.*?)\}", text, re.S)
    if not block:
        sys.exit("no VariantCrcTable in " + header)
    values = [int(v, 16) for v in re.findall(r"0x([0-9A-Fa-f]{8})u?", block.group(1))]
    if len(values) != 16:
        sys.exit("expected 16 checksums in %s, found %d" % (header, len(values)))
    return values


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.splitlines()[0])
    folder, header = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    checksums = variant_checksums(header)
    for index, wanted in enumerate(checksums, start=1):
        body = b"MZ" + bytes((index * 7 + k) % 26 + 0x61 for k in range(200))
        with open(os.path.join(folder, "variant%02d.exe" % index), "wb") as f:
            f.write(forge(body, wanted))
    with open(os.path.join(folder, "eicar.com"), "wb") as f:
        f.write(EICAR)
    engine_files = 1
    for name in ("clam.exe", "clam.zip"):
        source = os.path.join(CLAM_TESTFILES, name)
        if os.path.isfile(source):
            shutil.copyfile(source, os.path.join(folder, name))
            engine_files += 1
    print(len(checksums), engine_files)


if __name__ == "__main__":
    main()
