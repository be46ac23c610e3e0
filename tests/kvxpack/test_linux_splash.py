"""The Linux launcher's splash: `--arch host --splash picture.bmp` stores the picture as a PNG in
the stored archive entry META-INF/kvx/splash.png, pixel for pixel, and nothing else changes."""
import struct
import zipfile
import zlib

from conftest import elf_image, make_zip
import resource_files as rf


def png_pixels(data):
    """(width, height, rows of RGB bytes) of an 8-bit RGB PNG without filters, CRCs checked."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, chunks = 8, {}
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        body = data[at + 8:at + 8 + length]
        assert struct.unpack_from(">I", data, at + 8 + length)[0] == zlib.crc32(kind + body), kind
        chunks[kind] = chunks.get(kind, b"") + body
        at += 12 + length
    width, height, depth, colour = struct.unpack_from(">IIBB", chunks[b"IHDR"])
    assert (depth, colour) == (8, 2) and b"IEND" in chunks
    raw = zlib.decompress(chunks[b"IDAT"])
    stride = 1 + width * 3
    assert len(raw) == height * stride and all(raw[y * stride] == 0 for y in range(height))
    return width, height, [raw[y * stride + 1:(y + 1) * stride] for y in range(height)]


def bmp_pixels(bmp, bits):
    """The rows of rf.bmp_file's picture, top row first, as RGB bytes."""
    width, height = struct.unpack_from("<ii", bmp, 18)
    start = struct.unpack_from("<I", bmp, 10)[0]
    stride = (width * bits + 31) // 32 * 4
    rows = []
    for y in range(height):
        row = bmp[start + (height - 1 - y) * stride:]
        if bits == 8:
            rows.append(b"".join(bytes(bmp[54 + 4 * i:54 + 4 * i + 3][::-1]) for i in row[:width]))
        else:
            rows.append(b"".join(bytes(row[3 * x:3 * x + 3][::-1]) for x in range(width)))
    return rows


def test_host_splash_is_a_stored_png_entry_of_the_bmp(run, tmp_path):
    stub = tmp_path / "kvx"
    stub.write_bytes(elf_image())
    make_zip(tmp_path / "app.jar")
    for bits in (24, 8):
        bmp = rf.bmp_file(37, 21, bits)
        (tmp_path / "s.bmp").write_bytes(bmp)
        out = tmp_path / ("app%d" % bits)
        done = run("--stub", stub, "--jar", tmp_path / "app.jar", "--main", "app.Main", "--splash", tmp_path / "s.bmp",
                   "-o", out)
        assert done.returncode == 0, done.stderr
        assert out.read_bytes().startswith(elf_image()), "the Linux launcher was changed"
        with zipfile.ZipFile(out) as archive:
            entry = archive.getinfo("META-INF/kvx/splash.png")
            assert entry.compress_type == zipfile.ZIP_STORED
            width, height, rows = png_pixels(archive.read(entry))
        assert (width, height) == (37, 21)
        assert rows == bmp_pixels(bmp, bits), "%d-bit picture" % bits
