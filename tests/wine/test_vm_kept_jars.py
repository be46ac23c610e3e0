"""Jars kept whole on the 32-bit launcher: the copies in %LOCALAPPDATA%\\kvx\\jars follow the
executable on the class path in input order, are reused by identity, replaced when damaged,
and a folder that cannot be made gets the message (here in Traditional Chinese) and code 13."""
import hashlib
import os
import shutil
import zipfile

import pytest

from vm_support import java_app, winpath  # noqa: F401  (java_app is a fixture)


@pytest.fixture
def jars_folder(wine):
    """The host path of %LOCALAPPDATA%\\kvx\\jars in the prefix, emptied before and after."""
    yield from wine.emptied_cache_folder("jars")


def make_jar(path, text):
    with zipfile.ZipFile(path, "w") as jar:
        jar.writestr("index.dat", text * 500)
    return path


def test_kept_jars_on_the_32_bit_launcher(java_app, jars_folder, tmp_path):
    windows_folder, folder = jars_folder
    kept = [make_jar(tmp_path / "b.jar", "second"), make_jar(tmp_path / "a.jar", "first")]
    digests = [hashlib.sha256(j.read_bytes()).hexdigest() for j in kept]
    app = java_app(extra=["--keep-jars", "--jar", str(kept[0]), "--jar", str(kept[1])])
    trace = tmp_path / "trace.txt"
    copies = ["%s\\%s.jar" % (windows_folder, d) for d in digests]

    def start():
        if trace.exists():
            trace.unlink()
        launch = app.launch(script=["class app/Main"], env={"KVX_TRACE": winpath(trace)})
        launch.check_success()
        assert launch.option("-Djava.class.path=").split(";") == [winpath(app.exe)] + copies, launch.describe()
        return trace.read_text(errors="replace")

    said = start()
    assert said.count(" copied for ") == 2, said
    assert [(folder / (d + ".jar")).read_bytes() for d in digests] == [j.read_bytes() for j in kept]
    said = start()
    assert said.count(" reused for ") == 2 and " copied for " not in said, said
    # The same size, the same time, other bytes: copied again.
    damaged = folder / (digests[0] + ".jar")
    stamp = damaged.stat()
    data = bytearray(damaged.read_bytes())
    data[len(data) // 2] ^= 0xFF
    damaged.write_bytes(bytes(data))
    os.utime(damaged, ns=(stamp.st_atime_ns, stamp.st_mtime_ns))
    said = start()
    assert "%s copied for b.jar" % copies[0] in said and said.count(" reused for ") == 1, said
    assert damaged.read_bytes() == kept[0].read_bytes()

    shutil.rmtree(folder)
    folder.write_text("a file where the folder should be")
    try:
        launch = app.launch(script=["class app/Main"], expect_box=True, locale="zh_TW")
    finally:
        folder.unlink()
    expected = ("無法寫入資料夾 %s，本程式的程式庫存放在那裡。請釋放磁碟空間，或讓該資料夾只有您可寫入，然後重新啟動程式。"
                % windows_folder)
    assert launch.run.returncode == 13 and launch.main_args is None, launch.describe()
    assert (launch.run.box.get("caption"), launch.run.box.get("text")) == ("錯誤", expected), launch.describe()
