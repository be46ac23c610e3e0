"""Black-box tests of the real kvxpack binary (env KVXPACK, default build/host/kvxpack)."""
import io
import os
import subprocess
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
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


@pytest.fixture
def stub(tmp_path):
    """A stand-in Linux launcher: kvxpack copies it as it is (a Windows one would be edited)."""
    path = tmp_path / "stub.bin"
    path.write_bytes(b"\x7fELF" + bytes(range(256)) * 8 + b"stub-end")
    return path


def make_zip(path, entries=None, comment=b""):
    """A small archive; entries maps names to bytes."""
    entries = entries or {"a/One.txt": b"one\n", "b/Two.bin": bytes(range(256)) * 4}
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries.items():
            archive.writestr(name, data)
        archive.comment = comment
    path.write_bytes(buffer.getvalue())
    return path


@pytest.fixture
def jar(tmp_path):
    return make_zip(tmp_path / "app.jar")


def end_record_offset(archive_bytes):
    """Offset of the end record of an archive we made ourselves (no signature in its comment)."""
    return archive_bytes.rindex(END_SIGNATURE)


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
    """examples/hello compiled with javac --release 8."""
    javac, jar_tool = JDK / "bin/javac", JDK / "bin/jar"
    assert javac.exists() and jar_tool.exists(), f"JDK missing at {JDK}"
    work = tmp_path_factory.mktemp("hello")
    sources = sorted(str(p) for p in (ROOT / "examples/hello/src").rglob("*.java"))
    subprocess.run([str(javac), "--release", "8", "-Xlint:-options", "-d", str(work / "classes"), *sources],
                   check=True, timeout=120)
    subprocess.run([str(jar_tool), "--create", "--file", str(work / "hello.jar"), "-C", str(work / "classes"), "."],
                   check=True, timeout=120)
    return work / "hello.jar"


def run_java(class_path, *args):
    java = JDK / "bin/java"
    assert java.exists(), f"java missing at {java}"
    return subprocess.run([str(java), "-cp", str(class_path), "hello.Main", *args],
                          capture_output=True, text=True, timeout=60)
