"""--keep-jars: every jar after the first is stored whole, in input order, and the launcher's
lines say where its bytes lie in the executable, their size and SHA-256."""
import hashlib
import zipfile

from conftest import launcher_text, make_zip, runtime_class_names


def test_jars_after_the_first_are_stored_whole_and_recorded(run, stub, tmp_path):
    app = make_zip(tmp_path / "app.jar", {"app/Main.class": b"main", "META-INF/services/x.Y": b"app.Y\n"})
    one = make_zip(tmp_path / "one.jar", {"META-INF/services/x.Y": b"one.Y\n", "idx.dat": b"one"})
    (tmp_path / "sub").mkdir()
    two = make_zip(tmp_path / "sub" / "one.jar", {"idx.dat": b"two", "big.bin": bytes(range(256)) * 300})
    out = tmp_path / "app.exe"
    result = run("--stub", stub, "--keep-jars", "--jar", app, "--jar", one, "--jar", two, "--main", "app.Main",
                 "-o", out)
    assert result.returncode == 0, result.stderr
    # Nothing is merged from the kept jars, so no name is reported twice.
    assert result.stderr == b""
    data = out.read_bytes()
    with zipfile.ZipFile(out) as packed:
        assert packed.namelist() == (["app/Main.class", "META-INF/services/x.Y"] + runtime_class_names() +
                                     ["META-INF/kvx/jars/01-one.jar", "META-INF/kvx/jars/02-one.jar"])
        assert packed.read("META-INF/services/x.Y") == b"app.Y\n"
        for name, source in (("01-one.jar", one), ("02-one.jar", two)):
            info = packed.getinfo("META-INF/kvx/jars/" + name)
            assert info.compress_type == zipfile.ZIP_STORED
            assert packed.read(info) == source.read_bytes()
        assert packed.testzip() is None
    lines = launcher_text(data).decode().split("\r\n")
    assert lines[0] == "mainclass app.Main"
    kept = [l.split(" ") for l in lines if l.startswith("keepjar ")]
    assert len(kept) == 2
    for (_, digest, size, offset, name), source in zip(kept, (one, two)):
        content = source.read_bytes()
        assert name == "one.jar" and int(size) == len(content)
        assert digest == hashlib.sha256(content).hexdigest()
        assert data[int(offset):int(offset) + int(size)] == content

    # --inspect lists them with their sizes.
    report = run("--inspect", out).stdout.decode()
    assert "kept jars: 2 (on the class path after the executable, in this order)" in report, report
    assert "  one.jar  %d bytes  sha256 %s" % (len(one.read_bytes()), kept[0][1]) in report
    assert "  one.jar  %d bytes  sha256 %s" % (len(two.read_bytes()), kept[1][1]) in report

    # The same inputs give the same bytes.
    again = tmp_path / "again.exe"
    assert run("--stub", stub, "--keep-jars", "--jar", app, "--jar", one, "--jar", two, "--main", "app.Main",
               "-o", again).returncode == 0
    assert again.read_bytes() == data


def test_keep_jars_refusals(run, stub, tmp_path):
    app = make_zip(tmp_path / "app.jar", {"a": b"a"})
    other = make_zip(tmp_path / "other.jar", {"b": b"b"})
    out = tmp_path / "app.exe"
    result = run("--stub", stub, "--keep-jars", "--jar", app, "--main", "a.B", "-o", out)
    assert result.returncode == 2 and not out.exists()
    assert b"--keep-jars carries the jars after the first whole: give at least two --jar" in result.stderr
    config = tmp_path / "app.cfg"
    config.write_bytes(b"keepjar " + b"0" * 64 + b" 1 0 x.jar\n")
    result = run("--stub", stub, "--config", config, "--jar", app, "--jar", other, "--main", "a.B", "-o", out)
    assert result.returncode == 2 and not out.exists()
    assert b"'keepjar' lines are written by kvxpack itself (--keep-jars)" in result.stderr
    result = run("--inspect", out, "--keep-jars")
    assert result.returncode == 2 and b"--inspect takes no other arguments" in result.stderr
    # Not a jar at all: refused like any other input.
    bad = tmp_path / "bad.jar"
    bad.write_bytes(b"not a zip")
    result = run("--stub", stub, "--keep-jars", "--jar", app, "--jar", bad, "--main", "a.B", "-o", out)
    assert result.returncode == 2 and not out.exists()
