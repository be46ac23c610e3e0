"""Finding jvm.dll: the configured path, the registry, the environment, their order, and the
PATH retry for a runtime whose dependencies live beside its bin directory."""
import shutil

import pytest

from kvx_support import same_path
from vm_support import copy_file, java_app, stand_in_file, winpath  # noqa: F401  (java_app is a fixture)

JAVASOFT = r"HKLM\SOFTWARE\JavaSoft\Java Runtime Environment"
IBM = r"HKLM\SOFTWARE\IBM\Java2 Runtime Environment"


@pytest.fixture
def java_registry(wine):
    """register(key, version, runtime_lib, view): one runtime in the prefix, removed afterwards."""
    def register(key, version, runtime_lib, view="/reg:32"):
        for args in (("add", key, "/v", "CurrentVersion", "/d", version, "/f", view),
                     ("add", key + "\\" + version, "/v", "RuntimeLib", "/d", runtime_lib, "/f", view)):
            code, out, err = wine.reg(*args)
            assert code == 0, "reg %s failed: %s%s" % (" ".join(args), out, err)

    wine.delete_registry_keys((JAVASOFT, IBM))
    yield register
    wine.delete_registry_keys((JAVASOFT, IBM))


def other_home(tmp_path, builds, name, arch="win32"):
    """A second Java home with its own copy of the test JVM."""
    return copy_file(stand_in_file(builds, arch, "jvm.dll"), tmp_path / name / "bin" / "client" / "jvm.dll")


def test_relative_jvmdll(java_app, no_java_registry):
    app = java_app(jvmdll="jre-win32\\bin\\client\\jvm.dll")
    launch = app.launch(script=["class app/Main"])
    launch.check_success()
    assert same_path(launch.library, winpath(app.jvm.dll)), launch.describe()


def test_jvmdll_with_variables(java_app, no_java_registry, tmp_path):
    app = java_app(jvmdll="%KVX_TEST_JRE%\\bin\\client\\jvm.dll")
    launch = app.launch(script=["class app/Main"], env={"KVX_TEST_JRE": winpath(app.jvm.home)})
    launch.check_success()
    assert same_path(launch.library, winpath(app.jvm.dll)), launch.describe()
    # Unset, the reference stays as written: the configured path yields nothing and the
    # environment, searched last, finds the runtime.
    launch = app.launch(script=["class app/Main"], env={"JRE_HOME": winpath(app.jvm.home)})
    launch.check_success()
    assert same_path(launch.library, winpath(app.jvm.dll)), launch.describe()


def test_nothing_found(java_app, no_java_registry):
    app = java_app(jvmdll="%KVX_TEST_UNSET%\\jvm.dll")
    launch = app.launch(script=["class app/Main"], expect_box=True)
    launch.check_failure(1)
    assert launch.lines == [], launch.describe()


@pytest.mark.parametrize("key", [JAVASOFT, IBM])
def test_registry_runtime_lib(java_app, java_registry, key):
    app = java_app(jvmdll="")
    java_registry(key, "1.6", winpath(app.jvm.dll))
    launch = app.launch(script=["class app/Main"])
    launch.check_success()
    assert same_path(launch.library, winpath(app.jvm.dll)), launch.describe()


def test_stale_runtime_lib_finds_a_sibling(java_app, java_registry):
    app = java_app(jvmdll="")
    java_registry(JAVASOFT, "1.6", winpath(app.jvm.home / "bin" / "classic" / "jvm.dll"))
    launch = app.launch(script=["class app/Main"])
    launch.check_success()
    assert same_path(launch.library, winpath(app.jvm.dll)), launch.describe()


def test_runtime_lib_longer_than_260_bytes_is_not_read(java_app, java_registry):
    app = java_app(jvmdll="")
    # Shortened by two elements it would name the runtime's bin directory, were it read at all.
    long_value = winpath(app.jvm.home / "bin") + "\\" + "x" * 300 + "\\jvm.dll"
    java_registry(JAVASOFT, "1.6", long_value)
    launch = app.launch(script=["class app/Main"], expect_box=True)
    launch.check_failure(1)


def test_empty_jre_home_then_java_home(java_app, no_java_registry, tmp_path, builds):
    jdk = tmp_path / "jdk"
    copy_file(stand_in_file(builds, "win32", "jvm.dll"), jdk / "jre" / "bin" / "client" / "jvm.dll")
    app = java_app(jvmdll="", jre_order="e")
    launch = app.launch(script=["class app/Main"], env={"JRE_HOME": "", "JAVA_HOME": winpath(jdk)})
    launch.check_success()
    assert same_path(launch.library, winpath(jdk / "jre" / "bin" / "client" / "jvm.dll")), launch.describe()


@pytest.mark.parametrize("order, expected", [("E", "env"), ("123", "configured"), ("e-s", "registry"),
                                             ("ee", "env")])
def test_jre_order(java_app, java_registry, tmp_path, builds, order, expected):
    homes = {"configured": other_home(tmp_path, builds, "configured"), "env": other_home(tmp_path, builds, "env"),
             "registry": other_home(tmp_path, builds, "registry")}
    # kvxpack accepts only proper orders; the launcher reads whatever the line holds.
    config = tmp_path / "order.cfg"
    config.write_text("jre_order %s\n" % order)
    app = java_app(jvmdll=winpath(homes["configured"]), config=config)
    env = {}
    if order == "e-s":
        java_registry(JAVASOFT, "1.6", winpath(homes["registry"]))  # the environment has nothing
    else:
        env["JRE_HOME"] = winpath(tmp_path / "env")
    launch = app.launch(script=["class app/Main"], env=env)
    launch.check_success()
    assert same_path(launch.library, winpath(homes[expected])), launch.describe()


@pytest.mark.parametrize("arch", ["win32", "win64"])
def test_path_retry_finds_the_dependency_beside_bin(java_app, no_java_registry, tmp_path, builds, arch):
    home = tmp_path / "jre-needsdep"
    dll = copy_file(stand_in_file(builds, arch, "jvm-needsdep", "jvm.dll"), home / "bin" / "client" / "jvm.dll")
    copy_file(stand_in_file(builds, arch, "jvmdep.dll"), home / "bin" / "jvmdep.dll")
    app = java_app(arch, jvmdll=winpath(dll))
    launch = app.launch(script=["record-env PATH", "class app/Main"])
    launch.check_success()
    assert launch.has("dependency jvmdep"), launch.describe()
    path = launch.starting("env PATH=")
    assert path and path[0].endswith(";" + winpath(home / "bin" / "client") + "\\.."), launch.describe()


def test_without_the_dependency_the_runtime_is_not_found(java_app, no_java_registry, tmp_path, builds):
    dll = copy_file(stand_in_file(builds, "win32", "jvm-needsdep", "jvm.dll"), tmp_path / "lonely" / "jvm.dll")
    launch = java_app(jvmdll=winpath(dll)).launch(script=["class app/Main"], expect_box=True)
    launch.check_failure(1)
