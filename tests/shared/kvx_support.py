"""Helpers that more than one test suite needs, written once: tool and built-launcher lookup,
path comparison, test icons, certificates and Authenticode signing, screenshots of the X
screen, and `kvxpack --inspect` reports. A missing tool or build output fails the test with
a message saying what to do; nothing here skips.

The suites put this folder on sys.path in their conftest.py."""
import os
import shutil
import struct
import subprocess
import zlib
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


# Tools and build outputs.

def tool(name):
    """The path of a program on PATH that tools/bootstrap installs."""
    path = shutil.which(name)
    if not path:
        pytest.fail(f"{name} is missing: run tools/bootstrap", pytrace=False)
    return path


def build_dir(preset, builds=None):
    """build/<preset>, or KVX_BUILD_<PRESET> (a developer's own build); `builds` names another
    folder that holds the presets (kvxpack's own, when KVXPACK points elsewhere)."""
    override = os.environ.get("KVX_BUILD_" + preset.upper())
    if builds is None and override:
        return Path(override)
    return Path(builds or ROOT / "build") / preset


def need(path, what):
    """`path` when it is a built file; otherwise the test fails naming it."""
    path = Path(path)
    if not path.is_file():
        pytest.fail(f"{what} is missing: {path} (build it first, e.g. `make all`)", pytrace=False)
    return path


# kvxpack's --arch names and the build presets alike.
PRESETS = {"x86": "win32", "x64": "win64", "win32": "win32", "win64": "win64", "host": "host"}


def built_stub(arch, console=False, builds=None):
    """The launcher built for `arch` (x86, x64, win32, win64 or host): kvx.exe, kvxc.exe with
    `console`, or the Linux kvx."""
    preset = PRESETS[arch]
    name = "kvx" if preset == "host" else ("kvxc.exe" if console else "kvx.exe")
    return need(build_dir(preset, builds) / name, f"the {preset} launcher")


def same_path(a, b):
    """Windows paths as the loader reports them: case and separators do not count."""
    return str(a).replace("/", "\\").lower() == str(b).replace("/", "\\").lower()


# Test icons, made from the file format's own definition: deterministic bytes.

def icon_image(side, bits=32, rgb=None):
    """An icon image as a DIB: header with doubled height, colour pixels, then the AND mask.
    With `rgb` an opaque 32-bit image of that one colour, else a pattern of its size."""
    header = struct.pack("<IiiHHIIiiII", 40, side, side * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    if rgb is not None:
        assert bits == 32, "one colour is drawn in 32-bit images only"
        pixels = bytes((rgb[2], rgb[1], rgb[0], 255)) * (side * side)
    else:
        stride = (side * bits + 31) // 32 * 4
        pixels = bytes(((x * 7 + y * 13 + side) & 0xFF) for y in range(side) for x in range(stride))
    mask = bytes((side + 31) // 32 * 4 * side)
    return header + pixels + mask


PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png_image(width, height=None):
    """A small valid RGBA PNG."""
    height = height or width

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    rows = b"".join(b"\x00" + bytes(((x * 3 + y) & 0xFF) for x in range(width * 4)) for y in range(height))
    return (PNG_SIGNATURE + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def ico_file(images):
    """images: list of (side, data, bits); the .ico with its images in order, no gaps."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for side, data, bits in images:
        out += struct.pack("<BBBBHHII", side % 256, side % 256, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
        body += data
    return out + body


def standard_icon():
    """16, 32 and 48 px bitmaps and a PNG-compressed 256 px image."""
    return ico_file([(16, icon_image(16), 32), (32, icon_image(32), 32), (48, icon_image(48), 32),
                     (256, png_image(256), 32)])


def small_icon():
    """One 16 px 32-bit bitmap image."""
    return ico_file([(16, icon_image(16), 32)])


# Certificates and Authenticode signing (openssl, osslsigncode).

def make_certificate(folder):
    """A self-signed code-signing certificate: `folder`/cert.pem and key.pem."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    subprocess.run([tool("openssl"), "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=kvx test signer", "-keyout", str(folder / "key.pem"), "-out", str(folder / "cert.pem")],
                   check=True, capture_output=True, timeout=120)
    return folder


def sign(certificate, source, target):
    """`source` signed with the certificate of make_certificate() into `target`."""
    result = subprocess.run([tool("osslsigncode"), "sign", "-certs", str(certificate / "cert.pem"), "-key",
                             str(certificate / "key.pem"), "-h", "sha256", "-n", "kvx test", "-in", str(source),
                             "-out", str(target)], capture_output=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    return target


def verify(certificate, path):
    result = subprocess.run([tool("osslsigncode"), "verify", "-CAfile", str(certificate / "cert.pem"), "-in", str(path)],
                            capture_output=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout.decode()


# Screenshots of the X screen (ImageMagick's `import`, read as binary PPM).

class Screenshot:
    """The X screen of `display` as RGB pixels, kept at `path`."""

    def __init__(self, display, path):
        try:
            subprocess.run(["import", "-display", display, "-window", "root", "-depth", "8", "ppm:%s" % path],
                           check=True, timeout=60, capture_output=True)
        except FileNotFoundError:
            pytest.fail("ImageMagick's import is not installed (run tools/bootstrap)", pytrace=False)
        data = Path(path).read_bytes()
        parts = data.split(maxsplit=4)
        assert parts[0] == b"P6" and parts[3] == b"255", "not an 8-bit binary PPM"
        self.width, self.height = int(parts[1]), int(parts[2])
        self.pixels = parts[4]

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])


# kvxpack --inspect.

class InspectReport:
    """What `kvxpack --inspect` printed: the text, its lines without their indentation, the
    version record's strings and the main class as the launcher reads it."""

    def __init__(self, text):
        self.text = text
        self.lines = [line.strip() for line in text.splitlines()]
        self.strings = dict(line.strip().split(" = ", 1) for line in text.splitlines()
                            if line.startswith("    ") and " = " in line)
        self.main_class = next((l[len("main class: "):] for l in self.lines if l.startswith("main class: ")), None)


def inspect_exe(kvxpack, exe, cwd=None):
    """Runs `kvxpack --inspect exe` under a timeout; fails the test unless it succeeds."""
    try:
        done = subprocess.run([str(kvxpack), "--inspect", str(exe)], capture_output=True, timeout=60, cwd=cwd)
    except subprocess.TimeoutExpired:
        pytest.fail("kvxpack --inspect did not end within 60 s", pytrace=False)
    text = done.stdout.decode("utf-8", "replace")
    assert done.returncode == 0, text + done.stderr.decode("utf-8", "replace")
    return InspectReport(text)
