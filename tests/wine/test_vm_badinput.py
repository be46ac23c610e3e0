"""What a broken runtime or an outsized configuration does to a launch: one message at most,
exit code 0, and a runtime library that is freed again."""
import os

from vm_support import CREATE_LINE, java_app, stand_in_file, winpath  # noqa: F401  (java_app is a fixture)


def test_jvmdll_naming_a_directory(java_app, no_java_registry, tmp_path):
    (tmp_path / "a-directory").mkdir()
    launch = java_app(jvmdll=winpath(tmp_path / "a-directory")).launch(expect_box=True)
    launch.check_failure(1)


def test_jvmdll_of_random_bytes(java_app, no_java_registry, tmp_path):
    junk = tmp_path / "junk" / "jvm.dll"
    junk.parent.mkdir()
    junk.write_bytes(os.urandom(64 * 1024))
    launch = java_app(jvmdll=winpath(junk)).launch(expect_box=True)
    launch.check_failure(1)


def test_library_without_the_entry_point(java_app, no_java_registry, builds):
    launch = java_app(jvmdll=winpath(stand_in_file(builds, "win32", "jvmdep.dll"))).launch(expect_box=True)
    launch.check_failure(2)


def test_creation_failing_frees_the_library(java_app):
    launch = java_app(options=("-Xmx32m",)).launch(["a"], script=["create-result -1"], expect_box=True)
    launch.check_failure(4)
    # Four options and nothing else.
    assert launch.lines[:2] == [CREATE_LINE % 4, "option -Xmx32m"], launch.describe()
    assert launch.lines[-1] == "unload" and not launch.has("destroy"), launch.describe()


def test_rejected_standard_option(java_app):
    launch = java_app(options=("-cp", "x.jar")).launch(expect_box=True)
    launch.check_failure(4)
    assert launch.has("unrecognized-option -cp") and launch.lines[-1] == "unload", launch.describe()


def test_ten_thousand_options(java_app):
    app = java_app(options=("-Dlast=1",))
    values = ["-Dopt%05d=%s" % (i, "v" * (i % 50)) for i in range(10000)]
    (app.dir / (app.exe.stem + ".cfg")).write_text("".join("option %s\r\n" % v for v in values))
    launch = app.launch(["x"], script=["class app/Main"])
    launch.check_success()
    assert launch.options[:10001] == values + ["-Dlast=1"], "options lost or out of order"
    assert len(launch.options) == 10004 and launch.lines[0] == CREATE_LINE % 10004


def test_class_path_of_a_hundred_thousand_characters(java_app):
    app = java_app()
    entries = ["C:\\lib\\%04d\\%s.jar" % (i, "x" * 90) for i in range(1000)]
    (app.dir / (app.exe.stem + ".cfg")).write_text("".join("classpath %s\r\n" % e for e in entries))
    launch = app.launch(script=["class app/Main"])
    launch.check_success()
    class_path = launch.option("-Djava.class.path=")
    assert len(class_path) > 100000
    assert class_path == ";".join([winpath(app.exe)] + entries)
