"""What the folder a user starts from, and side files that are not plain files, can do to a
launch: nothing. A planted runtime library or planted classes are never picked up, and a
FIFO or a device named like the side file neither hangs the launcher nor fills memory."""
import os
import resource
import subprocess

import pytest

from conftest import clean_env, properties

NOT_FOUND = "Java Runtime Environment not found."

PLANTED_SOURCE = r"""
#include <fcntl.h>
#include <unistd.h>
__attribute__((constructor)) static void planted(void) {
    int fd = open(MARKER, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) { (void)write(fd, "ran", 3); close(fd); }
}
"""


@pytest.fixture
def planted_runtime(tmp_path):
    """start/jre/lib/server/libjvm.so whose constructor writes a marker file; (start, marker)."""
    start = tmp_path / "start"
    library = start / "jre" / "lib" / "server" / "libjvm.so"
    library.parent.mkdir(parents=True)
    marker = tmp_path / "planted-code-ran"
    source = tmp_path / "planted.c"
    source.write_text(PLANTED_SOURCE)
    subprocess.run(["gcc", "-shared", "-fPIC", "-o", str(library), '-DMARKER="%s"' % marker, str(source)],
                   check=True, timeout=120)
    return start, marker


def test_runtime_library_planted_in_the_start_folder_never_runs(pack, run, tmp_path, planted_runtime):
    start, marker = planted_runtime
    app = tmp_path / "app"
    only_config = pack(name="only-config", directory=str(app), jre_order="c", jvmdll="jre/lib/server/libjvm.so")
    result = run(only_config, cwd=str(start))
    assert NOT_FOUND in result.stderr, result.stderr
    assert not marker.exists(), "the planted library was loaded"
    # With the default order the search goes on to the system's runtime, which starts.
    default = pack(name="default", directory=str(app), jvmdll="jre/lib/server/libjvm.so")
    result = run(default, cwd=str(start))
    assert "argc=0" in result.stdout, result.stderr
    assert not marker.exists(), "the planted library was loaded"


def test_classes_planted_in_the_start_folder_stay_off_the_class_path(pack, run, jars, tmp_path):
    start = tmp_path / "start"
    (start / "ext").mkdir(parents=True)
    for target in (start / "lib.jar", start / "ext" / "planted.jar"):
        target.write_bytes(open(jars["lib"], "rb").read())
    app = tmp_path / "app"
    exe = pack(directory=str(app), classpath="lib.jar", libs="ext")
    cp = properties(run(exe, cwd=str(start)).stdout)["java.class.path"]
    assert cp == exe + ":" + str(app / "lib.jar")
    uses = run(pack(name="uses", directory=str(app), main="app.UsesLib", classpath="lib.jar"), cwd=str(start))
    assert "lib says hello" not in uses.stdout
    assert "NoClassDefFoundError" in uses.stderr


def test_fifo_named_like_the_side_file_is_ignored(pack, run):
    exe = pack(property="x=embedded")
    os.mkfifo(exe + ".cfg")
    with open(exe + ".config", "wb") as f:
        f.write(b"property a.b=config\n")
    # A launcher that opened the FIFO would wait for a writer until the timeout.
    result = run(exe, timeout=60)
    values = properties(result.stdout)
    assert values["x"] == "embedded" and values["a.b"] == "config", result.stderr


def limited_address_space():
    # Enough for the runtime with the small heap below, far too little to read a device.
    resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))


def test_side_file_linked_to_an_endless_device_is_not_read(pack, tmp_path):
    exe = pack(option=["-Xmx32m", "-XX:CompressedClassSpaceSize=64m", "-XX:ReservedCodeCacheSize=32m"])
    os.symlink("/dev/zero", exe + ".cfg")
    result = subprocess.run([exe], capture_output=True, text=True, errors="replace", env=clean_env(),
                            timeout=60, preexec_fn=limited_address_space)
    assert result.returncode == 0, result.stderr
    assert "argc=0" in result.stdout, result.stderr
