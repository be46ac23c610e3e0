"""The class path and the working directory the runtime is created with."""
import pytest

from vm_support import java_app, windir, winpath  # noqa: F401  (java_app is a fixture)


def touch(path):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(b"PK\x05\x06" + bytes(18))
    return path


def test_classpath_lines_and_variables(java_app, tmp_path):
    app = java_app(classpath=("lib\\a.jar;;D:\\x", ";", "only.jar;missing.jar", "\\abs\\b.jar;/unix/c.jar"))
    touch(app.dir / "lib" / "a.jar")
    start = tmp_path / "start"
    touch(start / "only.jar")  # planted in the start-up folder: never taken
    touch(start / "lib" / "a.jar")
    launch = app.launch(script=["class app/Main"], cwd=start,
                        env={"CLASSPATH": ";", "CLASS_PATH": "E:\\y.jar;;F:\\z.jar;"})
    launch.check_success()
    home = windir(app.dir)
    assert launch.option("-Djava.class.path=").split(";") == [
        winpath(app.exe), home + "lib\\a.jar", "D:\\x", home + "only.jar", home + "missing.jar",
        "\\abs\\b.jar", "/unix/c.jar", "E:\\y.jar", "F:\\z.jar"], launch.describe()


def test_empty_classpath_variables_add_nothing(java_app):
    app = java_app()
    launch = app.launch(script=["class app/Main"], env={"CLASSPATH": "", "CLASS_PATH": ""})
    launch.check_success()
    assert launch.option("-Djava.class.path=") == winpath(app.exe), launch.describe()


def test_libs_are_scanned_recursively(java_app, tmp_path):
    app = java_app(libs=("libs", "missing", winpath(tmp_path / "ext")))
    libs = app.dir / "libs"
    for name in ("x.jar", "a.jar.old", "B.ZIP", "noext", "sub/c.Jar", "sub/deeper/d.zip", "nested.jar/e.jar",
                 "sub/readme.txt"):
        touch(libs / name)
    touch(tmp_path / "ext" / "f.jar")
    launch = app.launch(script=["class app/Main"])
    launch.check_success()
    entries = launch.option("-Djava.class.path=").split(";")
    base = winpath(libs)
    assert entries[0] == winpath(app.exe), launch.describe()
    # Backslashes only, as the loader documentation asks of the paths the launcher builds.
    assert sorted(entries[1:-1]) == sorted(base + "\\" + n for n in ("x.jar", "B.ZIP", "sub\\c.Jar",
                                                                       "sub\\deeper\\d.zip", "nested.jar\\e.jar"))
    # A sub-directory's archives stand where the scan met it: together.
    sub = [i for i, e in enumerate(entries) if e.startswith(base + "\\sub\\")]
    assert sub == list(range(sub[0], sub[0] + 2)), launch.describe()
    assert entries[-1] == winpath(tmp_path / "ext") + "\\f.jar", launch.describe()


def rooted(path):
    """`path` as a rooted Windows path without a drive: \\tmp\\..."""
    return str(path).replace("/", "\\")


@pytest.mark.parametrize("case", ["dot", "dotdot", "data", "rooted", "missing", "temp"])
def test_forcecwd_is_relative_to_the_executable(java_app, tmp_path, case):
    app_dir = tmp_path / "app"
    start = tmp_path / "start"
    (app_dir / "data").mkdir(parents=True)
    (tmp_path / "rooted").mkdir()
    start.mkdir()
    value, expected = {
        "dot": (".", winpath(app_dir)),
        "dotdot": ("..", winpath(tmp_path)),
        "data": ("data", winpath(app_dir / "data")),
        "rooted": (rooted(tmp_path / "rooted"), winpath(tmp_path / "rooted")),
        "missing": ("no-such-dir", winpath(start)),
        "temp": ("%TEMP%", None),
    }[case]
    app = java_app(out_name="app/app.exe", forcecwd=value)
    launch = app.launch(script=["record-env TEMP", "class app/Main", "main cwd"], cwd=start)
    launch.check_success()
    if expected is None:
        temp = launch.starting("env TEMP=")
        assert temp and temp[0], launch.describe()
        expected = temp[0].rstrip("\\")
    assert launch.cwd.lower() == expected.lower(), launch.describe()
    assert launch.has("cwd " + launch.cwd), launch.describe()  # main ran in the same directory
