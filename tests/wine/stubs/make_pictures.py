#!/usr/bin/env python3
"""Writes the pictures of the splash test launchers into the folder given:

  picture.bmp    400 x 300, 24-bit, stored bottom-up: a red top band (the top quarter), green
                 below it on the left half, blue on the right half; the colours tell upside down
                 and mirrored drawings apart
  large.bmp      1200 x 900 with the same layout, larger than a 1024 x 768 screen
  truncated.bin  a bitmap resource whose header promises 400 x 300 pixels but holds 64 bytes
  empty.bin      a resource of zero bytes
"""
import struct
import sys
from pathlib import Path

RED, GREEN, BLUE = (255, 0, 0), (0, 255, 0), (0, 0, 255)


def colour_at(x, y, width, height):
    if y < height // 4:
        return RED
    return GREEN if x < width // 2 else BLUE


def info_header(width, height):
    row = (width * 3 + 3) // 4 * 4
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, row * abs(height), 2835, 2835, 0, 0)


def bmp(width, height, top_down=False):
    """Bottom-up (the last row of the picture first), or top-down under a negative height."""
    row_size = (width * 3 + 3) // 4 * 4
    rows = []
    for y in range(height) if top_down else range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = colour_at(x, y, width, height)
            row += bytes((b, g, r))
        row += b"\0" * (row_size - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    header = info_header(width, -height if top_down else height)
    file_header = b"BM" + struct.pack("<IHHI", 14 + len(header) + len(pixels), 0, 0, 14 + len(header))
    return file_header + header + pixels


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / "picture.bmp").write_bytes(bmp(400, 300))
    (out / "large.bmp").write_bytes(bmp(1200, 900))
    (out / "truncated.bin").write_bytes(info_header(400, 300) + b"\x7f" * 64)
    (out / "empty.bin").write_bytes(b"")


if __name__ == "__main__":
    main()
