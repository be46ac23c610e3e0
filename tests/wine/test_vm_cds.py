"""Class-data sharing (`cds auto`) under Windows: the options follow the runtime's version as
its Java home's release file states it, and the archive lives under %LOCALAPPDATA% (Wine
sets that variable to the user profile inside this build's own prefix)."""
import re

import pytest

from vm_support import java_app, winpath  # noqa: F401  (java_app is a fixture)

BASE_OPTIONS = 5  # -Xmx64m, -Dx=1, the class path and the two launcher properties


@pytest.fixture
def cache(wine):
    """(Windows form ending in a backslash, host path) of the class-data cache, emptied."""
    yield from wine.emptied_cds_cache()

def cds_app(java_app, version, arch="win32", cds=True):
    app = java_app(arch, options=("-Xmx64m",), properties=("x=1",), extra=["--cds"] if cds else [])
    set_release(app, version)
    (app.jvm.dll.parent / "classes.jsa").write_bytes(b"the runtime's own archive")
    return app


def set_release(app, version):
    (app.jvm.home / "release").write_text('IMPLEMENTOR="test"\nJAVA_VERSION="%s"\n' % version)


def added(launch):
    launch.check_success()
    return launch.options[BASE_OPTIONS:]


@pytest.mark.parametrize("arch", ["win32", "win64"])
def test_jdk17_writes_a_dynamic_archive_under_localappdata_then_uses_it(java_app, cache, arch):
    prefix, folder = cache
    env = {}
    app = cds_app(java_app, "17.0.9", arch)
    options = added(app.launch(script=["class app/Main"], env=env))
    assert options[:2] == ["-Xshare:auto", "-Xlog:cds*=off"], options
    assert len(options) == 3 and options[2].startswith("-XX:ArchiveClassesAtExit=" + prefix), options
    writing = options[2].split("=", 1)[1]
    assert writing.endswith(".jsa.tmp")
    # This runtime wrote nothing: the placeholder is gone when the process ended.
    assert list(folder.iterdir()) == []

    # An archive of this executable and runtime, as a finished start leaves it.
    name = writing.rsplit("\\", 1)[1]
    finished = name[:name.rindex("-") + 1] + "4096.jsa"
    (folder / finished).write_bytes(b"a" * 4096)
    options = added(app.launch(script=["class app/Main"], env=env))
    assert options == ["-Xshare:auto", "-Xlog:cds*=off", "-XX:SharedArchiveFile=" + prefix + finished,
                       "-XX:+VerifySharedSpaces"], options
    # Cut short, it is not used again.
    (folder / finished).write_bytes(b"a" * 100)
    options = added(app.launch(script=["class app/Main"], env=env))
    assert options[2].startswith("-XX:ArchiveClassesAtExit="), options


def test_each_version_gets_its_mechanism(java_app, cache):
    prefix, folder = cache
    env = {}
    app = cds_app(java_app, "11.0.2")
    assert added(app.launch(script=["class app/Main"], env=env)) == []
    assert not folder.exists(), "nothing made for a runtime without a mechanism"

    set_release(app, "21.0.1")
    options = added(app.launch(script=["class app/Main"], env=env))
    assert options[:3] == ["-Xshare:auto", "-Xlog:cds*=off", "-XX:+AutoCreateSharedArchive"], options
    assert options[3].startswith("-XX:SharedArchiveFile=" + prefix) and len(options) == 4, options
    executable_part = options[3][len("-XX:SharedArchiveFile=" + prefix):][:17]

    # From 25 on native access comes first, before the sharing options.
    set_release(app, "25.0.1")
    options = added(app.launch(script=["class app/Main"], env=env))
    assert options[0] == "--enable-native-access=ALL-UNNAMED", options
    options = options[1:]
    assert options == ["-Xshare:auto", "-Xlog:aot*=off", "-Xlog:cds*=off", "-XX:+AutoCreateSharedArchive",
                       options[4]], options
    # With bin\java.exe, a static archive from a class list, beside the runtime's own archive
    # too: nothing is recorded for an AOT cache (which costs the start before main).
    launcher = app.jvm.home / "bin" / "java.exe"
    launcher.write_bytes(b"")
    options = added(app.launch(script=["class app/Main"], env=env))[1:]
    assert options[:3] == ["-Xshare:auto", "-Xlog:aot*=off", "-Xlog:cds*=off"], options
    # Another identity (another version), this executable's name part.
    assert len(options) == 4 and re.fullmatch(
        re.escape("-XX:DumpLoadedClassList=" + prefix + executable_part) + r"[0-9a-f]{16}-\d+\.classlist\.tmp",
        options[3]), options
    assert list(folder.iterdir()) == []


def test_cds_off_or_absent_passes_nothing_extra(java_app, cache):
    folder = cache[1]
    for cds in (False, True):
        app = cds_app(java_app, "17.0.9", cds=cds)
        if cds:
            (app.dir / (app.exe.stem + ".cfg")).write_bytes(b"cds off\r\n")
        launch = app.launch(script=["class app/Main"])
        assert added(launch) == [], launch.describe()
        assert not folder.exists()
    # Without the runtime's own archive beside jvm.dll (nor bin\java.exe to dump a static
    # one with), 13 to 24 get nothing.
    (app.dir / (app.exe.stem + ".cfg")).write_bytes(b"")
    (app.jvm.dll.parent / "classes.jsa").unlink()
    assert added(app.launch(script=["class app/Main"])) == []
    set_release(app, "25")
    (app.jvm.home / "bin" / "java.exe").write_bytes(b"")
    options = added(app.launch(script=["class app/Main"]))
    assert options[1:4] == ["-Xshare:auto", "-Xlog:aot*=off", "-Xlog:cds*=off"], options
    assert options[4].startswith("-XX:DumpLoadedClassList=") and len(options) == 5, options
    # Without a release file the version is unknown: nothing either.
    (app.dir / (app.exe.stem + ".cfg")).unlink()
    (app.jvm.home / "release").unlink()
    assert added(app.launch(script=["class app/Main"])) == []


@pytest.mark.parametrize("arch", ["win32", "win64"])
def test_the_archive_is_finished_when_java_ends_the_process_itself(java_app, cache, arch):
    """The runtime writes its archive at its end; the launcher names it when the process ends,
    also after System.exit, when the runtime exits through its own C library and the entry
    point never returns."""
    prefix, folder = cache
    app = cds_app(java_app, "17.0.9", arch)
    for n, end in enumerate(["main returns", "main exit 3"]):
        launch = app.launch(script=["dumps-archive", "class app/Main", end], env={})
        assert launch.run.returncode == 3 * n, launch.describe()
        written = [l for l in launch.lines if l.startswith("archive-written ")]
        assert len(written) == 1 and written[0].endswith(".jsa.tmp"), launch.describe()
        archives = [p.name for p in folder.iterdir()]
        assert len(archives) == 1 and archives[0].endswith("-4096.jsa"), (archives, launch.describe())
        assert ("runtime-exit 3" in launch.lines) == (end == "main exit 3"), launch.describe()
        # The next start uses it; the one after a System.exit is the new one.
        options = added(app.launch(script=["class app/Main"], env={}))
        assert options[2] == "-XX:SharedArchiveFile=" + prefix + archives[0], options
        (folder / archives[0]).unlink()
