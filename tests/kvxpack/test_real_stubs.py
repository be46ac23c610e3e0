"""kvxpack takes the launcher built beside it when --stub is not given."""
import zipfile

import pytest

from conftest import kvxpack_path, launcher_text, pe_image, read_archive

# kvxpack lives in build/<preset>/; the stubs in build/host, build/win32 and build/win64.
STUBS = {None: "host/kvx", "host": "host/kvx", "x86": "win32/kvx.exe", "x64": "win64/kvx.exe"}


@pytest.mark.parametrize("arch", list(STUBS), ids=lambda a: a or "default")
def test_built_stub_is_taken_by_arch(arch, run, hello_jar, tmp_path):
    stub = kvxpack_path().parent.parent / STUBS[arch]
    assert stub.is_file(), f"{stub} is not built"
    out = tmp_path / "app.exe"
    arch_args = ["--arch", arch] if arch else []
    result = run(*arch_args, "--jar", hello_jar, "--main", "hello.Main", "-o", out)
    assert result.returncode == 0, result.stderr
    data = out.read_bytes()
    stub_bytes = stub.read_bytes()
    assert data[:len(stub_bytes)] == stub_bytes
    archive = read_archive(data)
    assert archive["entries"][0]["local_offset"] == len(stub_bytes) and archive["shift"] == 0
    assert launcher_text(data) == b"mainclass hello.Main\r\n"
    if arch in ("x86", "x64"):
        assert data[:2] == b"MZ"
    with zipfile.ZipFile(out) as packed:
        assert "hello/Main.class" in packed.namelist()


def test_explicit_stub_wins_over_arch(run, jar, tmp_path):
    stub = tmp_path / "x86.exe"
    stub.write_bytes(pe_image(machine=0x14C))
    out = tmp_path / "app.exe"
    assert run("--arch", "x86", "--stub", stub, "--jar", jar, "--main", "a.B", "-o", out).returncode == 0
    assert out.read_bytes().startswith(stub.read_bytes())
