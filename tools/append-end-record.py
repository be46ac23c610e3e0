#!/usr/bin/env python3
"""Appends a ZIP end-of-central-directory record whose comment is TEXT to FILE, so that a
test executable carries a configuration text of its own, as a packed launcher does.

    append-end-record.py FILE TEXT

In TEXT, the two characters \n stand for a line end (CR LF).

Does nothing when FILE already ends with exactly that record (the link step rewrites the
file, so the record is added once per link).
"""
import struct
import sys


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    path, text = sys.argv[1], sys.argv[2].replace("\\n", "\r\n").encode("utf-8")
    record = b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, 0, 0, 0, 0, len(text)) + text
    with open(path, "rb") as f:
        f.seek(0, 2)
        size = f.tell()
        if size >= len(record):
            f.seek(size - len(record))
            if f.read() == record:
                return 0
    with open(path, "ab") as f:
        f.write(record)
    return 0


if __name__ == "__main__":
    sys.exit(main())
