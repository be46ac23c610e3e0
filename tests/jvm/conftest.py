"""End-to-end tests of the Linux launcher with the real OpenJDK: executables packed with
kvxpack from build/host/kvx, started as a user would, every run under a timeout."""
import os
import shutil
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "shared"))
import kvx_support  # noqa: E402
JDK = "/usr/lib/jvm/java-17-openjdk-amd64"
STUB = os.path.join(ROOT, "build", "host", "kvx")
KVXPACK = os.path.join(ROOT, "build", "host", "kvxpack")
RUNTIME_JAR = os.path.join(ROOT, "build", "java", "kvx-runtime.jar")
APPS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "apps")
# The stack-depth helper both suites' test programs use.
STACK_DEPTH = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "shared", "java", "app",
                           "StackDepth.java")


def require(path):
    """A build output, as a string for command lines; the test fails when it is not built."""
    return str(kvx_support.need(path, os.path.basename(path)))


@pytest.fixture(scope="session")
def jars(tmp_path_factory):
    """app.jar (package app) and lib.jar (package lib), compiled for Java 8."""
    out = tmp_path_factory.mktemp("jars")
    for name in ("lib", "app"):
        classes = out / f"{name}-classes"
        classes.mkdir()
        sources = [os.path.join(APPS, name, f) for f in sorted(os.listdir(os.path.join(APPS, name)))]
        if name == "app":
            sources.append(str(STACK_DEPTH))
        cp = ["-cp", str(out / "lib-classes")] if name == "app" else []
        subprocess.run([f"{JDK}/bin/javac", "--release", "8", "-Xlint:-options", "-d", str(classes)] + cp + sources,
                       check=True, timeout=120)
        subprocess.run([f"{JDK}/bin/jar", "cf", str(out / f"{name}.jar"), "-C", str(classes), "."],
                       check=True, timeout=60)
    return {"app": str(out / "app.jar"), "lib": str(out / "lib.jar")}


@pytest.fixture
def pack(tmp_path, jars):
    """pack(name, main=..., options=[...], **kvxpack long options) -> path of a packed executable."""
    def _pack(name="app", main="app.Props", jar=None, directory=None, **options):
        target_dir = directory or tmp_path
        os.makedirs(target_dir, exist_ok=True)
        out = os.path.join(str(target_dir), name)
        command = [require(KVXPACK), "--stub", require(STUB), "--jar", jar or jars["app"], "-o", out]
        if main is not None:
            command += ["--main", main]
        # The classic order keeps these tests on the system's OpenJDK 17; the tests of the
        # other methods name their order.
        options.setdefault("jre_order", "csie")
        for key, value in options.items():
            flag = "--" + key.replace("_", "-")
            for item in (value if isinstance(value, list) else [value]):
                command += [flag, item]
        subprocess.run(command, check=True, timeout=60)
        return out
    return _pack


def clean_env(**extra):
    env = {k: v for k, v in os.environ.items()
           if k not in ("JAVA_HOME", "JRE_HOME", "CLASSPATH", "CLASS_PATH", "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS")}
    env["LC_ALL"] = "C.UTF-8"
    env.update(extra)
    return env


@pytest.fixture
def run():
    """run(exe, *args, env=None, cwd=None) -> CompletedProcess (text), under a timeout."""
    def _run(exe, *args, env=None, cwd=None, timeout=60):
        return subprocess.run([exe, *args], capture_output=True, text=True, errors="replace",
                              env=env if env is not None else clean_env(), cwd=cwd, timeout=timeout)
    return _run


def properties(stdout):
    values = {}
    for line in stdout.splitlines():
        if "=" in line:
            key, _, value = line.partition("=")
            values.setdefault(key, value)
    return values
