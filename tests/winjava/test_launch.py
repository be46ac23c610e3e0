"""A packed application on a real Java runtime: what main receives, what the VM was given,
and the exit codes of every way an application ends."""
import pytest

from conftest import winpath

MISSING_MAIN = "The main startup class could not be found."


@pytest.fixture
def configured(pack, runtime, jars, tmp_path):
    """An executable in tmp/app that names JDK 21's jvm.dll, with a class path entry, a libs
    folder holding a jar two levels down, options, properties and a working directory."""
    home = tmp_path / "app"
    (home / "cp").mkdir(parents=True)
    (home / "cp" / "liba.jar").write_bytes(jars["liba"].read_bytes())
    nested = home / "libs" / "sub" / "deeper"
    nested.mkdir(parents=True)
    (nested / "libb.jar").write_bytes(jars["libb"].read_bytes())
    (home / "work").mkdir()

    def make(name="app.exe", **more):
        options = dict(jvmdll=winpath(runtime("jdk21").jvm_dll), jre_order="c", option=["-Xmx64m", "-Xss16m"],
                       property=["probe.x=hello world", "probe.y=%APP_WORD%", "probe.depth=1"], classpath="cp\\liba.jar", libs="libs",
                       forcecwd="work")
        options.update(more)
        return pack(name, folder=home, **options)

    return make


def test_arguments_options_properties_class_path_and_cwd_reach_the_vm(configured, launch, runtime, jars, tmp_path):
    exe = configured()
    args = ["plain", "two words", 'with "quotes"', "back\\slash\\", "", "-Xmx1g", "-Dprobe.x=not a property"]
    run = launch(exe, ["props", *args], env={"CLASSPATH": winpath(jars["libc"]), "APP_WORD": "expanded"})
    f = run.fields
    assert run.returncode == 0 and run.stderr == "", run.describe()
    assert [f.get("arg.%d" % i) for i in range(int(f["args"]))] == \
        ["plain", "two words", 'with "quotes"', "back\\slash\\", "", "-Xmx1g", "-Dprobe.x=not a property"], \
        run.describe()
    # -Xmx64m reached the VM; an -Xmx1g among the arguments did not.
    assert 48 << 20 <= int(f["maxMemory"]) <= 64 << 20, run.describe()
    # -Xss16m holds for main's thread too (as under java), not the executable's 2 MB.
    assert int(f["depth.main"]) * 2 > int(f["depth.thread"]) > 0, run.describe()
    assert f["java.version"] == runtime("jdk21").version, run.describe()
    assert f["java.home"].lower() == winpath(runtime("jdk21").home).lower(), run.describe()
    assert (f["probe.x"], f["probe.y"]) == ("hello world", "expanded"), run.describe()
    # forcecwd: the working directory Java sees, whatever the program was started from.
    work = winpath(tmp_path / "app" / "work")
    assert f["user.dir"].lower() == work.lower() and f["cwd"].lower() == work.lower(), run.describe()
    assert f["kvx.app.path"].lower() == winpath(exe).lower(), run.describe()
    # classpath, libs (nested) and CLASSPATH, each reached by the real class loader.
    assert f["class.lib.LibA"].endswith("/app/cp/liba.jar"), run.describe()
    assert f["class.lib.LibB"].endswith("/app/libs/sub/deeper/libb.jar"), run.describe()
    assert f["class.lib.LibC"].endswith("/libc.jar"), run.describe()


def test_exit_codes_of_real_java(configured, launch, pack, runtime, tmp_path):
    exe = configured()
    run = launch(exe, ["exit", "7"])
    assert run.returncode == 7 and run.fields.get("exiting") == "7", run.describe()

    run = launch(exe, ["throw"])
    assert run.returncode == 1, run.describe()
    # Reported as java reports it: by the thread group, through System.err, in one piece.
    assert run.stderr.startswith('Exception in thread "main" java.lang.IllegalStateException: thrown out of main\n'
                                 '\tat app.Probe.main('), run.describe()

    # The application's own handler reports it, as with java; the exit code stays 1.
    run = launch(exe, ["handled"])
    assert run.returncode == 1 and run.fields.get("handled") == "thrown to the handler on main", run.describe()
    assert run.stderr == "", run.describe()

    # A non-daemon thread keeps the process until it ends, and the exit code stays 0.
    run = launch(exe, ["thread", "3000"])
    f = run.fields
    assert run.returncode == 0 and "thread.ended.ms" in f, run.describe()
    assert int(f["thread.ended.ms"]) - int(f["main.returns.ms"]) >= 2900, run.describe()

    missing = configured("missing.exe", main="app.Missing")
    run = launch(missing, expect_box=True)
    assert run.returncode == 7, run.describe()
    assert run.run.traced_texts == [MISSING_MAIN], run.describe()


# JDK 24 and later warn on System.load without native access enabled; that warning is the
# launcher's business elsewhere, not this check's.
NATIVE_ACCESS_WARNING = ("WARNING: A restricted method", "WARNING: java.lang.System::load", "WARNING: Use --enable",
                         "WARNING: Restricted methods")


@pytest.mark.parametrize("name", ["jdk11", "jdk21", "jdk25"])
def test_each_runtime_starts_the_application_and_loads_the_executable_as_its_library(pack, launch, runtime, name):
    rt = runtime(name)
    exe = pack("each-%s.exe" % name, jvmdll=winpath(rt.jvm_dll), jre_order="c", option="-Xmx64m")
    run = launch(exe, ["api", "one", "two words"], trace=True)
    f = run.fields
    assert run.returncode == 0, run.describe()
    assert (f.get("java.version"), f.get("args"), f.get("arg.1"), f.get("splash")) == \
        (rt.version, "2", "two words", "false"), run.describe()
    assert 48 << 20 <= int(f["maxMemory"]) <= 64 << 20, run.describe()
    assert [l for l in run.stderr.splitlines() if not l.startswith(NATIVE_ACCESS_WARNING)] == [], run.describe()
    assert any(l.endswith("chose " + winpath(rt.jvm_dll).replace("\\server\\jvm.dll", "\\server/jvm.dll")) or
               l.endswith("chose " + winpath(rt.jvm_dll)) for l in run.trace), run.describe()
