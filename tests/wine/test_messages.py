"""A launch that finds no Java runtime ends in one message box, in the user's language."""
import shutil

import pytest

ARCHES = ("win32", "win64")

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
