"""`cds auto` with a real JDK 25 (made with jlink, no archive of its own) under Wine: the first
start lists the classes it loads, the launcher has the runtime's own java.exe dump a static
archive under %LOCALAPPDATA%, later starts map the application's classes from it (the
class-loading log says so), and a damaged archive never fails a start and is replaced once its
size no longer matches its name."""
import os

import pytest

from conftest import winpath


@pytest.fixture
def cds_folder(wine):
    """The host path of the class-data cache in the prefix, emptied before and after."""
    for _, host in wine.emptied_cds_cache():
        yield host


class SharedApp:
    def __init__(self, pack, launch, rt, folder, work):
        self.launch, self.folder, self.work = launch, folder, work
        work.mkdir()
        # The class-loading log goes to a file in the working directory: a relative name keeps
        # the drive letter's colon out of the -Xlog syntax.
        self.exe = pack("shared.exe", jvmdll=winpath(rt.jvm_dll), jre_order="c", cds=True,
                        option=["-Xlog:class+load:file=classload.txt"])

    def run(self):
        log = self.work / "classload.txt"
        if log.exists():
            log.unlink()
        run = self.launch(self.exe, ["props", "a"], cwd=self.work, trace=True, timeout=240)
        assert run.returncode == 0 and run.stderr == "" and run.fields.get("arg.0") == "a", run.describe()
        lines = log.read_text(errors="replace").splitlines() if log.exists() else []
        loaded = [l for l in lines if " app.Probe source: " in l]
        assert loaded, "no class-loading line for app.Probe\n%s" % run.describe()
        return run, loaded[0]

    def caches(self):
        return sorted(f for f in os.listdir(self.folder) if f.endswith(".static.jsa")) if self.folder.exists() else []


def test_jdk25_first_start_lists_classes_later_starts_map_the_static_archive_damage_is_survived(pack, launch, runtime,
                                                                                      cds_folder, tmp_path):
    rt = runtime("jdk25")
    app = SharedApp(pack, launch, rt, cds_folder, tmp_path / "work")
    run, loaded = app.run()
    assert "shared objects file" not in loaded, loaded
    assert any("cds: runtime" in l and '"%s"' % rt.version in l for l in run.trace), run.describe()
    assert any("static archive from a class list" in l for l in run.trace), run.describe()
    assert any("-XX:DumpLoadedClassList=" in l for l in run.trace), run.describe()
    assert not any("AOTMode" in l for l in run.trace), run.describe()
    [cache] = app.caches()
    assert os.listdir(cds_folder) == [cache], os.listdir(cds_folder)
    size = (cds_folder / cache).stat().st_size
    assert cache.endswith("-%d.static.jsa" % size), cache

    run, loaded = app.run()
    assert "shared objects file" in loaded, loaded
    assert any("-XX:SharedArchiveFile=" in l for l in run.trace), run.describe()

    # Damaged contents of the right size: the runtime's checksums refuse them, the start runs.
    path = cds_folder / cache
    data = bytearray(path.read_bytes())
    for offset in range(len(data) // 2, len(data) // 2 + 4096, 7):
        data[offset] ^= 0x5A
    path.write_bytes(bytes(data))
    run, loaded = app.run()
    assert "shared objects file" not in loaded, loaded

    # Cut short: the size no longer matches the name, so the start lists again and a fresh
    # archive of the same identity replaces the damaged one; the start after maps from it.
    path.write_bytes(bytes(data[:len(data) // 3]))
    app.run()
    [fresh] = app.caches()
    assert fresh.rsplit("-", 1)[0] == cache.rsplit("-", 1)[0], (cache, fresh)
    assert fresh.endswith("-%d.static.jsa" % (cds_folder / fresh).stat().st_size)
    run, loaded = app.run()
    assert "shared objects file" in loaded, loaded
