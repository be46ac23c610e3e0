"""One archive from several jars and kvxpack's own runtime classes: order, duplicates, the
manifest and its Main-Class, raw copies, reproducible bytes."""
import os
import struct
import subprocess
import time
import zipfile
import zlib

import pytest

from conftest import JDK, launcher_text, make_zip, raw_entries, read_archive, runtime_class_names, runtime_jar


def manifest(main=None):
    text = "Manifest-Version: 1.0\r\n"
    if main:
        text += f"Main-Class: {main}\r\n"
    return (text + "\r\n").encode()


def names_of(path):
    return [e["name"] for e in read_archive(path.read_bytes())["entries"]]


def test_jars_merge_in_order_first_name_and_first_manifest_win(run, stub, tmp_path):
    one = make_zip(tmp_path / "one.jar", {"a/One.txt": b"one", "dup.txt": b"from one", "d/": b""})
    two = make_zip(tmp_path / "two.jar", {"dup.txt": b"from two", "META-INF/MANIFEST.MF": manifest("two.Main"),
                                          "b/Two.txt": b"two", "d/": b""})
    three = make_zip(tmp_path / "three.jar", {"META-INF/MANIFEST.MF": manifest("three.Main"), "c/Three.txt": b"3",
                                              "dup.txt": b"from three"})
    out = tmp_path / "app.exe"
    result = run("--stub", stub, "--jar", one, "--jar", two, "--jar", three, "-o", out)
    assert result.returncode == 0, result.stderr
    # A name given twice is reported once; folders and the manifest (merged by rule) are not.
    assert result.stderr.decode().splitlines() == [
        f"kvxpack: warning: dup.txt is in both {one} and {two}; the one of {one} is packed"]
    # No --main: the Main-Class of the manifest that ships (the first jar that has one).
    assert launcher_text(out.read_bytes()) == b"mainclass two.Main\r\n\0"
    assert names_of(out) == (["META-INF/MANIFEST.MF", "a/One.txt", "dup.txt", "d/", "b/Two.txt", "c/Three.txt"]
                             + runtime_class_names())
    with zipfile.ZipFile(out) as packed:
        assert packed.read("dup.txt") == b"from one"
        assert packed.read("META-INF/MANIFEST.MF") == manifest("two.Main")
        assert packed.testzip() is None


def test_main_option_wins_over_manifest_and_equal_config_line_is_kept_once(run, stub, tmp_path):
    jar = make_zip(tmp_path / "app.jar", {"META-INF/MANIFEST.MF": manifest("from.Manifest"), "x": b"x"})
    out = tmp_path / "app.exe"
    assert run("--stub", stub, "--jar", jar, "--main", "from.Option", "-o", out).returncode == 0
    assert launcher_text(out.read_bytes()) == b"mainclass from.Option\r\n\0"
    config = tmp_path / "app.cfg"
    config.write_bytes(b"mainclass from/Option\n")  # the same class, with slashes
    assert run("--stub", stub, "--jar", jar, "--config", config, "--main", "from.Option", "-o", out).returncode == 0
    assert launcher_text(out.read_bytes()) == b"mainclass from/Option\r\n\0"


def test_runtime_classes_are_always_kvxpacks_own(run, stub, tmp_path):
    own = raw_entries(runtime_jar())
    name = runtime_class_names()[0]
    stale = make_zip(tmp_path / "stale.jar", {name: b"an old build of the class", "com/quorvane/kvx/sub/Kept.class":
                                              b"not a runtime class", "app/Main.class": b"main"})
    out = tmp_path / "app.exe"
    result = run("--stub", stub, "--jar", stale, "--main", "app.Main", "-o", out)
    assert result.returncode == 0, result.stderr
    lines = result.stderr.decode().splitlines()
    assert len(lines) == 1 and lines[0].startswith("kvxpack: warning: ") and str(stale) in lines[0], lines
    assert "com/quorvane/kvx" in lines[0]
    packed = raw_entries(out)
    assert packed[name] == own[name]
    assert "com/quorvane/kvx/sub/Kept.class" in packed
    assert [n for n in packed if n in own] == runtime_class_names()

    # An input that carries the very same classes (say, built against kvx-runtime.jar) packs quietly.
    with zipfile.ZipFile(runtime_jar()) as runtime:
        same = make_zip(tmp_path / "same.jar", {n: runtime.read(n) for n in runtime_class_names()} | {"m": b"m"})
    result = run("--stub", stub, "--jar", same, "--main", "app.Main", "-o", out)
    assert result.returncode == 0 and result.stderr == b"", result.stderr
    assert raw_entries(out)[name] == own[name]


SERVICE_SOURCES = {
    "svc/Greeter.java": "package svc; public interface Greeter { String name(); }",
    "a/A.java": "package a; public class A implements svc.Greeter { public String name() { return \"A\"; } }",
    "b/B.java": "package b; public class B implements svc.Greeter { public String name() { return \"B\"; } }",
    "mr/Versioned.java": "package mr; public class Versioned { public static String answer() { return \"base\"; } }",
    "app/Main.java": """package app;
public class Main {
    public static void main(String[] args) {
        StringBuilder found = new StringBuilder();
        for (svc.Greeter g : java.util.ServiceLoader.load(svc.Greeter.class)) found.append(g.name());
        System.out.println("providers " + found + " answer " + mr.Versioned.answer());
    }
}""",
}
V17_SOURCE = "package mr; public class Versioned { public static String answer() { return \"v17\"; } }"


def compile_java(sources, folder, release):
    folder.mkdir(parents=True)
    for name, text in sources.items():
        (folder / "src" / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / "src" / name).write_text(text)
    javac = [str(JDK / "bin/javac"), "--release", str(release), "-Xlint:-options", "-d", str(folder / "classes"),
             *(str(folder / "src" / n) for n in sources)]
    done = subprocess.run(javac, capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    return {str(p.relative_to(folder / "classes")): p.read_bytes() for p in (folder / "classes").rglob("*.class")}


def test_merged_jars_keep_every_service_provider_and_multi_release(run, tmp_path):
    classes = compile_java(SERVICE_SOURCES, tmp_path / "base", 8)
    v17 = compile_java({"mr/Versioned.java": V17_SOURCE}, tmp_path / "v17", 17)
    pick = lambda *prefixes: {n: b for n, b in classes.items() if n.startswith(prefixes)}
    one = make_zip(tmp_path / "one.jar", {"META-INF/MANIFEST.MF": manifest("app.Main"), **pick("svc/", "a/", "app/"),
                                          "META-INF/services/svc.Greeter": b"# the first jar's\r\na.A  # ours\r\n"})
    two = make_zip(tmp_path / "two.jar", {
        "META-INF/MANIFEST.MF": b"Manifest-Version: 1.0\r\nMulti-Release: true\r\n\r\n", **pick("b/", "mr/"),
        "META-INF/versions/17/mr/Versioned.class": v17["mr/Versioned.class"],
        "META-INF/services/svc.Greeter": b"\tb.B\n\na.A\n"})
    # As Java itself sees the two jars.
    java = subprocess.run([str(JDK / "bin/java"), "-cp", f"{one}:{two}", "app.Main"], capture_output=True, text=True,
                          timeout=120)
    assert java.stdout == "providers AB answer v17\n", java.stdout + java.stderr
    out = tmp_path / "app"
    result = run("--arch", "host", "--jar", one, "--jar", two, "--jvmdll", JDK / "lib/server/libjvm.so",
                 "--jre-order", "c", "-o", out)
    assert result.returncode == 0 and result.stderr == b"", result.stderr
    with zipfile.ZipFile(out) as packed:
        assert packed.read("META-INF/services/svc.Greeter") == b"a.A\nb.B\n"
        assert packed.read("META-INF/MANIFEST.MF") == (
            b"Manifest-Version: 1.0\r\nMain-Class: app.Main\r\nMulti-Release: true\r\n\r\n")
    env = {k: v for k, v in os.environ.items() if k not in ("JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "CLASSPATH")}
    launched = subprocess.run([str(out)], capture_output=True, text=True, timeout=120, env=env)
    assert (launched.returncode, launched.stdout) == (0, "providers AB answer v17\n"), launched.stderr


def test_merged_service_lists_and_manifests_are_made_alike_and_signed_jars_stay(run, stub, tmp_path):
    multi = make_zip(tmp_path / "multi.jar", {"META-INF/MANIFEST.MF": b"Manifest-Version: 1.0\nMulti-Release: TRUE\n",
                                              "META-INF/services/x.Y": b"p.Two\n", "META-INF/services/same": b"s\n"})
    # From a manifest with LF line ends and a Multi-Release line (with a continuation) of its own.
    plain = make_zip(tmp_path / "plain.jar", {
        "META-INF/MANIFEST.MF": b"Manifest-Version: 1.0\nMulti-Release: no\n pe\nCreated-By: t\n\nName: y\n",
        "META-INF/services/x.Y": b"p.One\n", "META-INF/services/same": b"s\n"})
    out = tmp_path / "app.exe"
    result = run("--stub", stub, "--jar", plain, "--jar", multi, "--main", "a.B", "-o", out)
    assert result.returncode == 0 and result.stderr == b"", result.stderr
    entries = {e["name"]: e for e in read_archive(out.read_bytes())["entries"]}
    given = {e["name"]: e for e in read_archive(plain.read_bytes())["entries"]}
    made = [(entries[n]["raw"], entries[n]["time"], entries[n]["date"]) for n in ("META-INF/MANIFEST.MF",
                                                                                  "META-INF/services/x.Y")]
    assert made == [(b"Manifest-Version: 1.0\nCreated-By: t\nMulti-Release: true\n\nName: y\n", 0, 0x21),
                    (b"p.One\np.Two\n", 0, 0x21)]
    # Lists alike in every jar stay the first jar's entry, with its time.
    assert (entries["META-INF/services/same"]["raw"], entries["META-INF/services/same"]["time"]) == \
        (given["META-INF/services/same"]["raw"], given["META-INF/services/same"]["time"])
    with zipfile.ZipFile(out) as packed:
        assert packed.testzip() is None
    first = out.read_bytes()
    assert run("--stub", stub, "--jar", plain, "--jar", multi, "--main", "a.B", "-o", out).returncode == 0
    assert out.read_bytes() == first

    # A signed jar's manifest and lists stay as signed (a changed one fails its digest), with a warning.
    signed = make_zip(tmp_path / "signed.jar", {"META-INF/MANIFEST.MF": manifest("a.Main"), "META-INF/A.SF": b"sf",
                                                "META-INF/services/x.Y": b"p.One\n"})
    result = run("--stub", stub, "--jar", signed, "--jar", multi, "-o", out)
    assert result.returncode == 0, result.stderr
    warnings = result.stderr.decode()
    assert f"{signed} is signed, so its manifest is packed as it is" in warnings, warnings
    assert f"{signed} is signed, so its META-INF/services/x.Y is packed as it is" in warnings, warnings
    packed = raw_entries(out)
    for name in ("META-INF/MANIFEST.MF", "META-INF/services/x.Y"):
        assert packed[name] == raw_entries(signed)[name]


def test_signature_files_and_index_of_other_jars_are_left_out(run, stub, tmp_path):
    signed = make_zip(tmp_path / "signed.jar", {"META-INF/MANIFEST.MF": manifest("a.Main"), "META-INF/A.SF": b"sf",
                                                "META-INF/A.RSA": b"rsa", "a/Main.class": b"m"})
    other = make_zip(tmp_path / "other.jar", {"META-INF/MANIFEST.MF": manifest(), "META-INF/B.SF": b"sf",
                                              "META-INF/b.rsa": b"rsa", "META-INF/INDEX.LIST": b"JarIndex-Version: 1.0",
                                              "META-INF/services/x.Y": b"kept", "b/B.class": b"b"})
    out = tmp_path / "app.exe"
    assert run("--stub", stub, "--jar", signed, "--jar", other, "-o", out).returncode == 0
    names = names_of(out)
    assert names[:6] == ["META-INF/MANIFEST.MF", "META-INF/A.SF", "META-INF/A.RSA", "a/Main.class",
                         "META-INF/services/x.Y", "b/B.class"]
    assert not {"META-INF/B.SF", "META-INF/b.rsa", "META-INF/INDEX.LIST"} & set(names)


def test_entries_written_by_the_jar_tool_are_copied_raw(run, stub, hello_jar, tmp_path):
    # The jar tool streams: sizes and CRC follow the data in descriptors (flag bit 3).
    source = read_archive(hello_jar.read_bytes())["entries"]
    assert any(e["flags"] & 0x8 for e in source)
    out = tmp_path / "hello.exe"
    assert run("--stub", stub, "--jar", hello_jar, "--main", "hello.Main", "-o", out).returncode == 0
    packed = read_archive(out.read_bytes())["entries"]
    assert not any(e["flags"] & 0x8 for e in packed)
    raw = {e["name"]: (e["method"], e["crc"], e["raw"]) for e in packed}
    for e in source:
        assert raw[e["name"]] == (e["method"], e["crc"], e["raw"])


def test_output_is_reproducible_across_times_and_folders(run, stub, tmp_path):
    one = make_zip(tmp_path / "one.jar", {"a.txt": b"a" * 1000, "b/": b""})
    two = make_zip(tmp_path / "two.jar", {"c.txt": b"c"})
    first_dir, second_dir = tmp_path / "first", tmp_path / "second"
    first_dir.mkdir()
    second_dir.mkdir()
    args = ["--stub", stub, "--jar", one, "--jar", two, "--main", "a.B", "--option", "-Xmx1m"]
    assert run(*args, "-o", "app.exe", cwd=first_dir).returncode == 0
    time.sleep(2.1)  # DOS time stamps count in 2-second steps
    for path in (one, two, stub):
        os.utime(path, None)
    assert run(*args, "-o", second_dir / "app.exe", cwd=tmp_path).returncode == 0
    assert (first_dir / "app.exe").read_bytes() == (second_dir / "app.exe").read_bytes()


def test_copied_entries_keep_their_own_times(run, stub, hello_jar, tmp_path):
    # Clojure loads a compiled namespace only when its class is newer than its source: the
    # times must survive packing, extended time stamps (seconds, not 2-second steps) too.
    stamped = zipfile.ZipInfo("lib/core.clj", (2023, 7, 8, 9, 10, 12))
    stamped.extra = struct.pack("<HHBI", 0x5455, 5, 1, 1688807413)
    jar = tmp_path / "times.jar"
    with zipfile.ZipFile(jar, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr(stamped, b"(ns lib.core)")
        archive.writestr(zipfile.ZipInfo("lib/core__init.class", (2023, 7, 8, 9, 10, 14)), b"compiled")
        archive.writestr(zipfile.ZipInfo("old.txt", (1999, 12, 31, 23, 59, 58)), b"old")
    for source in (jar, hello_jar):
        out = tmp_path / "out.exe"
        assert run("--stub", stub, "--jar", source, "--main", "a.B", "-o", out).returncode == 0
        given = {e["name"]: e for e in read_archive(source.read_bytes())["entries"]}
        packed = read_archive(out.read_bytes())["entries"]
        for e in packed:
            if e["name"] in given:
                want = (given[e["name"]]["time"], given[e["name"]]["date"])
                assert (e["time"], e["date"]) == want and e["local"][2:4] == want, e["name"]
            else:  # made by kvxpack: the fixed time
                assert (e["time"], e["date"], e["local"][2:4]) == (0, 0x21, (0, 0x21)), e["name"]
        with zipfile.ZipFile(out) as archive, zipfile.ZipFile(source) as original:
            times = {i.filename: i.date_time for i in archive.infolist()}
            assert {i.filename: i.date_time for i in original.infolist()}.items() <= times.items()
        if source == jar:
            clj = next(e for e in packed if e["name"] == "lib/core.clj")
            assert clj["extra"] == stamped.extra


def test_jar_with_bytes_after_its_end_record_is_read(run, stub, tmp_path):
    jar = make_zip(tmp_path / "app.jar")
    entries = raw_entries(jar)
    jar.write_bytes(jar.read_bytes() + b"\0" * 300)
    out = tmp_path / "app.exe"
    result = run("--stub", stub, "--jar", jar, "--main", "a.B", "-o", out)
    assert result.returncode == 0, result.stderr
    packed = raw_entries(out)
    assert {n: packed[n] for n in entries} == entries
    assert launcher_text(out.read_bytes()) == b"mainclass a.B\r\n\0"


def test_java_loads_the_runtime_classes_from_the_executable(run, stub, hello_jar, tmp_path):
    out = tmp_path / "hello.exe"
    assert run("--stub", stub, "--jar", hello_jar, "--main", "hello.Main", "-o", out).returncode == 0
    javap = subprocess.run([str(JDK / "bin/javap"), "-cp", str(out), "com.quorvane.kvx.SystemTray"],
                           capture_output=True, text=True, timeout=120)
    assert javap.returncode == 0, javap.stderr
    assert "class com.quorvane.kvx.SystemTray" in javap.stdout


def zip64_extra_archive(path, claimed_size):
    """An archive whose first entry keeps its sizes and offset in a Zip64 extra field (the
    32-bit fields read 0xFFFFFFFF), claiming `claimed_size` bytes once inflated, then a plain
    entry. Written by hand: the reader must take the extra's values, in their fixed order."""
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    raw = compressor.compress(b"kvx " * 100) + compressor.flush()
    crc = zlib.crc32(b"whatever, never inflated")
    name, plain_name, plain = b"big.dat", b"small.txt", b"small"
    local = (struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 8, 0, 0x21, crc, 0xFFFFFFFF, 0xFFFFFFFF, len(name), 20)
             + name + struct.pack("<HHQQ", 1, 16, claimed_size, len(raw)) + raw)
    plain_local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 10, 0, 0, 0, 0x21, zlib.crc32(plain), len(plain),
                              len(plain), len(plain_name), 0) + plain_name + plain
    central = (struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, 8, 0, 0x21, crc, 0xFFFFFFFF, 0xFFFFFFFF,
                           len(name), 28, 0, 0, 0, 0, 0xFFFFFFFF)
               + name + struct.pack("<HHQQQ", 1, 24, claimed_size, len(raw), 0)
               + struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 10, 0, 0, 0, 0x21, zlib.crc32(plain), len(plain),
                             len(plain), len(plain_name), 0, 0, 0, 0, 0, len(local)) + plain_name)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 2, 2, len(central), len(local) + len(plain_local), 0)
    path.write_bytes(local + plain_local + central + end)
    return path, raw


def test_zip64_extra_fields_are_read_and_written(run, stub, tmp_path):
    claimed = 5 << 30  # beyond 32 bits: the output needs the Zip64 fields for this entry too
    jar, raw = zip64_extra_archive(tmp_path / "z64.jar", claimed)
    out = tmp_path / "app.exe"
    result = run("--stub", stub, "--jar", jar, "--main", "a.B", "-o", out)
    assert result.returncode == 0, result.stderr
    data = out.read_bytes()
    big, small = read_archive(data)["entries"][:2]
    assert (big["name"], big["usize"], big["csize"], big["raw"]) == ("big.dat", claimed, len(raw), raw)
    # Local header: both sizes deferred to its Zip64 field, which holds size then compressed size.
    local = big["local_offset"]
    (needed,) = struct.unpack_from("<H", data, local + 4)
    sizes = struct.unpack_from("<II", data, local + 18)
    extra_length = struct.unpack_from("<H", data, local + 28)[0]
    extra = data[local + 30 + len("big.dat"):local + 30 + len("big.dat") + extra_length]
    assert needed >= 45 and sizes == (0xFFFFFFFF, 0xFFFFFFFF)
    assert extra == struct.pack("<HHQQ", 1, 16, claimed, len(raw))
    # Central header: only the value that needs it is deferred.
    assert big["extra"] == struct.pack("<HHQ", 1, 8, claimed)
    with zipfile.ZipFile(out) as packed:
        assert packed.getinfo("big.dat").file_size == claimed
        assert packed.read("small.txt") == b"small"
    assert small["raw"] == b"small"
