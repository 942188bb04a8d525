#!/usr/bin/env python3
"""Reads a zip archive with Python's own zipfile and compares every entry with the disk.

usage: zip_check.py ARCHIVE BASE_FOLDER
Prints each entry's name bytes in hex, one a line, then "utf8" or "raw" for its flag.
Exits 1 (with the differences on stderr) when an entry's content, link target, mode or
kind differs from BASE_FOLDER + name, or when the archive fails its CRC test.
"""
import os
import stat
import sys
import zipfile

archive, base = sys.argv[1], os.fsencode(sys.argv[2])
bad = []
with zipfile.ZipFile(archive) as z:
    broken = z.testzip()
    if broken is not None:
        bad.append("CRC mismatch in %r" % broken)
    for info in z.infolist():
        utf8 = bool(info.flag_bits & 0x800)
        raw = info.filename.encode("utf-8" if utf8 else "cp437")
        print(raw.hex(), "utf8" if utf8 else "raw")
        path = base + raw
        mode = info.external_attr >> 16
        try:
            st = os.lstat(path.rstrip(b"/") if raw.endswith(b"/") else path)
        except OSError as e:
            bad.append("%r: %s" % (raw, e))
            continue
        if stat.S_IFMT(mode) != stat.S_IFMT(st.st_mode):
            bad.append("%r: kind %o on disk %o" % (raw, stat.S_IFMT(mode), stat.S_IFMT(st.st_mode)))
            continue
        if stat.S_IMODE(mode) != stat.S_IMODE(st.st_mode) and not stat.S_ISLNK(mode):
            bad.append("%r: mode %o on disk %o" % (raw, stat.S_IMODE(mode), stat.S_IMODE(st.st_mode)))
        if stat.S_ISDIR(mode):
            if not raw.endswith(b"/"):
                bad.append("%r: folder without /" % raw)
        elif stat.S_ISLNK(mode):
            if z.read(info) != os.readlink(path):
                bad.append("%r: link target differs" % raw)
        else:
            with open(path, "rb") as f:
                if z.read(info) != f.read():
                    bad.append("%r: content differs" % raw)
        if abs(int(st.st_mtime) - int(__import__("time").mktime(info.date_time + (0, 0, -1)))) > 2:
            bad.append("%r: time differs" % raw)
for line in bad:
    print(line, file=sys.stderr)
sys.exit(1 if bad else 0)
