"""Today's runtimes: the JavaSoft keys of Java 9+, vendors' keys (machine-wide and per user),
a runtime shipped beside the executable, the choice by version, the architecture check, the
loader's search for the runtime's own libraries, the default order, the exit codes, the
java.version comparison and KVX_TRACE."""
import pytest

from kvx_support import same_path
from vm_support import copy_file, java_app, stand_in_file, winpath  # noqa: F401  (java_app is a fixture)

JAVASOFT = r"HKLM\SOFTWARE\JavaSoft\Java Runtime Environment"
IBM = r"HKLM\SOFTWARE\IBM\Java2 Runtime Environment"
# Every key these tests may write, removed before and after each test (both views, both hives).
ROOTS = [r"SOFTWARE\JavaSoft", r"SOFTWARE\IBM", r"SOFTWARE\Eclipse Adoptium", r"SOFTWARE\Microsoft\JDK",
         r"SOFTWARE\Semeru", r"SOFTWARE\Azul Systems", r"SOFTWARE\BellSoft", r"SOFTWARE\Amazon"]
VIEW = {"win32": "/reg:32", "win64": "/reg:64"}
BITS = {"win32": 32, "win64": 64}
OTHER = {"win32": "win64", "win64": "win32"}


@pytest.fixture
def registry(wine, tmp_path):
    """add(key, view, **values): writes string values under a key; every test key goes at the end."""
    # One import per view removes them all: a reg.exe run per key would cost seconds each.
    removal = tmp_path / "remove-test-keys.reg"
    removal.write_text("Windows Registry Editor Version 5.00\r\n\r\n" + "".join(
        "[-%s\\%s]\r\n\r\n" % (hive, root) for root in ROOTS
        for hive in ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER")), encoding="utf-16")

    def clean():
        for view in ("/reg:32", "/reg:64"):
            code, out, err = wine.reg("import", winpath(removal), view)
            assert code == 0, "reg import failed: %s%s" % (out, err)
        code, _, _ = wine.reg("query", r"HKLM\SOFTWARE\JavaSoft", "/reg:32")
        assert code != 0, "the test keys are still there"

    def add(key, view, **values):
        for name, data in values.items():
            code, out, err = wine.reg("add", key, "/v", name, "/d", data, "/f", view)
            assert code == 0, "reg add %s %s failed: %s%s" % (key, name, out, err)

    clean()
    yield add
    clean()


def java_home(tmp_path, builds, name, arch="win32", version=None, variant=("jvm.dll",)):
    """A Java home tmp_path/name with the stand-in runtime in bin\\client and, with a version,
    a release file. Returns (home, dll)."""
    home = tmp_path / name
    dll = copy_file(stand_in_file(builds, arch, *variant), home / "bin" / "client" / "jvm.dll")
    if version:
        (home / "release").write_text('IMPLEMENTOR="test"\nJAVA_VERSION="%s"\n' % version)
    return home, dll


VENDORS = {
    # name: (key below the hive, value naming the home)
    "adoptium": (r"SOFTWARE\Eclipse Adoptium\JDK\17.0.9.9\hotspot\MSI", "Path"),
    "microsoft": (r"SOFTWARE\Microsoft\JDK\17.0.9.8\hotspot\MSI", "Path"),
    "semeru": (r"SOFTWARE\Semeru\JDK\17.0.9.9\openj9\MSI", "Path"),
    "zulu": (r"SOFTWARE\Azul Systems\Zulu\zulu-17", "InstallationPath"),
    "liberica": (r"SOFTWARE\BellSoft\Liberica\jdk-17", "InstallationPath"),
    "corretto": (r"SOFTWARE\Amazon\Amazon Corretto\17.0.9.8\MSI", "INSTALLDIR"),
}


@pytest.mark.parametrize("hive", ["HKLM", "HKCU"])
@pytest.mark.parametrize("vendor", sorted(VENDORS))
def test_each_vendor_layout_is_found(java_app, registry, builds, tmp_path, vendor, hive):
    home, dll = java_home(tmp_path, builds, "vendor-jdk")
    key, value = VENDORS[vendor]
    registry(hive + "\\" + key, "/reg:32", **{value: winpath(home)})
    app = java_app("win32", jvmdll="", jre_order="v")
    launch = app.launch(script=["class app/Main"])
    launch.check_success()
    assert same_path(launch.library, winpath(dll)), launch.describe()


def test_javasoft_keys_highest_version_meeting_minjre_wins_across_hives(java_app, registry, builds, tmp_path):
    h11, _ = java_home(tmp_path, builds, "jdk-11", version="11.0.21")
    h17, d17 = java_home(tmp_path, builds, "jdk-17", version="17.0.9")
    h21, d21 = java_home(tmp_path, builds, "jdk-21", version="21.0.1")
    view = "/reg:32"
    registry(r"HKLM\SOFTWARE\JavaSoft\JDK", view, CurrentVersion="11")
    registry(r"HKLM\SOFTWARE\JavaSoft\JDK\11", view, JavaHome=winpath(h11))
    registry(r"HKLM\SOFTWARE\JavaSoft\JRE\17", view, JavaHome=winpath(h17),
             RuntimeLib=winpath(h17 / "bin" / "client" / "jvm.dll"))
    # The per-user install is the newest.
    registry(r"HKCU\SOFTWARE\JavaSoft\JDK\21", view, JavaHome=winpath(h21))
    launch = java_app("win32", jvmdll="", jre_order="j", minjre="11").launch(script=["class app/Main"])
    launch.check_success()
    assert same_path(launch.library, winpath(d21)), launch.describe()
    # 21 lacks its library now: the next highest, 17 (its RuntimeLib), is taken.
    d21.unlink()
    launch = java_app("win32", "second.exe", jvmdll="", jre_order="j", minjre="17").launch(
        script=["class app/Main"])
    launch.check_success()
    assert same_path(launch.library, winpath(d17)), launch.describe()


def test_bundled_runtime_needs_no_configuration(java_app, registry, builds, tmp_path):
    # kvxpack's own order and no jvmdll: runtime\ beside the executable, by its release file
    # ahead of the older jre\.
    app = java_app("win32", jvmdll="")
    _, newer = java_home(app.dir, builds, "runtime", version="21")
    java_home(app.dir, builds, "jre", version="17")
    launch = app.launch(script=["class app/Main"])
    launch.check_success()
    assert same_path(launch.library, winpath(newer)), launch.describe()


@pytest.mark.parametrize("locale, text", [
    ("en_US", "A Java runtime was found at %s, but it is %d-bit; this program is %d-bit."),
    ("zh_TW", "在 %s 找到了 Java 運行環境，但它是 %d 位元的；本程式是 %d 位元的。"),
    ("zh_CN", "在 %s 找到了 Java 运行环境，但它是 %d 位的；本程序是 %d 位的。"),
])
@pytest.mark.parametrize("arch", ["win32", "win64"])
def test_runtime_of_the_other_architecture_is_skipped_and_named(java_app, registry, builds, tmp_path, arch, locale,
                                                                 text):
    wrong_home, wrong = java_home(tmp_path, builds, "wrong", arch=OTHER[arch])
    app = java_app(arch, jvmdll=winpath(wrong), jre_order="ce")
    trace = tmp_path / "trace.txt"
    launch = app.launch(script=["class app/Main"], expect_box=True, locale=locale,
                        env={"KVX_TRACE": winpath(trace)})
    expected = text % (winpath(wrong), BITS[OTHER[arch]], BITS[arch])
    assert launch.run.box is not None and launch.run.box.get("text") == expected, launch.describe()
    assert launch.run.returncode == 9 and launch.lines == [], launch.describe()
    lines = trace.read_text().splitlines()
    assert "kvx: candidate %s: rejected, wrong architecture (%d-bit; this program is %d-bit)" % (
        winpath(wrong), BITS[OTHER[arch]], BITS[arch]) in lines, lines

    if locale != "en_US":
        return
    # With a runtime of its own kind in JAVA_HOME the search goes on to it, silently.
    right_home, right = java_home(tmp_path, builds, "right", arch=arch)
    launch = app.launch(script=["class app/Main"], env={"JAVA_HOME": winpath(right_home)})
    launch.check_success()
    assert same_path(launch.library, winpath(right)), launch.describe()


def test_default_order_is_csie_with_every_method_at_hand(java_app, registry, builds, tmp_path, pack, wine):
    """No jre_order line: c, then s, then i, then e; the new methods (a bundled runtime\\, the
    JavaSoft JDK key) are present and never used."""
    homes = {m: java_home(tmp_path, builds, "home-" + m) for m in ("c", "s", "i", "e", "j")}
    app = java_app("win32", jvmdll=winpath(homes["c"][1]), jre_order="")
    java_home(app.dir, builds, "runtime")
    registry(JAVASOFT, "/reg:32", CurrentVersion="1.8")
    registry(JAVASOFT + r"\1.8", "/reg:32", RuntimeLib=winpath(homes["s"][1]))
    registry(IBM, "/reg:32", CurrentVersion="1.6")
    registry(IBM + r"\1.6", "/reg:32", RuntimeLib=winpath(homes["i"][1]))
    registry(r"HKLM\SOFTWARE\JavaSoft\JDK\21", "/reg:32", JavaHome=winpath(homes["j"][0]))
    env = {"JRE_HOME": winpath(homes["e"][0])}
    for method in ("c", "s", "i", "e"):
        launch = app.launch(script=["class app/Main"], env=env)
        launch.check_success()
        assert same_path(launch.library, winpath(homes[method][1])), "%s\n%s" % (method, launch.describe())
        homes[method][1].unlink()  # the next run must fall through to the next method


def test_dependency_planted_in_the_working_directory_never_loads(java_app, no_java_registry, builds, tmp_path):
    home, dll = java_home(tmp_path, builds, "needsdep", variant=("jvm-needsdep", "jvm.dll"))
    start = tmp_path / "start"
    copy_file(stand_in_file(builds, "win32", "jvmdep.dll"), start / "jvmdep.dll")
    app = java_app("win32", jvmdll=winpath(dll), jre_order="c")
    launch = app.launch(script=["class app/Main"], cwd=str(start), expect_box=True)
    launch.check_failure(1)
    assert not launch.has("dependency jvmdep"), launch.describe()
    # The genuine one beside the runtime (its bin folder) is found by the retry.
    copy_file(stand_in_file(builds, "win32", "jvmdep.dll"), home / "bin" / "jvmdep.dll")
    launch = app.launch(script=["class app/Main"], cwd=str(start))
    launch.check_success()
    assert launch.has("dependency jvmdep"), launch.describe()


def test_retry_after_a_java_home_search_names_the_runtime_bin_folder(java_app, no_java_registry, builds, tmp_path):
    # JAVA_HOME of a JDK 8 layout: discovery yields <jdk>\jre\bin\client\jvm.dll (backslashes
    # only); the runtime's libraries sit in jre\bin.
    jdk = tmp_path / "jdk8"
    copy_file(stand_in_file(builds, "win32", "jvm-needsdep", "jvm.dll"), jdk / "jre" / "bin" / "client" / "jvm.dll")
    copy_file(stand_in_file(builds, "win32", "jvmdep.dll"), jdk / "jre" / "bin" / "jvmdep.dll")
    app = java_app("win32", jvmdll="", jre_order="e")
    launch = app.launch(script=["record-env PATH", "class app/Main"], env={"JAVA_HOME": winpath(jdk)})
    launch.check_success()
    assert launch.has("dependency jvmdep"), launch.describe()
    assert launch.starting("env PATH=")[0].endswith(";" + winpath(jdk) + "\\jre\\bin\\client\\.."), launch.describe()


@pytest.mark.parametrize("arch", ["win32", "win64"])
def test_exit_codes(java_app, no_java_registry, arch):
    app = java_app(arch)
    assert app.launch(script=["class app/Main"]).run.returncode == 0
    launch = app.launch(script=["class app/Main", "main exit 3"])
    assert launch.run.returncode == 3, launch.describe()
    launch = app.launch(script=["class app/Main", "main throws java.lang.IllegalStateException boom"])
    assert launch.run.returncode == 1, launch.describe()
    launch = app.launch(script=["class other/Main"], expect_box=True)
    launch.check_failure(7)
    missing = java_app(arch, "nojre-%s.exe" % arch, jvmdll="%KVX_UNSET_TEST%\\jvm.dll", jre_order="c")
    missing.launch(script=["class app/Main"], expect_box=True).check_failure(1)


@pytest.mark.parametrize("minjre, passes", [("11", False), ("1.8", True), ("8", True)])
def test_minjre_reads_java_version_not_the_machine_number(java_app, no_java_registry, minjre, passes):
    # HotSpot 8: java.version 1.8.0_292, java.vm.version 25.292-b10.
    script = ["java-version 1.8.0_292", "version 25.292-b10", "class app/Main"]
    launch = java_app(minjre=minjre).launch(script=script, expect_box=not passes)
    if passes:
        launch.check_success()
    else:
        launch.check_failure(6, "Java virtual machine version 1.8 is too low, require 11.0 or higher.")
    assert launch.has("getproperty java.version") and not launch.has("getproperty java.vm.version"), launch.describe()


@pytest.mark.parametrize("minjre", ["1.8", "17"])
def test_minjre_accepts_a_modern_runtime(java_app, no_java_registry, minjre):
    launch = java_app(minjre=minjre).launch(script=["java-version 17.0.9", "version 17.0.9+9", "class app/Main"])
    launch.check_success()


def test_trace_to_standard_error_and_nothing_when_unset(java_app, no_java_registry, tmp_path):
    app = java_app(options=("-Xmx64m",))
    launch = app.launch(script=["class app/Main"], env={"KVX_TRACE": "-"})
    launch.check_success()
    for expected in ("kvx: search order: cbjvsie", "kvx: method c: configured path (jvmdll)",
                     "kvx: chose " + winpath(app.jvm.dll), "kvx: option -Xmx64m", "kvx: main class app.Main",
                     "kvx: outcome 0, exit code 0"):
        assert expected in launch.run.stderr.splitlines(), "%r\n%s" % (expected, launch.describe())
    before = sorted(p.name for p in tmp_path.iterdir())
    quiet = app.launch(script=["class app/Main"])
    assert "kvx:" not in quiet.run.stderr, quiet.describe()
    assert sorted(p.name for p in tmp_path.iterdir()) == before


@pytest.mark.parametrize("arch", ["win32", "win64"])
def test_the_trace_of_a_failed_search_names_every_folder_and_key_it_probed(java_app, registry, tmp_path, arch):
    """Nothing anywhere: the trace says where each method looked, so a user learns where a
    runtime would have been found, and it tells of no load with an empty path."""
    app = java_app(arch, jvmdll="", jre_order="cbjvsie")
    # A JavaSoft key with a version but no library, and a Java home without one.
    registry(r"HKLM\SOFTWARE\JavaSoft\JDK\21", VIEW[arch], JavaHome=winpath(tmp_path / "gone"))
    trace = tmp_path / "trace.txt"
    launch = app.launch(script=["class app/Main"], expect_box=True, env={"KVX_TRACE": winpath(trace)})
    launch.check_failure(1)
    lines = trace.read_text().splitlines()
    text = "\n".join(lines)
    exe_dir = winpath(app.dir) + "\\"
    expected = ["kvx: jvmdll: not set"]
    expected += ["kvx: folder %s%s\\: missing" % (exe_dir, f) for f in ("runtime", "jre", "jdk")]
    expected += ["kvx: registry %s\\SOFTWARE\\JavaSoft\\%s: missing" % (hive, key)
                 for hive in ("HKLM", "HKCU") for key in ("JDK", "JRE") if (hive, key) != ("HKLM", "JDK")]
    expected += ["kvx: registry %s\\SOFTWARE\\%s: missing" % (hive, root) for hive in ("HKLM", "HKCU")
                 for root in ("Eclipse Adoptium", "Eclipse Foundation", "AdoptOpenJDK", "Microsoft\\JDK",
                              "Semeru", "Azul Systems\\Zulu", "Azul Systems\\Zulu 32-bit", "BellSoft\\Liberica",
                              "Amazon\\Amazon Corretto")]
    expected += ["kvx: registry HKLM\\SOFTWARE\\JavaSoft\\Java Runtime Environment: missing",
                 "kvx: registry HKLM\\SOFTWARE\\IBM\\Java2 Runtime Environment: missing",
                 "kvx: JRE_HOME: not set", "kvx: JAVA_HOME: not set", "kvx: no runtime found"]
    missing = [l for l in expected if l not in lines]
    assert not missing, "not in the trace: %s\n%s" % (missing, text)
    # The home the key names, with every folder searched in it.
    gone = winpath(tmp_path / "gone")
    assert "kvx: registry HKLM\\SOFTWARE\\JavaSoft\\JDK\\21: home " + gone in lines, text
    assert ("kvx: home %s: no usable jvm.dll (looked in %s\\, %s\\bin\\, %s\\jre\\bin\\, %s\\..\\jre\\bin\\ and one "
            "level below each)" % (gone, gone, gone, gone, gone)) in lines, text
    assert not any("load" in l for l in lines), text
    assert not any(l.endswith(": ") or '""' in l or "  " in l for l in lines), "an empty path\n" + text
    assert lines[-2:] == ["kvx: no runtime found", "kvx: outcome 1, exit code 1"], text
