"""Authenticode signing of packed executables with osslsigncode: verification passes, the
launcher reads the same configuration whatever the file length, the JDK still runs classes from
the signed file, and a signed file can be signed again."""
import struct

import pytest

from conftest import kvxpack_path, launcher_text, run_java
from kvx_support import built_stub, inspect_exe, make_certificate, sign, verify

ARCHES = {"x86": "win32", "x64": "win64"}


@pytest.fixture(scope="module")
def certificate(tmp_path_factory):
    return make_certificate(tmp_path_factory.mktemp("cert"))


def readable_text(data):
    """The lines the launcher takes: its text up to the first zero byte."""
    return launcher_text(data).split(b"\0")[0]


def pack(run, arch, jar, out, padding):
    result = run("--arch", arch, "--jar", jar, "--main", "hello.Main", "--option", "-Dpad=" + "x" * padding, "-o", out)
    assert result.returncode == 0, result.stderr
    return out


@pytest.mark.parametrize("arch", ARCHES)
def test_every_file_length_signs_and_reads_back_the_same(arch, run, hello_jar, certificate, tmp_path):
    built_stub(arch, builds=kvxpack_path().parent.parent)
    residues = set()
    for padding in range(8):
        out = pack(run, arch, hello_jar, tmp_path / f"app{padding}.exe", padding)
        data = out.read_bytes()
        residues.add(len(data) % 8)
        signed = sign(certificate, out, tmp_path / f"signed{padding}.exe")
        verify(certificate, signed)
        signed_data = signed.read_bytes()
        expected = b"mainclass hello.Main\r\noption -Dpad=" + b"x" * padding + b"\r\n"
        assert readable_text(data) == expected
        assert readable_text(signed_data) == expected, (padding, launcher_text(signed_data)[:80])
    assert residues == set(range(8)), residues


@pytest.mark.parametrize("arch", ARCHES)
def test_signed_executable_still_runs_with_the_jdk_and_signs_again(arch, run, hello_jar, certificate, tmp_path):
    out = pack(run, arch, hello_jar, tmp_path / "app.exe", 3)
    signed = sign(certificate, out, tmp_path / "signed.exe")
    result = run_java(signed, "a", "b")
    assert result.returncode == 0, result.stderr
    assert "arguments: 2" in result.stdout, result.stdout
    # Signing a signed file replaces its signature; the result verifies and still runs.
    again = sign(certificate, signed, tmp_path / "again.exe")
    verify(certificate, again)
    assert readable_text(again.read_bytes()) == readable_text(out.read_bytes())
    assert run_java(again, "c").returncode == 0
    # Inspect reads the signed file like the launcher does, and reports the signature the
    # security directory points at.
    report = inspect_exe(kvxpack_path(), again)
    assert "| mainclass hello.Main" in report.lines and report.main_class == "hello.Main", report.text
    data = again.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    directories = pe + 24 + (96 if arch == "x86" else 112)
    offset, size = struct.unpack_from("<II", data, directories + 4 * 8)
    length, revision, kind = struct.unpack_from("<IHH", data, offset)
    assert offset and size >= length > 8 and offset + size <= len(data) and (revision, kind) == (0x200, 2)
    assert f"signature: Authenticode, {length} bytes (PKCS #7 signed data)" in report.lines, report.text
    assert f"security directory: offset {offset}, size {size}" in report.lines, report.text
    assert "signature: none" in inspect_exe(kvxpack_path(), out).lines
