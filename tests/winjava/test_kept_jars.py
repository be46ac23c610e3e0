"""Jars kept whole with a real Windows Java 21 under Wine: Log4j 2 (a plugin index in each
jar) packed with --keep-jars prints what `java -cp` prints; the copies go to
%LOCALAPPDATA%\\kvx\\jars, are reused, replaced when damaged, shared by simultaneous first
starts, and a folder that cannot be made gets the message box and exit code 13."""
import concurrent.futures
import hashlib
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import JDK, ROOT, winpath

VERSION = "2.24.3"
LIBRARIES = ["log4j-api", "log4j-core", "log4j-layout-template-json"]
LOGAPP = ROOT / "tests" / "jvm" / "apps" / "logapp"
EXPECTED = '{"logger":"kvx.kept","message":"hello kept jars"}\n'


@pytest.fixture(scope="module")
def log4j(tmp_path_factory):
    done = subprocess.run([str(ROOT / "tools" / "fetch-test-jars"), "--where"], capture_output=True, text=True,
                          timeout=60)
    libraries = [Path(done.stdout.strip(), "%s-%s.jar" % (name, VERSION)) for name in LIBRARIES]
    for jar in libraries:
        if not jar.is_file():
            pytest.fail("%s is missing: run tools/fetch-test-jars (tools/bootstrap does)" % jar, pytrace=False)
    out = tmp_path_factory.mktemp("logapp")
    classes = out / "classes"
    classes.mkdir()
    subprocess.run([str(JDK / "bin" / "javac"), "--release", "8", "-Xlint:-options", "-d", str(classes), "-cp",
                    str(libraries[0]), str(LOGAPP / "Main.java")], check=True, timeout=120)
    shutil.copy(LOGAPP / "log4j2.xml", classes / "log4j2.xml")
    app = out / "app.jar"
    subprocess.run([str(JDK / "bin" / "jar"), "cf", str(app), "-C", str(classes), "."], check=True, timeout=60)
    return [app] + libraries


@pytest.fixture
def jars_folder(wine):
    """The host path of %LOCALAPPDATA%\\kvx\\jars in the prefix, emptied before and after."""
    yield from wine.emptied_cache_folder("jars")


def sha(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


@pytest.fixture
def pack_kept(builds, tmp_path, runtime, log4j):
    """The Log4j application packed onto the x64 launcher: app.jar merged, the rest kept."""
    rt = runtime("jdk21")
    app, *libraries = log4j
    out = tmp_path / "kept.exe"
    command = [str(builds.kvxpack()), "--stub", str(builds.kvx("win64")), "--keep-jars", "--jar", str(app)]
    for jar in libraries:
        command += ["--jar", str(jar)]
    command += ["--main", "logapp.Main", "--jvmdll", winpath(rt.jvm_dll), "--jre-order", "c", "-o", str(out)]
    done = subprocess.run(command, capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    return out


def test_kept_jars_under_windows_java(pack_kept, launch, log4j, jars_folder):
    windows_folder, folder = jars_folder
    libraries = log4j[1:]
    exe = pack_kept

    first = launch(exe, trace=True)
    assert (first.returncode, first.stdout, first.stderr) == (0, EXPECTED, ""), first.describe()
    paths = ["%s\\%s.jar" % (windows_folder, sha(j)) for j in libraries]
    for path, jar in zip(paths, libraries):
        assert any(("kept jars: %s copied for %s" % (path, jar.name)).lower() in l.lower() for l in first.trace), \
            first.describe()
    option = [l for l in first.trace if "option -Djava.class.path=" in l]
    assert option and option[0].lower().endswith((";" + ";".join(paths)).lower()), first.describe()
    assert sorted(f for f in os.listdir(folder) if f.endswith(".jar")) == sorted(sha(j) + ".jar" for j in libraries)

    again = launch(exe, trace=True)
    assert (again.returncode, again.stdout) == (0, EXPECTED), again.describe()
    assert sum(" reused for " in l for l in again.trace) == 3, again.describe()

    # Damaged in place, size and time kept: replaced, never used.
    damaged = folder / (sha(libraries[1]) + ".jar")
    stamp = damaged.stat()
    with open(damaged, "r+b") as f:
        f.seek(stamp.st_size // 2)
        f.write(b"\0" * 64)
    os.utime(damaged, ns=(stamp.st_atime_ns, stamp.st_mtime_ns))
    fixed = launch(exe, trace=True)
    assert (fixed.returncode, fixed.stdout) == (0, EXPECTED), fixed.describe()
    assert any(" copied for log4j-core" in l for l in fixed.trace), fixed.describe()
    assert sha(damaged) == sha(libraries[1])

    # Simultaneous first starts.
    shutil.rmtree(folder)
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        runs = list(pool.map(lambda _: launch(exe), range(2)))
    assert [(r.returncode, r.stdout) for r in runs] == [(0, EXPECTED)] * 2, "\n".join(r.describe() for r in runs)
    names = os.listdir(folder)
    assert not [n for n in names if n.endswith(".tmp")] and len([n for n in names if n.endswith(".jar")]) == 3, names


def test_a_folder_that_cannot_be_made_gets_the_message(pack_kept, launch, jars_folder):
    windows_folder, folder = jars_folder
    folder.parent.mkdir(parents=True, exist_ok=True)
    folder.write_text("a file where the folder should be")
    try:
        run = launch(pack_kept, expect_box=True)
    finally:
        folder.unlink()
    assert run.returncode == 13, run.describe()
    expected = "Cannot write to the folder %s, where this program keeps its libraries." % windows_folder
    assert run.run.box and expected in run.run.box.get("text", ""), run.describe()
    assert run.run.box.get("caption") == "Error", run.describe()


def test_a_signed_executable_covers_its_kept_jars_and_runs(pack_kept, launch, log4j, jars_folder, tmp_path):
    sys.path.insert(0, str(ROOT / "tests" / "shared"))
    import kvx_support
    certificate = kvx_support.make_certificate(tmp_path / "cert")
    signed = kvx_support.sign(certificate, pack_kept, tmp_path / "signed.exe")
    kvx_support.verify(certificate, signed)
    data = signed.read_bytes()
    core = log4j[2].read_bytes()
    at = data.find(core)
    assert at > 0
    # A byte changed inside a kept jar breaks the signature: the jars lie in the signed region.
    tampered = tmp_path / "tampered.exe"
    tampered.write_bytes(data[:at + len(core) // 2] + bytes([data[at + len(core) // 2] ^ 1]) +
                         data[at + len(core) // 2 + 1:])
    result = subprocess.run([kvx_support.tool("osslsigncode"), "verify", "-CAfile", str(certificate / "cert.pem"),
                             "-in", str(tampered)], capture_output=True, timeout=120)
    assert result.returncode != 0, result.stdout
    run = launch(signed, trace=True)
    assert (run.returncode, run.stdout, run.stderr) == (0, EXPECTED, ""), run.describe()
    assert sum(" copied for " in l for l in run.trace) == 3, run.describe()
