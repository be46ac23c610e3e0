"""Bitmaps and PE facts for the resource tests, made from the file formats' own definitions
(no image library): deterministic bytes, so round trips can compare bit for bit. The test
icons are in tests/shared/kvx_support.py."""
import struct

def bmp_file(width, height, bits=24):
    stride = (width * bits + 31) // 32 * 4
    pixels = bytes(((x + y * 5) & 0xFF) for y in range(height) for x in range(stride))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels), 2835, 2835, 0, 0)
    palette = b"".join(bytes((i, 255 - i, i // 2, 0)) for i in range(1 << bits)) if bits <= 8 else b""
    head = info + palette
    return b"BM" + struct.pack("<IHHI", 14 + len(head) + len(pixels), 0, 0, 14 + len(head)) + head + pixels


def pe_offsets(data):
    """(optional header offset, is PE32+) of an image."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    optional = pe + 24
    return optional, struct.unpack_from("<H", data, optional)[0] == 0x20B


def stored_checksum(data):
    optional, _ = pe_offsets(data)
    return struct.unpack_from("<I", data, optional + 64)[0]


def computed_checksum(data):
    """The image checksum computed with 32-bit words and end-around carries."""
    optional, _ = pe_offsets(data)
    body = bytearray(data)
    body[optional + 64:optional + 68] = b"\0\0\0\0"
    body += b"\0" * (-len(body) % 4)
    total = 0
    for (dword,) in struct.iter_unpack("<I", bytes(body)):
        total += dword
        total = (total & 0xFFFFFFFF) + (total >> 32)
    total = (total & 0xFFFF) + (total >> 16)
    total = (total + (total >> 16)) & 0xFFFF
    return total + len(data)


def sections(data):
    """[(name, virtual size, virtual address, raw size, raw offset)] of an image."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    found = []
    for i in range(count):
        name, vsize, vaddr, rsize, roff = struct.unpack_from("<8sIIII", data, table + 40 * i)
        found.append((name.rstrip(b"\0").decode(), vsize, vaddr, rsize, roff))
    return found


def resources(data):
    """{(type, name, language): bytes} of an image, read with this module's own walker."""
    optional, wide = pe_offsets(data)
    directories = optional + (112 if wide else 96)
    rva = struct.unpack_from("<I", data, directories + 16)[0]
    table = sections(data)

    def at(address):
        for _, vsize, vaddr, rsize, roff in table:
            if vaddr <= address < vaddr + max(vsize, rsize):
                return roff + address - vaddr
        raise AssertionError("address %#x outside every section" % address)

    base = at(rva)

    def name_of(field):
        if field & 0x80000000:
            off = base + (field & 0x7FFFFFFF)
            length = struct.unpack_from("<H", data, off)[0]
            return data[off + 2:off + 2 + 2 * length].decode("utf-16-le")
        return field

    def entries(offset):
        named, numbered = struct.unpack_from("<HH", data, base + offset + 12)
        for i in range(named + numbered):
            yield struct.unpack_from("<II", data, base + offset + 16 + 8 * i)

    found = {}
    for type_field, type_at in entries(0):
        for name_field, name_at in entries(type_at & 0x7FFFFFFF):
            for language, leaf in entries(name_at & 0x7FFFFFFF):
                data_rva, size = struct.unpack_from("<II", data, base + leaf)
                start = at(data_rva)
                found[(name_of(type_field), name_of(name_field), language)] = data[start:start + size]
    return found
