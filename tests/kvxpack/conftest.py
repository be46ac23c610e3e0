"""Black-box tests of the real kvxpack binary (env KVXPACK, default build/host/kvxpack)."""
import datetime
import io
import os
import struct
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "shared"))
JDK = Path(os.environ.get("JDK_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
END_SIGNATURE = b"PK\x05\x06"
LAUNCHER_WINDOW = 22 + 51200


def kvxpack_path():
    return Path(os.environ.get("KVXPACK", ROOT / "build/host/kvxpack")).resolve()


@pytest.fixture(scope="session")
def kvxpack():
    path = kvxpack_path()
    assert path.is_file() and os.access(path, os.X_OK), f"kvxpack not built: {path}"
    return path


@pytest.fixture
def run(kvxpack):
    """Runs kvxpack with the given arguments; returns the CompletedProcess. Unless the
    arguments name a search order, `--jre-order ""` keeps kvxpack's default order line out
    of the text, so the tests see exactly the lines they asked for (test_default_order
    checks that line)."""
    def runner(*args, cwd=None, default_order=False):
        extra = [] if default_order or any(str(a).startswith("--jre-order") for a in args) else ["--jre-order", ""]
        return subprocess.run([str(kvxpack), *extra, *map(str, args)], capture_output=True, timeout=120, cwd=cwd)
    return runner


def pe_image(machine=0x8664):
    """A stand-in launcher: the headers kvxpack checks (MZ, PE signature, machine, optional
    header magic), then filler. x64 by default; 0x14c makes an x86 one."""
    magic, optional_size = (0x20B, 240) if machine == 0x8664 else (0x10B, 224)
    dos = b"MZ" + bytes(0x3A) + struct.pack("<I", 0x40)
    coff = struct.pack("<4sHHIIIHH", b"PE\0\0", machine, 0, 0, 0, 0, optional_size, 0x22)
    optional = struct.pack("<H", magic) + bytes(optional_size - 2)
    return dos + coff + optional + bytes(range(256)) * 8 + b"stub-end"


def elf_image():
    """A stand-in Linux launcher: the ELF header kvxpack checks (64-bit, little-endian, an
    x86-64 program), then filler. kvxpack copies it as it is (a Windows one would be edited)."""
    header = b"\x7fELF\x02\x01\x01" + bytes(9) + struct.pack("<HHI", 2, 62, 1) + bytes(40)
    return header + bytes(range(256)) * 8 + b"stub-end"


@pytest.fixture
def stub(tmp_path):
    path = tmp_path / "stub.bin"
    path.write_bytes(elf_image())
    return path


def runtime_jar():
    path = ROOT / "build/java/kvx-runtime.jar"
    assert path.is_file(), f"{path} is not built"
    return path


def runtime_class_names():
    with zipfile.ZipFile(runtime_jar()) as archive:
        names = [n for n in archive.namelist()
                 if n.startswith("com/quorvane/kvx/") and n.endswith(".class") and "/" not in n[17:]]
    assert names
    return names


def read_archive(data):
    """Our own reading of the archive at the end of `data` (independent of kvxpack): the end
    record nearest the end whose comment reaches the end, Zip64 when a locator says so, and
    every entry with its central and local header fields and its raw (compressed) bytes.
    Offsets are taken as positions in `data` plus the shift that bytes in front give."""
    at = len(data) - 22
    while at >= 0:
        at = data.rfind(END_SIGNATURE, 0, at + 4)
        assert at >= 0, "no end record"
        if at + 22 + struct.unpack_from("<H", data, at + 20)[0] == len(data):
            break
        at -= 1
    count, size, offset = struct.unpack_from("<HII", data, at + 10)
    zip64 = data[at - 20:at - 16] == b"PK\x06\x07"
    if zip64:
        (end64,) = struct.unpack_from("<Q", data, at - 20 + 8)
        assert data[end64:end64 + 4] == b"PK\x06\x06"
        count, size, offset = struct.unpack_from("<QQQ", data, end64 + 32)
        directory_end = end64
    else:
        directory_end = at
    shift = directory_end - size - offset
    entries = []
    pos = directory_end - size
    for _ in range(count):
        assert data[pos:pos + 4] == b"PK\x01\x02"
        (made_by, needed, flags, method, time, date, crc, csize, usize, nlen, xlen, clen, disk, internal,
         external, local) = struct.unpack_from("<HHHHHHIIIHHHHHII", data, pos + 4)
        name = data[pos + 46:pos + 46 + nlen]
        extra = data[pos + 46 + nlen:pos + 46 + nlen + xlen]
        x = 0
        while x < len(extra):
            xid, xsize = struct.unpack_from("<HH", extra, x)
            if xid == 1:
                values = list(struct.unpack_from("<" + "Q" * (xsize // 8), extra, x + 4))
                if usize == 0xFFFFFFFF:
                    usize = values.pop(0)
                if csize == 0xFFFFFFFF:
                    csize = values.pop(0)
                if local == 0xFFFFFFFF:
                    local = values.pop(0)
            x += 4 + xsize
        local += shift
        assert data[local:local + 4] == b"PK\x03\x04", name
        (l_needed, l_flags, l_method, l_time, l_date, l_crc, l_csize, l_usize, l_nlen,
         l_xlen) = struct.unpack_from("<HHHHHIIIHH", data, local + 4)
        start = local + 30 + l_nlen + l_xlen
        entries.append({
            "name": name.decode("utf-8", "replace"), "flags": flags, "method": method, "time": time, "date": date,
            "crc": crc, "csize": csize, "usize": usize, "extra": extra, "local_offset": local,
            "local": (l_flags, l_method, l_time, l_date, l_crc, l_nlen, data[local + 30:local + 30 + l_nlen]),
            "raw": data[start:start + csize]})
        pos += 46 + nlen + xlen + clen
    return {"entries": entries, "record_at": at, "zip64": zip64, "shift": shift,
            "directory_start": directory_end - size, "comment": data[at + 22:]}


def sparse_jar(path, data_size):
    """One stored entry whose data is a hole of `data_size` bytes: large, but costs no disk."""
    name = b"big.bin"
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 10, 0, 0, 0, 0x21, 0, data_size, data_size, len(name), 0) + name
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 10, 0, 0, 0, 0x21, 0, data_size, data_size,
                          len(name), 0, 0, 0, 0, 0, 0) + name
    directory_at = len(local) + data_size
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), directory_at, 0)
    with open(path, "wb") as f:
        f.write(local)
        f.seek(directory_at)
        f.write(central + end)
    return path


def raw_entries(path):
    """name -> (method, crc, raw bytes) of an archive file, in directory order."""
    return {e["name"]: (e["method"], e["crc"], e["raw"]) for e in read_archive(Path(path).read_bytes())["entries"]}


def make_zip(path, entries=None, comment=b""):
    """A small archive; entries maps names to bytes. Each entry has a time of its own (2021,
    two seconds apart), the same whenever the archive is made."""
    entries = entries or {"a/One.txt": b"one\n", "b/Two.bin": bytes(range(256)) * 4}
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for i, (name, data) in enumerate(entries.items()):
            when = datetime.datetime(2021, 3, 4, 5, 6) + datetime.timedelta(seconds=2 * i)
            archive.writestr(zipfile.ZipInfo(name, when.timetuple()[:6]), data, zipfile.ZIP_DEFLATED)
        archive.comment = comment
    path.write_bytes(buffer.getvalue())
    return path


@pytest.fixture
def jar(tmp_path):
    return make_zip(tmp_path / "app.jar")


def end_record_offset(archive_bytes):
    """Offset of the end record of an archive we made ourselves (no signature in its comment)."""
    return archive_bytes.rindex(END_SIGNATURE)


def closed(text):
    """The comment kvxpack writes for `text`: a zero byte closes it when the launcher's window
    has room for one."""
    return text + (b"\0" if len(text) < 51200 else b"")


def launcher_text(data):
    """The configuration text as the launcher reads it: what follows the last end-record
    signature within the final 51222 bytes, from the record's end to the end of the file."""
    tail = data[-LAUNCHER_WINDOW:]
    for at in range(len(tail) - 22, -1, -1):
        if tail[at:at + 4] == END_SIGNATURE:
            return tail[at + 22:]
    return b""


@pytest.fixture(scope="session")
def hello_jar(tmp_path_factory):
    """examples/hello compiled with javac --release 8 against the API jar."""
    javac, jar_tool = JDK / "bin/javac", JDK / "bin/jar"
    assert javac.exists() and jar_tool.exists(), f"JDK missing at {JDK}"
    work = tmp_path_factory.mktemp("hello")
    sources = sorted(str(p) for p in (ROOT / "examples/hello/src").rglob("*.java"))
    subprocess.run([str(javac), "--release", "8", "-Xlint:-options", "-cp", str(runtime_jar()),
                    "-d", str(work / "classes"), *sources],
                   check=True, timeout=120)
    subprocess.run([str(jar_tool), "--create", "--file", str(work / "hello.jar"), "-C", str(work / "classes"), "."],
                   check=True, timeout=120)
    return work / "hello.jar"


def run_java(class_path, *args):
    java = JDK / "bin/java"
    assert java.exists(), f"java missing at {java}"
    return subprocess.run([str(java), "-cp", str(class_path), "hello.Main", *args],
                          capture_output=True, text=True, timeout=60)
