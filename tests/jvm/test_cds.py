"""Class-data sharing (`cds auto`) with real runtimes: the first start writes the archive,
later starts map it (shown by the runtime's own class-loading log, written to a file so
that the application's output stays as it is), and nothing that goes wrong with the
archive changes what the application does or prints."""
import os
import shutil
import subprocess
import time
import zipfile

import pytest

from conftest import JDK, KVXPACK, STUB, clean_env, require

TEMURIN25 = "/usr/lib/jvm/temurin-25-jdk-amd64"
# A runtime made with jlink has no archive of its own: its java dumps a static archive.
JLINKED = "jlinked-jdk17"
# The one place where a missing runtime skips: JDK 25 is tested where it exists.
RUNTIMES = [
    pytest.param((JDK, ".jsa", "source: shared objects file (top)"), id="jdk17-dynamic-archive"),
    pytest.param((TEMURIN25, ".static.jsa", "source: shared objects file"), id="jdk25-static-archive",
                 marks=pytest.mark.skipif(not os.path.exists(TEMURIN25 + "/lib/server/libjvm.so"),
                                          reason=TEMURIN25 + " is not installed on this machine")),
    pytest.param(JLINKED, id="jdk17-jlinked-static-archive"),
]
PROPS_KEYS = ("argc=", "arg0=", "x=")


@pytest.fixture(scope="session")
def jlinked_jdk17(tmp_path_factory):
    """A runtime image of JDK 17 made with jlink from the JDK's own jmods, as applications
    bundle one: no lib/server/classes.jsa."""
    jlink = require(JDK + "/bin/jlink")
    require(JDK + "/jmods/java.base.jmod")
    home = tmp_path_factory.mktemp("jlinked") / "jdk17"
    subprocess.run([jlink, "--add-modules", "java.base", "--strip-debug", "--no-header-files", "--no-man-pages",
                    "--output", str(home)], check=True, timeout=300)
    assert not (home / "lib" / "server" / "classes.jsa").exists()
    assert (home / "bin" / "java").exists()
    return str(home)


@pytest.fixture(params=RUNTIMES)
def runtime(request):
    if request.param == JLINKED:
        return (request.getfixturevalue("jlinked_jdk17"), ".static.jsa", "source: shared objects file")
    return request.param


class CdsApp:
    def __init__(self, tmp_path, jars, runtime, main="app.Props", cds=True, extra=()):
        self.home, self.suffix, self.mapped = runtime
        self.tmp_path = tmp_path
        self.cache = tmp_path / "cache"
        self.exe = str(tmp_path / "bin" / "app")
        self.runs = 0
        self.pack(jars, main, cds, extra)

    def pack(self, jars, main, cds, extra=()):
        os.makedirs(os.path.dirname(self.exe), exist_ok=True)
        command = [require(KVXPACK), "--stub", require(STUB), "--jar", jars["app"], "--main", main,
                   "--jvmdll", self.home + "/lib/server/libjvm.so", "--jre-order", "c",
                   "--property", "x=1", "--option", "-Xlog:class+load=info:file=%KVX_TEST_LOADLOG%",
                   *extra, "-o", self.exe]
        if cds:
            command.insert(1, "--cds")
        subprocess.run(command, check=True, timeout=60)

    def run(self, *args, cache=None, timeout=300, **env_extra):
        """One start; returns (CompletedProcess, class-loading log text)."""
        self.runs += 1
        log = self.tmp_path / ("load-%d.log" % self.runs)
        env = clean_env(XDG_CACHE_HOME=str(cache or self.cache), HOME=str(self.tmp_path / "home"),
                        KVX_TEST_LOADLOG=str(log), **env_extra)
        result = subprocess.run([self.exe, *args], capture_output=True, text=True, errors="replace", env=env,
                                timeout=timeout)
        return result, (log.read_text(errors="replace") if log.exists() else "")

    def files(self):
        folder = self.cache / "kvx" / "cds"
        return sorted(os.listdir(folder)) if folder.exists() else []

    def archives(self):
        return [f for f in self.files() if f.endswith(self.suffix)]

    def check_mapped(self, log, main="app.Props"):
        lines = [l for l in log.splitlines() if " %s source: " % main in l]
        assert lines and self.mapped in lines[0], "main class not mapped from the archive:\n%s" % "\n".join(lines)


def check_props(result):
    """The output of app.Props with one argument, exactly: nothing else on either stream."""
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""
    lines = result.stdout.splitlines()
    assert lines[:2] == ["argc=1", "arg0=[a]"], result.stdout
    assert [l for l in lines if l.startswith("x=")] == ["x=1"]
    assert len(lines) == 9, result.stdout


def test_first_start_writes_the_archive_and_later_starts_map_it(tmp_path, jars, runtime):
    app = CdsApp(tmp_path, jars, runtime)
    first, log = app.run("a")
    check_props(first)
    loaded = [l for l in log.splitlines() if " app.Props source: " in l]
    assert loaded and "shared objects file" not in loaded[0], loaded
    assert len(app.archives()) == 1 and app.files() == app.archives(), app.files()
    for _ in range(2):
        again, log = app.run("a")
        check_props(again)
        app.check_mapped(log)
    assert len(app.archives()) == 1, app.files()


def test_a_jlinked_runtime_lists_its_classes_then_maps_the_static_archive_and_says_so(tmp_path, jars,
                                                                                      jlinked_jdk17):
    runtime = (jlinked_jdk17, ".static.jsa", "source: shared objects file")
    app = CdsApp(tmp_path, jars, runtime)
    trace = tmp_path / "trace.txt"
    first, log = app.run("a", KVX_TRACE=str(trace))
    check_props(first)
    said = trace.read_text()
    assert "cds: no classes.jsa beside %s/lib/server/libjvm.so" % jlinked_jdk17 in said, said
    assert "static archive from a class list" in said and "cds: adds option -XX:DumpLoadedClassList=" in said, said
    [archive] = app.archives()
    trace.unlink()
    again, log = app.run("a", KVX_TRACE=str(trace))
    check_props(again)
    app.check_mapped(log)
    said = trace.read_text()
    assert "cds: using %s" % (app.cache / "kvx" / "cds" / archive) in said, said
    assert "DumpLoadedClassList" not in said and "native access: runtime version \"17" in said, said
    assert "option --enable-native-access" not in said, said


def test_a_changed_executable_gets_a_new_archive_and_the_old_one_goes(tmp_path, jars, runtime):
    app = CdsApp(tmp_path, jars, runtime)
    check_props(app.run("a")[0])
    old = app.archives()
    assert len(old) == 1
    time.sleep(0.01)
    app.pack(jars, "app.Props", True, ["--property", "y=2"])
    check_props(app.run("a")[0])
    new = app.archives()
    assert len(new) == 1 and new != old, (old, new)
    assert new[0][:17] == old[0][:17], "one executable, one name prefix"
    result, log = app.run("a")
    check_props(result)
    app.check_mapped(log)


@pytest.mark.parametrize("damage", ["truncated", "flipped", "garbage"])
def test_a_damaged_archive_changes_nothing_and_is_replaced_when_cut_short(tmp_path, jars, runtime, damage):
    app = CdsApp(tmp_path, jars, runtime)
    check_props(app.run("a")[0])
    [name] = app.archives()
    path = app.cache / "kvx" / "cds" / name
    data = bytearray(path.read_bytes())
    if damage == "truncated":
        data = data[: len(data) // 3]
    elif damage == "flipped":
        for offset in range(len(data) // 2, len(data) // 2 + 4096, 7):
            data[offset] ^= 0x5A
    else:
        data = bytearray(os.urandom(len(data)))
    path.write_bytes(bytes(data))
    for _ in range(2):
        check_props(app.run("a")[0])
    if damage == "truncated":
        # The size in the name no longer matched: a fresh archive of the same identity
        # replaced it, and maps.
        [fresh] = app.archives()
        assert fresh.rsplit("-", 1)[0] == name.rsplit("-", 1)[0]
        size = (app.cache / "kvx" / "cds" / fresh).stat().st_size
        assert fresh.endswith("-%d%s" % (size, app.suffix))
        app.check_mapped(app.run("a")[1])


def test_a_cache_folder_that_cannot_be_made_leaves_the_launch_alone(tmp_path, jars, runtime):
    app = CdsApp(tmp_path, jars, runtime)
    blocker = tmp_path / "not-a-folder"
    blocker.write_text("a file where the cache folder would go")
    for _ in range(2):
        check_props(app.run("a", cache=blocker)[0])
    assert blocker.read_text() == "a file where the cache folder would go"


def test_a_nearly_full_disk_writes_nothing(tmp_path, jars, runtime):
    """A runtime that runs out of room while writing turns the exit code into an error; on a
    small volume the launcher does not ask it to write."""
    app = CdsApp(tmp_path, jars, runtime, main="app.Exit3")
    small = tmp_path / "small"
    small.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", str(small)],
                             capture_output=True, text=True, timeout=30)
    assert mounted.returncode == 0, "a small volume is needed for this test: " + mounted.stderr
    try:
        for _ in range(2):
            result, _ = app.run(cache=small)
            assert (result.returncode, result.stdout, result.stderr) == (3, "", "")
        assert not os.listdir(small / "kvx" / "cds")
    finally:
        subprocess.run(["umount", str(small)], timeout=30)


def test_simultaneous_first_starts_all_run_and_leave_one_archive(tmp_path, jars, runtime):
    app = CdsApp(tmp_path, jars, runtime)
    # A log file each: runtimes that start together on one log file race to rotate it and
    # say so on standard error.
    envs = [clean_env(XDG_CACHE_HOME=str(app.cache), HOME=str(tmp_path / "home"),
                      KVX_TEST_LOADLOG=str(tmp_path / ("parallel-%d.log" % n))) for n in range(4)]
    procs = [subprocess.Popen([app.exe, "a"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
             for env in envs]
    try:
        for p in procs:
            out, err = p.communicate(timeout=600)
            check_props(subprocess.CompletedProcess(p.args, p.returncode, out, err))
    finally:
        for p in procs:
            if p.poll() is None:
                p.kill()
    assert len(app.archives()) == 1 and app.files() == app.archives(), app.files()
    result, log = app.run("a")
    check_props(result)
    app.check_mapped(log)


@pytest.mark.parametrize("main", ["app.Exit3", "app.Throws"])
def test_system_exit_and_exceptions_end_as_without_sharing(tmp_path, jars, runtime, main):
    plain = CdsApp(tmp_path / "plain", jars, runtime, main=main, cds=False)
    expected, _ = plain.run()
    assert not plain.files()
    app = CdsApp(tmp_path / "cds", jars, runtime, main=main)
    for i in range(2):
        result, log = app.run()
        assert (result.returncode, result.stdout, result.stderr) == \
            (expected.returncode, expected.stdout, expected.stderr), "start %d" % (i + 1)
    # The archive is written even when Java ends the process itself, and maps next time.
    assert len(app.archives()) == 1, app.files()
    app.check_mapped(log, main)


def test_cds_off_and_configured_sharing_options_add_nothing(tmp_path, jars):
    runtime = (JDK, ".jsa", "source: shared objects file (top)")
    app = CdsApp(tmp_path / "off", jars, runtime, cds=False, extra=["--config", str(write(tmp_path, "cds off"))])
    check_props(app.run("a")[0])
    check_props(app.run("a")[0])
    assert not app.files()
    mine = CdsApp(tmp_path / "own", jars, runtime, extra=["--option", "-Xshare:off"])
    check_props(mine.run("a")[0])
    result, log = mine.run("a")
    check_props(result)
    assert not mine.files() and "shared objects file" not in log


def write(tmp_path, text):
    path = tmp_path / "extra.cfg"
    path.write_text(text + "\n")
    return path


def test_a_folder_on_the_class_path_rules_sharing_out(tmp_path, jars, runtime):
    """The runtimes end with exit code 1 and an error when archiving beside a folder that holds
    files: with one on the class path nothing is added."""
    classes = tmp_path / "bin" / "classes"
    classes.mkdir(parents=True)
    (classes / "data.txt").write_text("a file in a class path folder")
    app = CdsApp(tmp_path, jars, runtime, main="app.Exit3", extra=["--classpath", "classes"])
    for _ in range(2):
        result, _ = app.run()
        assert (result.returncode, result.stdout, result.stderr) == (3, "", "")
    assert not app.files()


def test_a_changed_library_jar_gets_a_new_archive(tmp_path, jars, runtime):
    """The runtimes refuse an archive once a jar it holds classes of changed; the launcher then
    writes a new one instead of starting without sharing from then on."""
    app = CdsApp(tmp_path, jars, runtime, main="app.UsesLib", extra=["--libs", "lib"])
    lib = tmp_path / "bin" / "lib"
    lib.mkdir()
    shutil.copy(jars["lib"], lib / "lib.jar")

    def start():
        result, log = app.run()
        assert (result.returncode, result.stdout, result.stderr) == (0, "lib says hello from lib\n", ""), result
        return log

    start()
    old = app.archives()
    app.check_mapped(start(), "lib.Helper")

    with zipfile.ZipFile(lib / "lib.jar", "a") as jar:
        jar.writestr("lib/notes.txt", "a newer build of the library")
    start()
    new = app.archives()
    assert len(new) == 1 and new != old, (old, new)
    app.check_mapped(start(), "lib.Helper")
