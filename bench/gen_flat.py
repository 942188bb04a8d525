#!/usr/bin/env python3
"""Makes one flat folder of many files for the treemap's benchmarks.

    gen_flat.py FOLDER [FILES]     (default 1,000,000 files)

Every file sits in FOLDER itself, named file-N with an ending drawn from a fixed list (some
none), sized log-uniformly from 1 byte to 64 KiB (a few up to 64 MiB) and made sparse with
truncate, so the folder takes almost no disk. The same arguments give the same folder.
"""
import os
import random
import sys

ENDINGS = ["jpg", "png", "mp4", "mkv", "ogg", "mp3", "pdf", "txt", "c", "h", "py", "o", "so",
           "zip", "tar.gz", "iso", "json", "log", "dat", ""]


def main():
    folder = sys.argv[1]
    files = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(1)
    for i in range(files):
        ending = ENDINGS[rng.randrange(len(ENDINGS))]
        top = 26 if rng.random() < 0.001 else 16
        size = int(2 ** rng.uniform(0, top))
        name = "file-%d%s" % (i, "." + ending if ending else "")
        fd = os.open(os.path.join(folder, name), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        os.ftruncate(fd, size)
        os.close(fd)
    open(folder + ".done", "w").close()


if __name__ == "__main__":
    main()
