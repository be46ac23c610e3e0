"""Running Java through a packed executable: the options the runtime receives, the minimum
version check, the main class and its arguments, and the teardown."""
import pytest

from vm_support import CREATE_LINE, java_app, windir, winpath  # noqa: F401  (java_app is a fixture)

ARCHES = ("win32", "win64")


@pytest.mark.parametrize("arch", ARCHES)
def test_options_in_order_and_arguments_reach_main(java_app, arch, tmp_path):
    # The text lists a property first: options still come before every property.
    config = tmp_path / "order.txt"
    config.write_bytes(b"property x=1\r\noption -Xmx64m\r\nproperty a.b=c d\r\noption -Xms8m\r\n")
    app = java_app(arch, config=config)
    args = ["one", "two words", 'say "hi"', "\u00e9t\u00e9", ""]
    launch = app.launch(args, script=["class app/Main", "main returns"])
    launch.check_success()
    exe = winpath(app.exe)
    # Only the configured options: no hook either, which a runtime would list among the
    # application's input arguments.
    assert launch.lines[0] == CREATE_LINE % 7, launch.describe()
    assert not [l for l in launch.lines if l.startswith("hook ")], launch.describe()
    assert launch.options == ["-Xmx64m", "-Xms8m", "-Dx=1", "-Da.b=c d", "-Djava.class.path=" + exe,
                              "-Dkvx.app.path=" + exe, "-Dapplication.home=" + windir(app.dir)], launch.describe()
    assert launch.main_args == args, launch.describe()
    # The version is asked for only with a minjre line.
    assert not launch.has("findclass java/lang/System"), launch.describe()
    assert launch.index("findclass app/Main") < launch.index("main app/Main argc=5")


@pytest.mark.parametrize("arch", ARCHES)
@pytest.mark.parametrize("utf8", [False, True], ids=["legacy-code-page", "utf8-manifest"])
def test_arguments_outside_the_code_page_reach_main_whole(java_app, arch, utf8, tmp_path):
    """Under a Chinese locale (code page 936) Hangul and an emoji have no ANSI form: they
    still reach main exactly, and the configuration text keeps its code page."""
    config = tmp_path / ("zh-%s-%s.txt" % (arch, utf8))
    config.write_bytes("property \u8def\u5f84=\u4e2d\u6587\r\n".encode("utf-8" if utf8 else "gbk"))
    app = java_app(arch, out_name="args-%s-%s.exe" % (arch, utf8), config=config,
                   extra=["--utf8"] if utf8 else [])
    args = ["\ud55c\uad6d\uc5b4.txt", "\U0001F600", "\u4e2d\u6587 \u00e9", ""]
    launch = app.launch(args, script=["class app/Main", "main returns"], locale="zh_CN")
    launch.check_success()
    assert launch.main_args == args, launch.describe()
    assert "-D\u8def\u5f84=\u4e2d\u6587" in launch.options, launch.describe()


def test_no_arguments_give_an_empty_array(java_app):
    launch = java_app().launch(script=["class app/Main"])
    launch.check_success()
    assert launch.has("main app/Main argc=0") and launch.main_args == [], launch.describe()


def test_side_file_comes_first_but_cannot_change_the_main_class(java_app):
    app = java_app(options=("-Dembedded=1",), minjre="1.6")
    (app.dir / (app.exe.stem + ".cfg")).write_bytes(b"option -Dside=1\r\nminjre 1.5\r\nmainclass other.Main")
    (app.dir / (app.exe.stem + ".config")).write_bytes(b"option -Dconfig=1\r\n")
    launch = app.launch(script=["version 1.5.0_22-b03", "class app/Main", "class other/Main"])
    launch.check_success()
    assert launch.options[:2] == ["-Dside=1", "-Dembedded=1"], launch.describe()
    assert not any("config=1" in o for o in launch.options), launch.describe()
    assert launch.has("main app/Main argc=0") and not launch.has("findclass other/Main"), launch.describe()
    # Without a .cfg the .config is read.
    (app.dir / (app.exe.stem + ".cfg")).unlink()
    launch = app.launch(script=["class app/Main"])
    launch.check_success()
    assert launch.options[:2] == ["-Dconfig=1", "-Dembedded=1"], launch.describe()


def test_side_file_minjre_overrides_the_embedded_one(java_app):
    app = java_app(minjre="1.6")
    (app.dir / (app.exe.stem + ".cfg")).write_bytes(b"minjre 1.7\r\n")
    launch = app.launch(script=["version 1.6.0_45-b06", "class app/Main"], expect_box=True)
    launch.check_failure(6, "Java virtual machine version 1.6 is too low, require 1.7 or higher.")


@pytest.mark.parametrize("version", ["20.45-b01", "1.6.0-b105", "null"])
def test_versions_that_pass(java_app, version):
    launch = java_app(minjre="1.6").launch(script=["version " + version, "class app/Main"])
    launch.check_success()
    assert launch.has("getproperty java.vm.version"), launch.describe()


def test_version_too_low(java_app):
    launch = java_app(minjre="1.6").launch(script=["version 1.5.0_22-b03", "class app/Main"], expect_box=True)
    launch.check_failure(6, "Java virtual machine version 1.5 is too low, require 1.6 or higher.")
    launch.check_teardown()


def test_version_that_cannot_be_read(java_app):
    launch = java_app(minjre="1.6").launch(script=["version-fail", "class app/Main"], expect_box=True)
    launch.check_failure(5)
    launch.check_teardown()


def test_without_minjre_the_version_is_never_asked(java_app):
    launch = java_app().launch(script=["version-fail", "class app/Main"])
    launch.check_success()
    assert not launch.has("findclass java/lang/System"), launch.describe()


def test_dotted_main_class_is_looked_up_slashed(java_app):
    launch = java_app(main="pkg.sub.Main").launch(["x"], script=["class pkg/sub/Main"])
    launch.check_success()
    assert launch.has("findclass pkg/sub/Main") and launch.main_args == ["x"], launch.describe()


def test_missing_main_class(java_app):
    launch = java_app(main="app.Missing").launch(script=["class app/Main"], expect_box=True)
    launch.check_failure(7)
    assert launch.has("exception-describe java.lang.NoClassDefFoundError: app/Missing"), launch.describe()
    assert "java.lang.NoClassDefFoundError: app/Missing" in launch.run.stderr, launch.describe()
    launch.check_teardown()


def test_missing_main_method(java_app):
    launch = java_app().launch(script=["class app/Main", "main missing"], expect_box=True)
    launch.check_failure(8)
    assert "java.lang.NoSuchMethodError: main" in launch.run.stderr, launch.describe()
    launch.check_teardown()


@pytest.mark.parametrize("arch", ARCHES)
def test_exception_out_of_main_is_described_not_reported(java_app, arch):
    launch = java_app(arch).launch(["a"], script=["class app/Main", "main throws java.lang.IllegalStateException boom"])
    launch.check_success(exit_code=1)  # as java ends after an exception out of main
    assert launch.has("exception-describe java.lang.IllegalStateException: boom"), launch.describe()
    assert 'Exception in thread "main" java.lang.IllegalStateException: boom' in launch.run.stderr, launch.describe()


def test_teardown_waits_for_non_daemon_threads(java_app):
    launch = java_app().launch(script=["class app/Main", "main thread worker 1500", "main returns"])
    launch.check_success()
    order = [launch.index(l) for l in ("thread-start worker", "detach", "destroy", "destroy-waits threads=1",
                                       "thread-end worker", "destroyed global-refs=0 pinned-strings=0", "unload")]
    assert order == sorted(order), launch.describe()
    assert launch.run.seconds >= 1.5, launch.describe()
