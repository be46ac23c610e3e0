"""kvx-maven-plugin with real Maven: a sample project with one dependency from the project's
Maven repository (build/m2, filled by tools/prepare-maven-repo), built offline in a temporary
folder. One build serves most checks; the failures each cost one short Maven run."""
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "shared"))
import kvx_support  # noqa: E402

JDK = "/usr/lib/jvm/java-17-openjdk-amd64"
REPO = ROOT / "build" / "m2"
POM_NS = {"m": "http://maven.apache.org/POM/4.0.0"}
KINDS = {"x64": "hello.exe", "x86": "hello-x86.exe", "console": "hello-console.exe", "host": "hello"}

HELLO = """package com.example;

import org.apache.commons.codec.digest.DigestUtils;

public class Hello {
    public static void main(String[] args) {
        System.out.println("java " + System.getProperty("java.specification.version"));
        System.out.println("mode " + System.getProperty("hello.mode"));
        for (String arg : args) System.out.println("arg [" + arg + "]");
        System.out.println("md5 " + DigestUtils.md5Hex("kvx"));
    }
}
"""


def parent_properties():
    root = ET.parse(ROOT / "java" / "pom.xml").getroot()
    version = root.find("m:version", POM_NS).text
    props = {child.tag.split("}")[1]: child.text for child in root.find("m:properties", POM_NS)}
    return version, props


def sample_pom(version, props):
    plugins = "".join(
        f"<plugin><groupId>org.apache.maven.plugins</groupId><artifactId>maven-{name}-plugin</artifactId>"
        f"<version>{props['version.' + name]}</version></plugin>"
        for name in ("compiler", "resources", "jar", "surefire", "install", "clean"))
    return f"""<project xmlns="http://maven.apache.org/POM/4.0.0">
  <modelVersion>4.0.0</modelVersion>
  <groupId>com.example</groupId>
  <artifactId>hello</artifactId>
  <version>2.3.4</version>
  <name>Hello Sample</name>
  <description>Says
     hello</description>
  <organization><name>Example Corp</name></organization>
  <properties>
    <project.build.sourceEncoding>UTF-8</project.build.sourceEncoding>
    <maven.compiler.release>8</maven.compiler.release>
    <project.build.outputTimestamp>2026-01-01T00:00:00Z</project.build.outputTimestamp>
    <hello.main>com.example.Hello</hello.main>
  </properties>
  <dependencies>
    <dependency><groupId>commons-codec</groupId><artifactId>commons-codec</artifactId><version>1.17.1</version></dependency>
  </dependencies>
  <build>
    <pluginManagement><plugins>{plugins}</plugins></pluginManagement>
    <plugins>
      <plugin>
        <groupId>com.quorvane.kvx</groupId>
        <artifactId>kvx-maven-plugin</artifactId>
        <version>{version}</version>
        <executions><execution><goals><goal>pack</goal></goals></execution></executions>
        <configuration>
          <arch><arch>x64</arch><arch>x86</arch><arch>console</arch><arch>host</arch></arch>
          <mainClass>${{hello.main}}</mainClass>
          <jreOrder>csie</jreOrder>
          <options><option>-Xmx64m</option></options>
          <properties><hello.mode>packed</hello.mode></properties>
        </configuration>
      </plugin>
    </plugins>
  </build>
</project>
"""


def mvn(project, *args, cache):
    """mvn -o package in `project`; returns (exit code, output)."""
    command = [kvx_support.tool("mvn"), "-B", "-o", "-ntp", f"-Dmaven.repo.local={REPO}", f"-Dkvx.cache={cache}",
               "package", *args]
    env = {k: v for k, v in os.environ.items() if k not in ("MAVEN_OPTS", "MAVEN_ARGS")}
    env["JAVA_HOME"] = JDK
    env["MAVEN_OPTS"] = "-XX:TieredStopAtLevel=1 -XX:+UseSerialGC"  # a short-lived JVM: start fast
    result = subprocess.run(command, cwd=project, capture_output=True, text=True, errors="replace",
                            env=env, timeout=300)
    return result.returncode, result.stdout + result.stderr


def digests(folder):
    return {kind: hashlib.sha256((folder / name).read_bytes()).hexdigest()
            for kind, name in KINDS.items() if (folder / name).exists()}


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    """The sample project after its first `mvn package`, and what that run printed."""
    kvx_support.need(REPO / "com/quorvane/kvx/kvx-maven-plugin" / parent_properties()[0] /
                     f"kvx-maven-plugin-{parent_properties()[0]}.jar", "the installed plugin (make all)")
    base = tmp_path_factory.mktemp("maven")
    project = base / "hello"
    source = project / "src/main/java/com/example"
    source.mkdir(parents=True)
    (source / "Hello.java").write_text(HELLO)
    (project / "pom.xml").write_text(sample_pom(*parent_properties()))
    (project / "bad.ico").write_bytes(b"not an icon at all")
    cache = base / "cache"
    code, output = mvn(project, cache=cache)
    assert code == 0, output
    return {"project": project, "target": project / "target", "cache": cache, "output": output}


def pe_header(path):
    data = path.read_bytes()[:1024]
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    subsystem = struct.unpack_from("<H", data, pe + 24 + 68)[0]
    return machine, subsystem


def test_package_writes_each_kind_from_its_own_launcher(sample):
    target = sample["target"]
    assert pe_header(target / "hello.exe") == (0x8664, 2)
    assert pe_header(target / "hello-x86.exe") == (0x14C, 2)
    assert pe_header(target / "hello-console.exe") == (0x8664, 3)
    assert (target / "hello").read_bytes()[:4] == b"\x7fELF"
    for name in KINDS.values():
        assert f"kvx: wrote {target / name}" in sample["output"]
    # kvxpack was unpacked once, under the plugin's version and content, with no leftovers.
    folders = os.listdir(sample["cache"] / "maven-plugin")
    assert len(folders) == 1 and re.fullmatch(r"\d+\.\d+\.\d+-[0-9a-f]{12}", folders[0]), folders


def test_linux_executable_runs_the_application_and_its_dependency(sample):
    env = {k: v for k, v in os.environ.items() if k not in ("JAVA_HOME", "CLASSPATH", "JAVA_TOOL_OPTIONS")}
    result = subprocess.run([str(sample["target"] / "hello"), "one", "two words", "drei-ä"], capture_output=True,
                            text=True, errors="replace", env=env, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "java 17", "mode packed", "arg [one]", "arg [two words]", "arg [drei-ä]",
        "md5 " + hashlib.md5(b"kvx").hexdigest()]


def test_x64_executable_carries_the_project_version_record_and_configuration(sample):
    kvxpack = kvx_support.need(ROOT / "build/host/kvxpack", "kvxpack")
    report = kvx_support.inspect_exe(kvxpack, sample["target"] / "hello.exe")
    assert report.strings["FileVersion"] == report.strings["ProductVersion"] == "2.3.4"
    assert report.strings["ProductName"] == "Hello Sample"
    assert report.strings["CompanyName"] == "Example Corp"
    assert report.strings["FileDescription"] == "Says hello"  # the POM's line break is gone
    assert report.main_class == "com.example.Hello"
    for line in ("option -Xmx64m", "property hello.mode=packed", "jre_order csie"):
        assert "| " + line in report.lines, (line, report.text)


def kvxpack_arguments(sample, kind):
    """The arguments of a by-hand kvxpack run with the plugin's inputs, in the plugin's order."""
    target = sample["target"]
    codec = REPO / "commons-codec/commons-codec/1.17.1/commons-codec-1.17.1.jar"
    arguments = {"x64": ["--arch", "x64"], "x86": ["--arch", "x86"], "console": ["--arch", "x64", "--console"],
                 "host": ["--arch", "host"]}[kind]
    arguments += ["--jar", str(target / "hello-2.3.4.jar"), "--jar", str(codec), "--main", "com.example.Hello",
                  "--jre-order", "csie", "--option", "-Xmx64m", "--property", "hello.mode=packed"]
    if kind != "host":
        for record in ("FileVersion=2.3.4", "ProductVersion=2.3.4", "ProductName=Hello Sample",
                       "CompanyName=Example Corp", "FileDescription=Says hello"):
            arguments += ["--version", record]
    return arguments


def test_output_equals_kvxpacks_byte_for_byte(sample, tmp_path):
    kvxpack = kvx_support.need(ROOT / "build/host/kvxpack", "kvxpack")
    for kind, name in KINDS.items():
        out = tmp_path / name
        subprocess.run([str(kvxpack), *kvxpack_arguments(sample, kind), "-o", str(out)], check=True, timeout=60)
        assert out.read_bytes() == (sample["target"] / name).read_bytes(), kind


def test_second_package_writes_identical_bytes_and_skip_writes_nothing(sample):
    before = digests(sample["target"])
    unpacked = next((sample["cache"] / "maven-plugin").iterdir()) / "host" / "kvxpack"
    unpacked_time = unpacked.stat().st_mtime_ns
    code, output = mvn(sample["project"], cache=sample["cache"])
    assert code == 0, output
    assert digests(sample["target"]) == before
    assert unpacked.stat().st_mtime_ns == unpacked_time  # not unpacked again
    for name in KINDS.values():
        (sample["target"] / name).unlink()
    code, output = mvn(sample["project"], "-Dkvx.skip", cache=sample["cache"])
    assert code == 0, output
    assert "kvx: skipped" in output
    assert digests(sample["target"]) == {}


def test_dependencies_in_a_libs_folder(sample, tmp_path):
    project = tmp_path / "hello"
    shutil.copytree(sample["project"], project, ignore=shutil.ignore_patterns("target"))
    # A jar of an older dependency version, left from an earlier build, would join the class path.
    (project / "target/libs").mkdir(parents=True)
    (project / "target/libs/commons-codec-1.15.jar").write_bytes(b"PK\x05\x06" + bytes(18))
    code, output = mvn(project, "-Dkvx.dependencies=libs", cache=sample["cache"])
    assert code == 0, output
    target = project / "target"
    assert sorted(os.listdir(target / "libs")) == ["commons-codec-1.17.1.jar"]
    with zipfile.ZipFile(target / "hello") as z:
        names = z.namelist()
    assert "com/example/Hello.class" in names and not any(n.startswith("org/apache/commons") for n in names)
    result = subprocess.run([str(target / "hello")], capture_output=True, text=True, timeout=60,
                            env={k: v for k, v in os.environ.items() if k != "JAVA_HOME"})
    assert result.returncode == 0, result.stderr
    assert "md5 " + hashlib.md5(b"kvx").hexdigest() in result.stdout


def test_dependencies_kept_whole(sample, tmp_path):
    project = tmp_path / "hello"
    shutil.copytree(sample["project"], project, ignore=shutil.ignore_patterns("target"))
    code, output = mvn(project, "-Dkvx.dependencies=keep", cache=sample["cache"])
    assert code == 0, output
    with zipfile.ZipFile(project / "target/hello") as z:
        names = z.namelist()
    # The dependency travels whole, not as merged entries, and runs from the per-user cache.
    assert any(n.startswith("META-INF/kvx/jars/") and n.endswith("commons-codec-1.17.1.jar") for n in names), names
    assert not any(n.startswith("org/apache/commons") for n in names)
    env = {k: v for k, v in os.environ.items() if k != "JAVA_HOME"}
    env["XDG_CACHE_HOME"] = str(tmp_path / "cache")
    result = subprocess.run([str(project / "target/hello")], capture_output=True, text=True, timeout=60, env=env)
    assert result.returncode == 0, result.stderr
    assert "md5 " + hashlib.md5(b"kvx").hexdigest() in result.stdout
    assert list((tmp_path / "cache/kvx/jars").glob("*.jar")), "the kept jar was not copied into the cache"


def failure(sample, *args):
    code, output = mvn(sample["project"], *args, cache=sample["cache"])
    assert code != 0, output
    return next((line for line in output.splitlines() if "kvx:" in line and "ERROR" in line), output)


def test_refusals_name_the_parameter(sample):
    # No main class anywhere: refused before kvxpack runs, naming the parameter.
    for name in KINDS.values():
        (sample["target"] / name).unlink(missing_ok=True)
    line = failure(sample, "-Dhello.main=")
    assert "<mainClass>" in line and "no main class" in line, line
    assert digests(sample["target"]) == {}
    # A bad icon: kvxpack's refusal, with the parameter and the file.
    line = failure(sample, "-Dkvx.icon=bad.ico")
    assert "parameter <icon> (file " + str(sample["project"] / "bad.ico") + ")" in line and "not an icon" in line, line
    # A value kvxpack refuses names its parameter too.
    line = failure(sample, "-Dkvx.minjre=17x")
    assert "parameter <minjre>" in line, line
    # A host without a kvxpack says which hosts have one.
    line = failure(sample, "-Dos.arch=aarch64")
    assert "Linux x86-64 and Windows x64" in line and "aarch64" in line, line


def test_runtime_artifact_with_sources_and_warning_free_javadoc(tmp_path):
    version = parent_properties()[0]
    installed = REPO / "com/quorvane/kvx/kvx-runtime" / version
    classes = ("SplashScreen", "SystemTray", "SystemTrayCallback", "SystemTrayMenu")
    with zipfile.ZipFile(kvx_support.need(installed / f"kvx-runtime-{version}-sources.jar", "sources jar")) as z:
        assert {f"com/quorvane/kvx/{c}.java" for c in classes} <= set(z.namelist())
    with zipfile.ZipFile(kvx_support.need(installed / f"kvx-runtime-{version}-javadoc.jar", "javadoc jar")) as z:
        assert {f"com/quorvane/kvx/{c}.html" for c in classes} <= set(z.namelist())
    with zipfile.ZipFile(kvx_support.need(installed / f"kvx-runtime-{version}.jar", "runtime jar")) as z:
        assert int.from_bytes(z.read("com/quorvane/kvx/SystemTray.class")[6:8], "big") == 52  # Java 8
    # The Javadoc build again, with every doclint check: not one warning.
    result = subprocess.run([kvx_support.tool("mvn"), "-B", "-o", "-ntp", f"-Dmaven.repo.local={REPO}",
                             f"-Dkvx.build.dir={tmp_path}", "-f", str(ROOT / "java/pom.xml"), "-pl", "kvx-runtime",
                             f"org.apache.maven.plugins:maven-javadoc-plugin:{parent_properties()[1]['version.javadoc']}:javadoc"],
                            capture_output=True, text=True, timeout=300,
                            env=dict(os.environ, JAVA_HOME=JDK))
    assert result.returncode == 0, result.stdout
    assert "warning" not in result.stdout.lower(), result.stdout
    assert (tmp_path / "kvx-runtime/reports/apidocs/com/quorvane/kvx/SplashScreen.html").is_file()


def test_plugin_jar_carries_kvxpack_and_the_launchers():
    with zipfile.ZipFile(kvx_support.need(ROOT / "build/java/kvx-maven-plugin.jar", "the plugin jar")) as z:
        listed = z.read("com/quorvane/kvx/maven/tools/tools.list").decode().split()
        names = listed[1::2]
        assert sorted(names) == sorted(["host/kvxpack", "host/kvx", "win64/kvxpack.exe", "win64/kvx.exe",
                                        "win64/kvxc.exe", "win32/kvx.exe", "win32/kvxc.exe"])
        for digest, name in zip(listed[0::2], names):
            assert hashlib.sha256(z.read("com/quorvane/kvx/maven/tools/" + name)).hexdigest() == digest
        # Launchers exactly as built, so that the plugin's executables equal kvxpack's.
        assert z.read("com/quorvane/kvx/maven/tools/win64/kvx.exe") == (ROOT / "build/win64/kvx.exe").read_bytes()
        descriptor = z.read("META-INF/maven/plugin.xml").decode()
        assert "<goal>pack</goal>" in descriptor and "<threadSafe>true</threadSafe>" in descriptor
        assert "<phase>package</phase>" in descriptor
