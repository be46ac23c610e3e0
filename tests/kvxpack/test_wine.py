"""The Windows build of kvxpack, run under Wine, writes the same bytes as the host build."""
import os
import subprocess
from pathlib import Path

from conftest import ROOT, kvxpack_path, make_zip
import resource_files as rf

OLD_OUTPUT = b"an executable from before"


def wine_kvxpack(*args, cwd):
    exe = Path(os.environ.get("KVXPACK_WIN64", ROOT / "build/win64/kvxpack.exe")).resolve()
    assert exe.is_file(), f"{exe} is not built"
    # tools/wine-run's own prefix (shared with the unit tests, which run before this suite).
    return subprocess.run([str(ROOT / "tools/wine-run"), "--timeout", "120", str(exe), *args], cwd=cwd,
                          capture_output=True, timeout=200)


def test_windows_build_matches_host_build_byte_for_byte(run, stub, tmp_path):
    jar = make_zip(tmp_path / "app.jar", comment=b"old comment")
    (tmp_path / "app.cfg").write_bytes(b"option -Xss2m\nproperty from=config\n")
    # Paths relative to the working folder: the same for both builds.
    args = ["--stub", "stub.bin", "--jar", "app.jar", "--config", "app.cfg", "--main", "app.Main",
            "--option", "-Dglob=*.jar", "--property", "user.name=A B", "--classpath", "lib\\x.jar;y.jar",
            "--jre-order", "EC", "--minjre", "1.8"]
    host = run(*args, "-o", "host.exe", cwd=tmp_path)
    assert host.returncode == 0, host.stderr
    (tmp_path / "win.exe").write_bytes(OLD_OUTPUT)  # replaced in place (MoveFileEx)
    windows = wine_kvxpack(*args, "-o", "win.exe", cwd=tmp_path)
    assert windows.returncode == 0, windows.stderr
    assert (tmp_path / "win.exe").read_bytes() == (tmp_path / "host.exe").read_bytes()

    refused = wine_kvxpack("--stub", "stub.bin", "--jar", "app.cfg", "-o", "win.exe", cwd=tmp_path)
    assert refused.returncode == 2
    assert b"kvxpack: " in refused.stderr
    assert (tmp_path / "win.exe").read_bytes() == (tmp_path / "host.exe").read_bytes()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["app.cfg", "app.jar", "host.exe", "stub.bin", "win.exe"]


def test_windows_build_writes_the_same_resources(run, tmp_path):
    """Both builds edit a real launcher the same way, down to the checksum."""
    stub = kvxpack_path().parent.parent / "win32" / "kvx.exe"
    assert stub.is_file(), f"{stub} is not built"
    (tmp_path / "kvx.exe").write_bytes(stub.read_bytes())
    make_zip(tmp_path / "app.jar")
    (tmp_path / "app.ico").write_bytes(rf.standard_icon())
    (tmp_path / "splash.bmp").write_bytes(rf.bmp_file(33, 17, 8))
    args = ["--stub", "kvx.exe", "--jar", "app.jar", "--main", "app.Main", "--icon", "app.ico",
            "--tray-icon", "9=app.ico", "--splash", "splash.bmp", "--version", "FileVersion=3.2.1",
            "--version", "CompanyName=Quorvane", "--utf8", "--jre-order", "csie"]
    host = run(*args, "-o", "host.exe", cwd=tmp_path)
    assert host.returncode == 0, host.stderr
    windows = wine_kvxpack(*args, "-o", "win.exe", cwd=tmp_path)
    assert windows.returncode == 0, windows.stderr
    data = (tmp_path / "host.exe").read_bytes()
    assert (tmp_path / "win.exe").read_bytes() == data
    assert rf.stored_checksum(data) == rf.computed_checksum(data)
    inspected = wine_kvxpack("--inspect", "win.exe", cwd=tmp_path)
    assert inspected.returncode == 0, inspected.stderr
    assert inspected.stdout.replace(b"\r\n", b"\n").replace(b"win.exe", b"host.exe") == \
        run("--inspect", "host.exe", cwd=tmp_path).stdout
