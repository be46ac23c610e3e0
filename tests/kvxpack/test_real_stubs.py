"""kvxpack takes a launcher it carries when --stub is not given."""
import struct
import zipfile

import pytest

from conftest import kvxpack_path, launcher_text, read_archive
from kvx_support import built_stub


# kvxpack carries the launchers of build/<preset>/ as they were built. Without --arch: the
# 64-bit Windows launcher.
@pytest.mark.parametrize("arch", [None, "host", "x86", "x64"], ids=lambda a: a or "default")
def test_built_stub_is_taken_by_arch(arch, run, hello_jar, tmp_path):
    stub = built_stub(arch or "x64", builds=kvxpack_path().parent.parent)
    out = tmp_path / "app.exe"
    arch_args = ["--arch", arch] if arch else []
    result = run(*arch_args, "--jar", hello_jar, "--main", "hello.Main", "-o", out)
    assert result.returncode == 0, result.stderr
    data = out.read_bytes()
    stub_bytes = stub.read_bytes()
    assert launcher_text(data) == b"mainclass hello.Main\r\n\0"
    archive = read_archive(data)
    # The archive starts where the (possibly edited) stub ends; its offsets count from there.
    assert archive["entries"][0]["local_offset"] == archive["shift"]
    if arch == "host":
        assert data[:len(stub_bytes)] == stub_bytes and archive["shift"] == len(stub_bytes)
    else:
        # The Windows launcher gains a manifest; everything in front of its resources stays.
        pe = struct.unpack_from("<I", stub_bytes, 0x3C)[0]
        machine = struct.unpack_from("<H", data, pe + 4)[0]
        assert machine == (0x14C if arch == "x86" else 0x8664)
        first_raw = min(struct.unpack_from("<I", stub_bytes, pe + 24 + 224 + (16 if arch != "x86" else 0) + 20)[0],
                        4096)
        assert data[first_raw:first_raw + 4096] == stub_bytes[first_raw:first_raw + 4096]
    with zipfile.ZipFile(out) as packed:
        assert "hello/Main.class" in packed.namelist()


def test_explicit_stub_wins_over_arch(run, stub, jar, tmp_path):
    out = tmp_path / "app.exe"
    assert run("--arch", "host", "--stub", stub, "--jar", jar, "--main", "a.B", "-o", out).returncode == 0
    assert out.read_bytes().startswith(stub.read_bytes())


@pytest.mark.parametrize("arch", ["x86", "x64"])
def test_console_takes_the_console_launcher(arch, run, jar, tmp_path):
    out = tmp_path / "cli.exe"
    assert run("--arch", arch, "--console", "--jar", jar, "--main", "a.B", "-o", out).returncode == 0
    data = out.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert struct.unpack_from("<H", data, pe + 24 + 68)[0] == 3  # IMAGE_SUBSYSTEM_WINDOWS_CUI
