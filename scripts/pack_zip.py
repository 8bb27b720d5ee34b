#!/usr/bin/env python3
"""Writes a zip whose bytes depend only on its contents and the given time: entries in name
order, every entry dated at that time (UTC), with fixed attributes and compression.
Text files (.txt) get Windows line endings.

Usage: pack_zip.py OUT.zip UNIX_TIME NAME=FILE..."""

import sys
import time
import zipfile
from pathlib import Path


def main(out, unix_time, *entries):
    stamp = time.gmtime(int(unix_time))[:6]
    files = dict(entry.split("=", 1) for entry in entries)
    with zipfile.ZipFile(out, "w") as archive:
        for name in sorted(files):
            data = Path(files[name]).read_bytes()
            if name.endswith(".txt"):
                data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.create_system = 3  # Unix, with a fixed mode rather than the build's umask
            info.external_attr = 0o100644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
