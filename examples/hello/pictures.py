#!/usr/bin/env python3
"""Draws the example's pictures into a folder: hello.ico (32 x 32, orange; the application and
tray icon) and splash.bmp (400 x 300: a dark field over a blue band, the splash)."""
import struct
import sys

# Colours as (red, green, blue); the tests look for them on the screen.
ICON = (230, 140, 20)
FIELD = (60, 60, 60)
BAND = (30, 120, 200)


def dib(width, height, colour_at, header_rows):
    header = struct.pack("<IiiHHIIiiII", 40, width, header_rows, 1, 32, 0, 0, 0, 0, 0, 0)
    # Rows bottom-up, pixels as blue, green, red, alpha.
    return header + b"".join(bytes(colour_at(x, height - 1 - y)[::-1]) + b"\xff"
                             for y in range(height) for x in range(width))


def main(folder):
    image = dib(32, 32, lambda x, y: ICON, 64) + bytes(32 * 4)  # the AND mask: all visible
    with open(f"{folder}/hello.ico", "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 0, 0, 1, 32, len(image), 22) + image)
    picture = dib(400, 300, lambda x, y: BAND if y >= 240 else FIELD, 300)
    with open(f"{folder}/splash.bmp", "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(picture), 0, 0, 54) + picture)


if __name__ == "__main__":
    main(sys.argv[1])
