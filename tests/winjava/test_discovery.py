"""Finding a real runtime by discovery alone: a bundled runtime\\ folder, the JavaSoft JDK
keys, the Adoptium key and JAVA_HOME, versions read from the runtimes' own release files,
and what KVX_TRACE shows of it."""
import os

import pytest

from conftest import winpath

TOO_LOW = "Java virtual machine version %d.0 is too low, require 26.0 or higher."


def traced(run, *fragments):
    """Each fragment appears in some trace line, in this order."""
    at = 0
    for fragment in fragments:
        hits = [i for i, line in enumerate(run.trace) if i >= at and fragment.lower() in line.lower()]
        assert hits, "KVX_TRACE lacks %r (after line %d)\n%s" % (fragment, at, run.describe())
        at = hits[0] + 1


def chose(run, rt):
    assert run.returncode == 0, run.describe()
    assert run.fields.get("java.version") == rt.version, run.describe()
    traced(run, "chose " + winpath(rt.home))


@pytest.fixture
def registered(wine):
    """register(key, **values) adds an HKLM key in the 64-bit view; all are removed afterwards."""
    added = []

    def register(key, **values):
        for name, value in values.items():
            code, out, err = wine.reg("add", key, "/v", name, "/d", value, "/f", "/reg:64")
            assert code == 0, (key, out, err)
        added.append(key)

    yield register
    wine.delete_registry_keys(added)


def test_bundled_runtime_folder_needs_no_configuration(pack, launch, runtime, tmp_path, no_java_registry):
    rt = runtime("jdk21")
    home = tmp_path / "bundled"
    home.mkdir()
    # A link to the unpacked runtime: Wine resolves host links like folders, and the launcher
    # reads through them as through a copied folder.
    os.symlink(rt.home, home / "runtime")
    exe = pack("bundled.exe", folder=home)
    run = launch(exe, ["props"], trace=True)
    assert run.returncode == 0, run.describe()
    assert run.fields["java.version"] == rt.version, run.describe()
    link = "Z:" + str(home).replace("/", "\\") + "\\runtime"
    assert run.fields["java.home"].lower() == link.lower(), run.describe()
    assert run.stderr == "", run.describe()
    traced(run, "search order: cbjvsie", "method b", "version %d.0" % rt.feature,
           "chose " + link, "main class app.Probe", "outcome 0")


def test_javasoft_keys_highest_release_version_wins_and_minjre_names_it(pack, launch, runtime, registered,
                                                                        no_java_registry):
    low, high = runtime("jdk21"), runtime("jdk25")
    # Key names that rank the other way round: the release files must decide.
    registered(r"HKLM\SOFTWARE\JavaSoft\JDK", CurrentVersion="99")
    registered(r"HKLM\SOFTWARE\JavaSoft\JDK\99", JavaHome=winpath(low.home))
    registered(r"HKLM\SOFTWARE\JavaSoft\JDK\1", JavaHome=winpath(high.home))
    run = launch(pack("javasoft.exe", jre_order="j"), ["props"], trace=True)
    chose(run, high)
    traced(run, "method j", r"JavaSoft\JDK\1", "candidate %s: version %d.0" % (winpath(high.home), high.feature))
    assert any("JavaSoft\\JDK\\99" in l for l in run.trace), run.describe()

    # Above every runtime: the highest is started so that the message names its version.
    run = launch(pack("minjre.exe", jre_order="j", minjre="26"), ["props"], trace=True, expect_box=True)
    assert run.returncode == 6, run.describe()
    assert run.run.traced_texts == [TOO_LOW % high.feature], run.describe()
    assert "main.ms" not in run.fields, run.describe()
    traced(run, "minjre: 26", "rejected, too old (%d.0, minjre 26.0)" % high.feature,
           "chose " + winpath(high.home))


def test_adoptium_key_and_java_home(pack, launch, runtime, registered, no_java_registry):
    rt = runtime("jdk21")
    registered(r"HKLM\SOFTWARE\Eclipse Adoptium\JDK\21.0.8.9\hotspot\MSI", Path=winpath(rt.home) + "\\")
    run = launch(pack("adoptium.exe", jre_order="v"), ["props"], trace=True)
    chose(run, rt)
    traced(run, "method v", r"Eclipse Adoptium\JDK\21.0.8.9\hotspot\MSI", "version 21.0")

    other = runtime("jdk25")
    run = launch(pack("javahome.exe", jre_order="e"), ["props"], env={"JAVA_HOME": winpath(other.home)}, trace=True)
    chose(run, other)
    traced(run, "method e", "JAVA_HOME: " + winpath(other.home))
