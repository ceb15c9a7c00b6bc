#!/usr/bin/env python3
"""make-detections.py DIR ROWS KIND VARIANT_TABLE_HEADER: ROWS detected files in
100 folders below DIR: copies of the EICAR test file (KIND delete) or worm
stand-ins, "MZ" files with forged variant-table checksums (KIND clean)."""
import os
import runpy
import sys

here = os.path.dirname(os.path.abspath(__file__))
detections = type(sys)("add_detections")
detections.__dict__.update(runpy.run_path(os.path.join(here, "add-detections.py"), run_name="add_detections"))


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__.splitlines()[0])
    root, rows, kind, header = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    worms = []
    if kind == "clean":
        for index, wanted in enumerate(detections.variant_checksums(header), start=1):
            body = b"MZ" + bytes((index * 7 + k) % 26 + 0x61 for k in range(200))
            worms.append(detections.forge(body, wanted))
    for i in range(rows):
        folder = os.path.join(root, "d%02d" % (i % 100))
        os.makedirs(folder, exist_ok=True)
        name, data = ("w%05d.exe" % i, worms[i % len(worms)]) if worms else ("e%05d.com" % i, detections.EICAR)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
