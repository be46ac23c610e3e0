"""What kvxpack writes to and reads from: only regular files are replaced (links are followed),
inputs never block, long names work, and an interrupt leaves no temporary file."""
import os
import signal
import socket
import stat
import struct
import subprocess
import time

import pytest

from conftest import ROOT, kvxpack_path, launcher_text, sparse_jar

OLD = b"left as it was"


def pack(run, stub, jar, out):
    return run("--stub", stub, "--jar", jar, "--main", "a.B", "-o", out)


def refused_with(result, reason):
    assert result.returncode == 2, result
    lines = result.stderr.decode().splitlines()
    assert len(lines) == 1 and reason in lines[0], lines


def hidden_leftovers(folder):
    return [p.name for p in folder.iterdir() if p.name.startswith(".")]


def make_socket(path):
    server = socket.socket(socket.AF_UNIX)
    server.bind(str(path))
    return server


@pytest.mark.parametrize("kind", ["device", "fifo", "socket", "directory", "link_to_directory", "link_to_fifo"])
def test_output_that_is_not_a_regular_file_is_refused(kind, run, stub, jar, tmp_path):
    out = tmp_path / "out"
    keep = None
    if kind == "device":
        # A node of the null device, in our own folder: the test never writes under /dev.
        os.mknod(out, stat.S_IFCHR | 0o600, os.makedev(1, 3))
    elif kind == "fifo":
        os.mkfifo(out)
    elif kind == "socket":
        keep = make_socket(out)
    elif kind == "directory":
        out.mkdir()
    elif kind == "link_to_directory":
        (tmp_path / "real").mkdir()
        out.symlink_to("real")
    elif kind == "link_to_fifo":
        os.mkfifo(tmp_path / "pipe")
        out.symlink_to(tmp_path / "pipe")
    before = os.lstat(out)
    result = pack(run, stub, jar, out)
    expected = {"device": "is a device", "fifo": "is a FIFO", "socket": "is a socket", "directory": "is a directory",
                "link_to_directory": "is a directory", "link_to_fifo": "is a FIFO"}[kind]
    refused_with(result, expected)
    assert "only a regular file is replaced" in result.stderr.decode()
    after = os.lstat(out)
    assert (after.st_mode, after.st_ino, after.st_rdev) == (before.st_mode, before.st_ino, before.st_rdev)
    assert hidden_leftovers(tmp_path) == []
    if keep:
        keep.close()


def test_link_to_a_regular_file_replaces_the_target_and_keeps_the_link(run, stub, jar, tmp_path):
    real_folder = tmp_path / "releases"
    real_folder.mkdir()
    target = real_folder / "app-1.0.exe"
    target.write_bytes(OLD)
    (tmp_path / "middle").symlink_to("releases/app-1.0.exe")  # a relative link
    out = tmp_path / "app.exe"
    out.symlink_to(tmp_path / "middle")                          # and a link to that link
    result = pack(run, stub, jar, out)
    assert result.returncode == 0, result.stderr
    assert out.is_symlink() and os.readlink(out) == str(tmp_path / "middle")
    assert (tmp_path / "middle").is_symlink()
    data = target.read_bytes()
    assert data.startswith(stub.read_bytes()) and launcher_text(data) == b"mainclass a.B\r\n\0"
    assert hidden_leftovers(real_folder) == [] and hidden_leftovers(tmp_path) == []


def test_link_to_a_missing_file_creates_the_target(run, stub, jar, tmp_path):
    (tmp_path / "dist").mkdir()
    out = tmp_path / "app.exe"
    out.symlink_to("dist/app.exe")
    assert pack(run, stub, jar, out).returncode == 0
    assert out.is_symlink() and (tmp_path / "dist/app.exe").read_bytes().startswith(stub.read_bytes())


@pytest.mark.parametrize("which", ["--jar", "--stub", "--config"])
def test_fifo_input_is_refused_without_waiting(which, kvxpack, stub, jar, tmp_path):
    fifo = tmp_path / "input.fifo"
    os.mkfifo(fifo)
    args = {"--stub": stub, "--jar": jar}
    args[which] = fifo
    extra = ["--config", args.pop("--config")] if "--config" in args else []
    out = tmp_path / "out.exe"
    # A blocked open would wait for a writer for ever: the timeout turns that into a failure.
    result = subprocess.run([str(kvxpack), "--stub", str(args["--stub"]), "--jar", str(args["--jar"]), *map(str, extra),
                             "--main", "a.B", "-o", str(out)], capture_output=True, timeout=20)
    refused_with(result, "input.fifo: it is a FIFO, not a regular file")
    assert not out.exists()


@pytest.mark.parametrize("length", [200, 240, 255])
def test_long_output_names(length, run, stub, jar, tmp_path):
    out = tmp_path / ("n" * (length - 4) + ".exe")
    assert len(out.name) == length
    out.write_bytes(OLD)
    result = pack(run, stub, jar, out)
    assert result.returncode == 0, result.stderr
    assert out.read_bytes().startswith(stub.read_bytes())
    assert hidden_leftovers(tmp_path) == []


@pytest.mark.parametrize("signal_number", [signal.SIGINT, signal.SIGTERM])
def test_interrupt_removes_the_temporary_file(signal_number, stub, tmp_path):
    jar = sparse_jar(tmp_path / "big.jar", 3 << 30)
    out_folder = tmp_path / "out"
    out_folder.mkdir()
    out = out_folder / "app.exe"
    out.write_bytes(OLD)
    # kvxpack keeps a signal ignored as its parent left it (nohup, a background job), and a shell
    # starts background jobs with SIGINT ignored: the child gets the default action back here.
    process = subprocess.Popen([str(kvxpack_path()), "--stub", str(stub), "--jar", str(jar), "--main", "a.B",
                                "-o", str(out)], stderr=subprocess.PIPE,
                               preexec_fn=lambda: signal.signal(signal_number, signal.SIG_DFL))
    try:
        # Wait until the temporary file has data in it, then interrupt.
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            temporaries = hidden_leftovers(out_folder)
            if temporaries and (out_folder / temporaries[0]).stat().st_size > 0:
                break
            assert process.poll() is None, "kvxpack ended before it could be interrupted"
            time.sleep(0.005)
        else:
            pytest.fail("no temporary file appeared")
        process.send_signal(signal_number)
        process.wait(timeout=60)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    assert process.returncode == -signal_number
    assert sorted(p.name for p in out_folder.iterdir()) == ["app.exe"]
    assert out.read_bytes() == OLD


@pytest.mark.parametrize("stub_name", ["win64/kvx.exe", "host/kvx"])
def test_input_cut_shorter_while_packing_leaves_no_temporary_file(stub_name, tmp_path):
    # Behind a Windows stub the input is read through a mapped view on Linux: cut shorter, it
    # fails the write ("Bad address") or, caught in the checksum loop, ends the process with
    # SIGBUS. Which of the two depends on timing, hence several cuts; after each the target
    # is untouched and nothing else stays.
    stub = ROOT / "build" / stub_name
    assert stub.is_file(), f"{stub} is not built"
    out_folder = tmp_path / "out"
    out_folder.mkdir()
    out = out_folder / "app.exe"
    out.write_bytes(OLD)
    for attempt in range(8):
        jar = sparse_jar(tmp_path / "big.jar", 3 << 30)
        process = subprocess.Popen([str(kvxpack_path()), "--stub", str(stub), "--jar", str(jar), "--main", "a.B",
                                    "-o", str(out)], stderr=subprocess.PIPE)
        try:
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline:
                temporaries = hidden_leftovers(out_folder)
                if temporaries and (out_folder / temporaries[0]).stat().st_size > ((16 + 8 * attempt) << 20):
                    break
                assert process.poll() is None, "kvxpack ended before its input could be cut"
                time.sleep(0.002)
            else:
                pytest.fail("no temporary file grew")
            os.truncate(jar, 1 << 20)
            process.wait(timeout=60)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
        assert process.returncode != 0, attempt
        assert sorted(p.name for p in out_folder.iterdir()) == ["app.exe"], (attempt, process.returncode)
        assert out.read_bytes() == OLD
