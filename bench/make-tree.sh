#!/usr/bin/env bash
# make-tree.sh DIR [FILES] [MAX_BYTES]: a tree of FILES files (default 20000) of up
# to MAX_BYTES bytes each (default 102400), spread over 100 folders, a tenth of them
# starting with "MZ". The same seed gives the same tree.
set -euo pipefail
dir=$1; files=${2:-20000}; max=${3:-102400}
python3 - "$dir" "$files" "$max" <<'PY'
import os, random, sys
root, files, biggest = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(20261208)
pool = rng.randbytes(biggest + 4096)
for i in range(files):
    folder = os.path.join(root, "d%02d" % (i % 100), "s%d" % (i % 7))
    os.makedirs(folder, exist_ok=True)
    size = rng.randint(0, biggest)
    start = rng.randint(0, 4096)
    data = pool[start:start + size]
    if i % 10 == 0 and size >= 2:
        data = b"MZ" + data[2:]
    with open(os.path.join(folder, "f%06d.%s" % (i, "exe" if i % 10 == 0 else "dat")), "wb") as f:
        f.write(data)
PY
