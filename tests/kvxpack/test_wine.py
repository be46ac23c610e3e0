"""The Windows build of kvxpack, run under Wine, writes the same bytes as the host build, and
carries every launcher in its one file."""
import os
import shutil
import signal
import subprocess
import time
import zipfile
from pathlib import Path

import pytest

from conftest import ROOT, kvxpack_path, make_zip, sparse_jar
from kvx_support import standard_icon
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

    refused = wine_kvxpack("--stub", "stub.bin", "--jar", "app.cfg", "--main", "a.B", "-o", "win.exe", cwd=tmp_path)
    assert refused.returncode == 2
    assert b"kvxpack: app.cfg: not a ZIP archive" in refused.stderr, refused.stderr
    assert (tmp_path / "win.exe").read_bytes() == (tmp_path / "host.exe").read_bytes()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["app.cfg", "app.jar", "host.exe", "stub.bin", "win.exe"]


def test_output_may_be_one_of_the_inputs(stub, tmp_path):
    # Windows cannot replace a file that is still open: the inputs are closed before the move.
    entries = {"a/One.txt": b"one", "b/Two.txt": b"two"}
    make_zip(tmp_path / "app.jar", entries)
    result = wine_kvxpack("--stub", "stub.bin", "--jar", "app.jar", "--main", "a.B", "-o", "app.jar", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    data = (tmp_path / "app.jar").read_bytes()
    assert data.startswith(stub.read_bytes())
    with zipfile.ZipFile(tmp_path / "app.jar") as packed:
        assert {n: packed.read(n) for n in entries} == entries
    result = wine_kvxpack("--stub", "app.jar", "--jar", "app.jar", "--main", "a.B", "-o", "app.jar", cwd=tmp_path)
    assert result.returncode == 2 and b"already packed" in result.stderr, result.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["app.jar", "stub.bin"]


def test_device_names_are_not_replaced(stub, tmp_path):
    make_zip(tmp_path / "app.jar")
    for device in ("NUL", "con.exe", "\\\\.\\pipe\\kvx"):
        result = wine_kvxpack("--stub", "stub.bin", "--jar", "app.jar", "--main", "a.B", "-o", device, cwd=tmp_path)
        assert result.returncode == 2, (device, result.stderr)
        assert b"is a device; only a regular file is replaced" in result.stderr, result.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["app.jar", "stub.bin"]


def windows_process(token):
    """The Unix pid of the Windows program whose command line holds `token` (not Wine's
    start.exe or the wrappers around it)."""
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            command = (entry / "cmdline").read_bytes().split(b"\0")
        except OSError:
            continue
        if command and command[0].endswith(b"kvxpack.exe") and token.encode() in b" ".join(command):
            return int(entry.name)
    return None


def test_ctrl_c_removes_the_temporary_file(stub, tmp_path):
    sparse_jar(tmp_path / "big.jar", 3 << 30)
    out_name = f"out-{tmp_path.name}.exe"
    (tmp_path / out_name).write_bytes(OLD_OUTPUT)
    exe = Path(os.environ.get("KVXPACK_WIN64", ROOT / "build/win64/kvxpack.exe")).resolve()
    process = subprocess.Popen([str(ROOT / "tools/wine-run"), "--timeout", "120", str(exe), "--stub", "stub.bin",
                                "--jar", "big.jar", "--main", "a.B", "-o", out_name], cwd=tmp_path,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        deadline = time.monotonic() + 90
        pid = None
        while time.monotonic() < deadline:
            temporaries = [p for p in tmp_path.iterdir() if p.name.startswith(".")]
            pid = pid or windows_process(out_name)
            if pid and temporaries and temporaries[0].stat().st_size > 0:
                break
            assert process.poll() is None, process.communicate()
            time.sleep(0.01)
        else:
            pytest.fail("no temporary file appeared")
        # Wine turns SIGINT into the console's Ctrl-C event.
        os.kill(pid, signal.SIGINT)
        process.wait(timeout=60)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["big.jar", out_name, "stub.bin"]
    assert (tmp_path / out_name).read_bytes() == OLD_OUTPUT


def test_windows_build_writes_the_same_resources(run, tmp_path):
    """Both builds edit a real launcher the same way, down to the checksum."""
    stub = kvxpack_path().parent.parent / "win32" / "kvx.exe"
    assert stub.is_file(), f"{stub} is not built"
    (tmp_path / "kvx.exe").write_bytes(stub.read_bytes())
    make_zip(tmp_path / "app.jar")
    (tmp_path / "app.ico").write_bytes(standard_icon())
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


@pytest.mark.parametrize("arch, extra, built", [("host", [], "host/kvx"), ("x86", ["--console"], "win32/kvxc.exe")])
def test_a_copied_windows_kvxpack_carries_the_launchers(run, arch, extra, built, tmp_path):
    """kvxpack.exe copied alone into a folder packs for Linux and for another Windows target
    with the launchers it carries: the same bytes as the host build given the built file."""
    exe = Path(os.environ.get("KVXPACK_WIN64", ROOT / "build/win64/kvxpack.exe")).resolve()
    assert exe.is_file(), f"{exe} is not built"
    shutil.copy2(exe, tmp_path / "kvxpack.exe")
    make_zip(tmp_path / "app.jar")
    args = ["--jar", "app.jar", "--main", "app.Main", *extra]
    windows = subprocess.run([str(ROOT / "tools/wine-run"), "--timeout", "120", str(tmp_path / "kvxpack.exe"),
                              "--arch", arch, *args, "-o", "win.out"], cwd=tmp_path, capture_output=True, timeout=200)
    assert windows.returncode == 0, windows.stderr
    host = run("--stub", kvxpack_path().parent.parent / built, *args, "-o", "host.out", cwd=tmp_path,
               default_order=True)
    assert host.returncode == 0, host.stderr
    assert (tmp_path / "win.out").read_bytes() == (tmp_path / "host.out").read_bytes()
