#!/usr/bin/python3
"""Writes a file's bytes as a C++ array: embed-bytes.py INPUT OUTPUT NAME."""
import sys


def main():
    source, target, name = sys.argv[1:4]
    data = open(source, "rb").read()
    if not data:
        sys.exit(f"embed-bytes: {source} is empty")
    lines = [f"// Generated from {source.rsplit('/', 1)[-1]}; do not edit.",
             f"const unsigned char {name}[] = {{"]
    for at in range(0, len(data), 16):
        lines.append("    " + ", ".join(str(b) for b in data[at:at + 16]) + ",")
    lines.append("};")
    with open(target, "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
