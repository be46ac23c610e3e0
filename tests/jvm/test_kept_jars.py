"""Jars kept whole (kvxpack --keep-jars) with a real multi-jar framework: Log4j 2 indexes its
plugins in each jar (Log4j2Plugins.dat), so merging its jars loses every plugin but the first
jar's. Packed with --keep-jars it must behave exactly as under `java -cp`, through the cache's
first start, reuse, damage, simultaneous first starts, an unwritable folder and a new version."""
import os
import stat
import subprocess
import sys

import pytest

from conftest import APPS, JDK, KVXPACK, STUB, clean_env, require

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "tools"))
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
VERSION = "2.24.3"
LIBRARIES = ["log4j-api", "log4j-core", "log4j-layout-template-json"]
EXPECTED = '{"logger":"kvx.kept","message":"hello kept jars"}\n'


@pytest.fixture(scope="module")
def log4j(tmp_path_factory):
    """The pinned Log4j jars (tools/fetch-test-jars) and app.jar: logapp.Main and its log4j2.xml."""
    folder = subprocess.run([os.path.join(ROOT, "tools", "fetch-test-jars"), "--where"], capture_output=True,
                            text=True, check=True, timeout=60).stdout.strip()
    libraries = [os.path.join(folder, "%s-%s.jar" % (name, VERSION)) for name in LIBRARIES]
    for jar in libraries:
        if not os.path.isfile(jar):
            pytest.fail("%s is missing: run tools/fetch-test-jars (tools/bootstrap does)" % jar, pytrace=False)
    out = tmp_path_factory.mktemp("logapp")
    classes = out / "classes"
    classes.mkdir()
    subprocess.run([JDK + "/bin/javac", "-d", str(classes), "-cp", libraries[0],
                    os.path.join(APPS, "logapp", "Main.java")], check=True, timeout=120)
    with open(os.path.join(APPS, "logapp", "log4j2.xml"), "rb") as f:
        (classes / "log4j2.xml").write_bytes(f.read())
    app = str(out / "app.jar")
    subprocess.run([JDK + "/bin/jar", "cf", app, "-C", str(classes), "."], check=True, timeout=60)
    return [app] + libraries


def pack(log4j, out, *extra, jars=None):
    command = [require(KVXPACK), "--stub", require(STUB), "--main", "logapp.Main", "--jre-order", "csie", *extra,
               "-o", str(out)]
    for jar in jars or log4j:
        command += ["--jar", jar]
    subprocess.run(command, check=True, timeout=60, capture_output=True)
    return str(out)


def start(exe, cache, trace=None, **env):
    extra = {"XDG_CACHE_HOME": str(cache)}
    if trace:
        extra["KVX_TRACE"] = str(trace)
    extra.update(env)
    return subprocess.Popen([exe], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            env=clean_env(**extra))


def run(exe, cache, trace=None, **env):
    process = start(exe, cache, trace, **env)
    out, err = process.communicate(timeout=120)
    return process.returncode, out, err


def jars_in(cache):
    folder = cache / "kvx" / "jars"
    return sorted(os.listdir(folder)) if folder.exists() else []


def sha(path):
    import hashlib
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def test_kept_jars_run_as_under_java_cp_and_merged_jars_do_not(tmp_path, log4j):
    java = subprocess.run([JDK + "/bin/java", "-cp", ":".join(log4j), "logapp.Main"], capture_output=True,
                          text=True, timeout=120, env=clean_env())
    assert (java.returncode, java.stdout, java.stderr) == (0, EXPECTED, "")

    # Merged, the layout's plugin index is lost behind log4j-core's.
    merged = pack(log4j, tmp_path / "merged")
    code, out, err = run(merged, tmp_path / "cache-merged")
    assert code == 0 and "ERROR Console contains an invalid element or attribute \"JsonTemplateLayout\"" in out, (out, err)

    exe = pack(log4j, tmp_path / "kept", "--keep-jars", "--cds")
    report = subprocess.run([require(KVXPACK), "--inspect", exe], capture_output=True, text=True, check=True,
                            timeout=60).stdout
    assert "kept jars: 3 (on the class path after the executable, in this order)" in report, report
    listed = [l.split() for l in report.splitlines() if l.startswith("  log4j-")]
    assert [(l[0], int(l[1])) for l in listed] == [(os.path.basename(j), os.path.getsize(j)) for j in log4j[1:]]

    cache = tmp_path / "cache"
    trace = tmp_path / "trace-1.txt"
    assert run(exe, cache, trace) == (0, EXPECTED, "")
    said = trace.read_text()
    folder = cache / "kvx" / "jars"
    paths = [str(folder / (sha(j) + ".jar")) for j in log4j[1:]]
    for path, jar in zip(paths, log4j[1:]):
        assert "kept jars: %s copied for %s (%d bytes)" % (path, os.path.basename(jar), os.path.getsize(jar)) in said
    # After the executable, in input order, before anything else.
    assert "option -Djava.class.path=%s:%s\n" % (exe, ":".join(paths)) in said, said
    assert "cds: writing" in said, said
    assert stat.S_IMODE(os.stat(folder).st_mode) == 0o700

    # Later starts reuse the copies without reading them, and the archive covers them.
    for n in (2, 3):
        trace = tmp_path / ("trace-%d.txt" % n)
        assert run(exe, cache, trace) == (0, EXPECTED, "")
        said = trace.read_text()
        assert said.count(" reused for ") == 3 and " copied for " not in said and " checked for " not in said, said
    assert "cds: using" in said, said

    # A copy damaged in place (same size, its time put back) is replaced, never used; the
    # class-data archive then gets a new identity with the new copy.
    with open(paths[1], "r+b") as f:
        f.seek(os.path.getsize(paths[1]) // 2)
        f.write(b"\0" * 64)
    before = os.stat(paths[2])
    os.utime(paths[1], ns=(before.st_atime_ns, before.st_mtime_ns))
    trace = tmp_path / "trace-4.txt"
    assert run(exe, cache, trace) == (0, EXPECTED, "")
    said = trace.read_text()
    assert "%s copied for log4j-core" % paths[1] in said and said.count(" reused for ") == 2, said
    assert "cds: writing" in said, said
    assert sha(paths[1]) == sha(log4j[2])

    # A truncated copy, and one gone, are made again too.
    with open(paths[0], "r+b") as f:
        f.truncate(1000)
    os.unlink(paths[2])
    trace = tmp_path / "trace-5.txt"
    assert run(exe, cache, trace) == (0, EXPECTED, "")
    said = trace.read_text()
    assert said.count(" copied for ") == 2 and said.count(" reused for ") == 1, said
    assert [sha(p) for p in paths] == [sha(j) for j in log4j[1:]]


def test_simultaneous_first_starts_share_one_cache(tmp_path, log4j):
    exe = pack(log4j, tmp_path / "kept", "--keep-jars")
    cache = tmp_path / "cache"
    processes = [start(exe, cache) for _ in range(4)]
    results = [(p.returncode, out, err) for p in processes for out, err in [p.communicate(timeout=120)]]
    assert results == [(0, EXPECTED, "")] * 4
    names = jars_in(cache)
    assert not [n for n in names if n.endswith(".tmp")], names
    assert sorted(n for n in names if n.endswith(".jar")) == sorted(sha(j) + ".jar" for j in log4j[1:])
    assert len([n for n in names if n.endswith(".kept")]) == 1


def test_a_cache_that_cannot_be_written_gets_the_message_and_nothing_starts(tmp_path, log4j):
    exe = pack(log4j, tmp_path / "kept", "--keep-jars")
    blocked = tmp_path / "not-a-folder"
    blocked.write_text("a file where the cache folder should be")
    folder = "%s/kvx/jars" % blocked
    code, out, err = run(exe, blocked)
    assert code == 13 and out == "", (code, out, err)
    assert ("Cannot write to the folder %s, where this program keeps its libraries." % folder) in err, err

    # A folder others may write to is refused as well: code would run from it.
    cache = tmp_path / "cache"
    (cache / "kvx" / "jars").mkdir(parents=True)
    os.chmod(cache / "kvx" / "jars", 0o770)
    code, out, err = run(exe, cache)
    assert code == 13 and "the folder %s/kvx/jars, where" % cache in err, err


def test_a_new_version_removes_the_jars_only_it_used(tmp_path, log4j):
    app, api, core, layout = log4j
    cache = tmp_path / "cache"
    exe = tmp_path / "bin" / "kept"
    os.makedirs(exe.parent)
    other = pack(log4j, tmp_path / "other", "--keep-jars", jars=[app, api, layout])
    pack(log4j, exe, "--keep-jars")
    assert run(str(exe), cache)[0] == 0
    assert run(other, cache)[0] == 0
    # A new version without the layout: another application still names it, so it stays.
    pack(log4j, exe, "--keep-jars", jars=[app, api, core])
    trace = tmp_path / "trace.txt"
    assert run(str(exe), cache, trace)[0] == 0
    assert sha(layout) + ".jar" in jars_in(cache), trace.read_text()
    # Once that application is gone too, the next new version removes it, and the gone one's record.
    os.unlink(other)
    pack(log4j, exe, "--keep-jars")
    assert run(str(exe), cache)[0] == 0
    pack(log4j, exe, "--keep-jars", jars=[app, api, core])
    assert run(str(exe), cache, trace)[0] == 0
    names = jars_in(cache)
    assert names == sorted([sha(api) + ".jar", sha(core) + ".jar", [n for n in names if n.endswith(".kept")][0]])
    assert "removed, no application names it" in trace.read_text()
