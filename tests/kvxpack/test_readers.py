"""ZIP readers open the packed executable: Python's zipfile, Info-ZIP unzip and Java's class loader."""
import io
import struct
import subprocess
import zipfile

import pytest

from conftest import launcher_text, read_archive, runtime_class_names, run_java

ARGS = ["first", "second argument"]


@pytest.fixture
def packed_hello(run, stub, hello_jar, tmp_path):
    out = tmp_path / "hello.exe"
    result = run("--stub", stub, "--jar", hello_jar, "--main", "hello.Main", "--option", "-Xmx32m", "-o", out)
    assert result.returncode == 0, result.stderr
    return out


def test_python_zipfile_reads_every_entry(packed_hello, hello_jar):
    with zipfile.ZipFile(hello_jar) as original, zipfile.ZipFile(packed_hello) as packed:
        # The manifest goes first, where JarInputStream looks for it.
        names = original.namelist()
        assert packed.namelist() == (["META-INF/MANIFEST.MF"] + [n for n in names if n != "META-INF/MANIFEST.MF"]
                                     + runtime_class_names())
        for name in original.namelist():
            assert packed.read(name) == original.read(name)
        assert packed.testzip() is None
        assert packed.comment == b"mainclass hello.Main\r\noption -Xmx32m\r\n\0"


def test_unzip_lists_and_tests_the_archive(packed_hello):
    listing = subprocess.run(["unzip", "-l", str(packed_hello)], capture_output=True, text=True, timeout=60)
    assert listing.returncode in (0, 1), listing.stderr  # 1: a warning about the bytes in front
    assert "hello/Main.class" in listing.stdout
    check = subprocess.run(["unzip", "-tq", str(packed_hello)], capture_output=True, text=True, timeout=60)
    assert "No errors detected" in check.stdout, check.stdout + check.stderr


def test_java_runs_a_class_from_the_packed_executable(packed_hello):
    result = run_java(packed_hello, *ARGS)
    assert result.returncode == 0, result.stderr
    assert "  arg[0] = first" in result.stdout
    assert "  arg[1] = second argument" in result.stdout
    assert f"java.class.path = {packed_hello}" in result.stdout


def zip64_jar(path, hello_jar):
    """More than 65535 entries make Python write the Zip64 end record and locator."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(hello_jar) as source, zipfile.ZipFile(buffer, "w") as archive:
        for name in source.namelist():
            if name.startswith("hello/") and name.endswith(".class"):
                archive.writestr(name, source.read(name))
        for i in range(66000):
            archive.writestr(f"f/{i}", b"")
    path.write_bytes(buffer.getvalue())
    return path


def test_zip64_archive_is_read_by_java_python_and_unzip(run, stub, hello_jar, tmp_path):
    jar = zip64_jar(tmp_path / "many.jar", hello_jar)
    jar_bytes = jar.read_bytes()
    record = jar_bytes.rindex(b"PK\x05\x06")
    assert jar_bytes[record - 20:record - 16] == b"PK\x06\x07"
    out = tmp_path / "many.exe"
    result = run("--stub", stub, "--jar", jar, "--main", "hello.Main", "-o", out)
    assert result.returncode == 0, result.stderr
    data = out.read_bytes()
    archive = read_archive(data)
    total = len(zipfile.ZipFile(jar).namelist()) + len(runtime_class_names())
    # More than 65535 entries: the output needs the Zip64 end record and locator too, and the
    # locator's offset of the Zip64 end record is a position in the file (Java takes it so).
    assert archive["zip64"] and archive["shift"] == len(stub.read_bytes())
    assert len(archive["entries"]) == total
    assert struct.unpack_from("<HH", data, archive["record_at"] + 8) == (0xFFFF, 0xFFFF)
    assert launcher_text(data) == b"mainclass hello.Main\r\n\0"

    java = run_java(out, "z64")
    assert java.returncode == 0 and "  arg[0] = z64" in java.stdout, java.stderr
    with zipfile.ZipFile(out) as packed:
        assert len(packed.namelist()) == total
    listing = subprocess.run(["unzip", "-l", str(out)], capture_output=True, text=True, timeout=60)
    assert f"{total} files" in listing.stdout and "error" not in listing.stderr, listing.stderr


def test_empty_archive_gets_the_runtime_classes(run, stub, tmp_path):
    empty = tmp_path / "empty.jar"
    with zipfile.ZipFile(empty, "w"):
        pass
    out = tmp_path / "empty.exe"
    assert run("--stub", stub, "--jar", empty, "--main", "a.B", "-o", out).returncode == 0
    data = out.read_bytes()
    assert data.startswith(stub.read_bytes())
    assert [e["name"] for e in read_archive(data)["entries"]] == runtime_class_names()
    assert launcher_text(data) == b"mainclass a.B\r\n\0"
