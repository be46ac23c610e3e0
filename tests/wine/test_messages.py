"""A launch that finds no Java runtime ends in one message box, in the user's language."""
import os
import shutil
import subprocess
from pathlib import Path

import pytest

ARCHES = ("win32", "win64")
ROOT = Path(__file__).resolve().parents[2]

# caption, text of code 1 ("no runtime") per user locale
NOT_FOUND = {
    "en_US": ("Error", "Java Runtime Environment not found."),
    "zh_TW": ("錯誤", "Java 運行環境未找到。"),
    "zh_CN": ("错误", "Java 运行环境未找到。"),
}


def check_one_warning(run, caption, text):
    assert run.box is not None, "no message box was seen\n" + run.describe()
    assert (run.box["caption"], run.box["text"]) == (caption, text), run.describe()
    # One OK button, the warning icon, no owner (without bitmap 100 there is no splash).
    assert run.box["buttons"] == "1", run.describe()
    assert run.box["icon"] == "1", run.describe()
    assert run.box["owner"] == "0", run.describe()
    assert run.traced_texts == [text], "exactly one message box\n" + run.describe()
    assert run.returncode == 1, run.describe()  # "not found" is launch error 1


@pytest.mark.parametrize("locale", sorted(NOT_FOUND))
@pytest.mark.parametrize("arch", ARCHES)
def test_packed_app_without_runtime(wine, builds, pack, no_java_registry, arch, locale):
    exe = pack(builds.kvx(arch), "app-%s.exe" % arch, main="app.Main")
    run = wine.run(exe, ["one", "two"], locale=locale, expect_box=True)
    check_one_warning(run, *NOT_FOUND[locale])


@pytest.mark.parametrize("arch", ARCHES)
def test_bare_stub_without_runtime(wine, builds, tmp_path, no_java_registry, arch):
    # Nothing appended at all: no configuration, and still the same single message.
    exe = tmp_path / ("stub-%s.exe" % arch)
    shutil.copy2(builds.kvx(arch), exe)
    run = wine.run(exe, locale="en_US", expect_box=True)
    check_one_warning(run, *NOT_FOUND["en_US"])


@pytest.mark.parametrize("arch", ARCHES)
def test_console_launcher_without_a_desktop_says_it_on_standard_error(builds, tmp_path, arch):
    """kvxc.exe started where no box can be shown (a build server, a remote shell): the message
    still reaches the user, on standard error, and the exit code says why."""
    exe = tmp_path / ("cli-%s.exe" % arch)
    shutil.copy2(builds.need(builds.dir(arch) / "kvxc.exe", "the %s console launcher" % arch), exe)
    env = {k: v for k, v in os.environ.items() if k not in ("JAVA_HOME", "JRE_HOME", "LANG", "LC_ALL", "LANGUAGE")}
    env["LC_ALL"] = "C.UTF-8"
    # tools/wine-run's own prefix (the unit tests' one), run without a display.
    try:
        run = subprocess.run([str(ROOT / "tools" / "wine-run"), "--timeout", "120", str(exe)], env=env,
                             capture_output=True, timeout=180)
    except subprocess.TimeoutExpired:
        pytest.fail("kvxc.exe did not end without a display", pytrace=False)
    err = run.stderr.decode("utf-8", "replace")
    assert run.returncode == 1, (run.returncode, err)
    assert NOT_FOUND["en_US"][1] in [l.strip() for l in err.splitlines()], err
    assert run.stdout == b"", run.stdout
