"""What kvxpack writes: stub, one archive, end record, configuration text as comment."""
import io
import os
import stat
import struct
import zipfile

import pytest

from conftest import (END_SIGNATURE, closed, launcher_text, make_zip, raw_entries, read_archive, runtime_class_names,
                      runtime_jar)

ALL_OPTIONS = [
    ("--option", "-Xmx64m"), ("--main", "app.Main"), ("--property", "app.mode=test=1"),
    ("--minjre", "1.8"), ("--classpath", "lib/a.jar;%APPDATA%\\b.jar"), ("--option", "-Dtrailing=x  "),
    ("--libs", "lib"), ("--jvmdll", "jre\\bin\\server\\jvm.dll"), ("--jre-order", "ecsi"),
    ("--forcecwd", "."), ("--libs", "more libs"),
]


def config_with_main(folder):
    path = folder / "main.cfg"
    path.write_bytes(b"mainclass from.Config\n")
    return path


KEYS = {"--option": "option", "--main": "mainclass", "--property": "property", "--minjre": "minjre",
        "--classpath": "classpath", "--libs": "libs", "--jvmdll": "jvmdll", "--jre-order": "jre_order",
        "--forcecwd": "forcecwd"}



FIXED_TIME, FIXED_DATE = 0, 0x21  # 1980-01-01 00:00: the runtime classes' time stamp


def check_layout(out_bytes, stub_bytes, jar, text, source=None):
    """The stub, then one archive with the jar's entries copied raw and the runtime classes,
    every header rewritten alike with the entry's own time (the runtime classes' fixed),
    offsets counting from the archive's start (the stub is bytes in front), and the text,
    closed by a zero byte, as the end record's comment. `source`: an archive with the jar's
    entries, when the jar itself is made to mislead readers."""
    assert out_bytes.startswith(stub_bytes)
    archive = read_archive(out_bytes)
    assert archive["shift"] == len(stub_bytes)
    entries = archive["entries"]
    assert entries[0]["local_offset"] == len(stub_bytes)
    source = source or jar
    expected = raw_entries(source)
    runtime = raw_entries(runtime_jar())
    times = {e["name"]: (e["time"], e["date"]) for e in read_archive(source.read_bytes())["entries"]}
    names = [e["name"] for e in entries]
    assert names == list(expected) + runtime_class_names()
    for e in entries:
        method, crc, raw = expected.get(e["name"]) or runtime[e["name"]]
        assert (e["method"], e["crc"], e["raw"]) == (method, crc, raw), e["name"]
        time, date = times[e["name"]] if e["name"] in expected else (FIXED_TIME, FIXED_DATE)
        assert (e["time"], e["date"]) == (time, date), e["name"]
        assert e["flags"] & 0x8 == 0
        assert e["local"] == (e["flags"], e["method"], time, date, e["crc"], len(e["name"]), e["name"].encode())
    assert archive["comment"] == closed(text)
    assert struct.unpack_from("<H", out_bytes, archive["record_at"] + 20) == (len(closed(text)),)
    assert launcher_text(out_bytes) == closed(text)
    with zipfile.ZipFile(io.BytesIO(out_bytes)) as packed:
        assert packed.testzip() is None


def test_every_option_becomes_one_line_in_command_line_order(run, stub, jar, tmp_path):
    out = tmp_path / "out.exe"
    args = [a for pair in ALL_OPTIONS for a in pair]
    result = run("--stub", stub, "--jar", jar, *args, "-o", out)
    assert result.returncode == 0, result.stderr
    assert result.stderr == b""
    text = b"".join(f"{KEYS[o]} {v}\r\n".encode() for o, v in ALL_OPTIONS)
    check_layout(out.read_bytes(), stub.read_bytes(), jar, text)


def test_default_order_is_every_method_and_new_forms_are_accepted(run, stub, jar, tmp_path):
    out = tmp_path / "out.exe"
    # No --jre-order: the modern order follows the requested lines, so a side file or a
    # --config line still wins (the launcher takes the first).
    result = run("--stub", stub, "--jar", jar, "--main", "a.B", "--minjre", "17", "-o", out, default_order=True)
    assert result.returncode == 0, result.stderr
    check_layout(out.read_bytes(), stub.read_bytes(), jar,
                 b"mainclass a.B\r\nminjre 17\r\njre_order cbjvsie\r\n")
    for order in ("cbjvsie", "VJB", "b"):
        assert run("--stub", stub, "--jar", jar, "--main", "a.B", "--jre-order", order, "-o", out).returncode == 0
        check_layout(out.read_bytes(), stub.read_bytes(), jar, b"mainclass a.B\r\njre_order %s\r\n" % order.encode())
    # An empty order writes no line at all: the launcher's classic csie.
    assert run("--stub", stub, "--jar", jar, "--main", "a.B", "--jre-order", "", "-o", out,
               default_order=True).returncode == 0
    check_layout(out.read_bytes(), stub.read_bytes(), jar, b"mainclass a.B\r\n")


def test_equals_form_and_no_options_give_the_same_layout(run, stub, jar, tmp_path):
    out = tmp_path / "out.exe"
    result = run("--stub=" + str(stub), "--jar=" + str(jar), "--main=a.B", "--output=" + str(out))
    assert result.returncode == 0, result.stderr
    check_layout(out.read_bytes(), stub.read_bytes(), jar, b"mainclass a.B\r\n")
    bare = tmp_path / "bare.exe"
    assert run("--stub", stub, "--jar", jar, "--config", config_with_main(tmp_path), "-o", bare).returncode == 0
    check_layout(bare.read_bytes(), stub.read_bytes(), jar, b"mainclass from.Config\r\n")


def test_existing_archive_comment_is_replaced(run, stub, tmp_path):
    jar = make_zip(tmp_path / "commented.jar", comment=b"an old comment that goes away")
    out = tmp_path / "out.exe"
    assert run("--stub", stub, "--jar", jar, "--main", "x.Y", "-o", out).returncode == 0
    data = out.read_bytes()
    assert b"an old comment" not in data
    check_layout(data, stub.read_bytes(), jar, b"mainclass x.Y\r\n")


def test_signature_inside_existing_comment_does_not_fool_the_search(run, stub, tmp_path):
    # The old comment holds a fake end record of an empty archive whose comment length fits the
    # file's end exactly: the real record is earlier.
    fake = END_SIGNATURE + bytes(16) + struct.pack("<H", 4) + b"tail"
    jar = make_zip(tmp_path / "tricky.jar", comment=fake)
    out = tmp_path / "out.exe"
    result = run("--stub", stub, "--jar", jar, "--main", "x.Y", "-o", out)
    assert result.returncode == 0, result.stderr
    plain = make_zip(tmp_path / "plain.jar")  # the same entries, read without the trap
    check_layout(out.read_bytes(), stub.read_bytes(), jar, b"mainclass x.Y\r\n", plain)


def test_config_file_lines_come_first_with_crlf(run, stub, jar, tmp_path):
    config = tmp_path / "app.cfg"
    # A byte-order mark, LF, CR LF, a lone CR, an empty line, and no line end at the end.
    config.write_bytes(b"\xef\xbb\xbfoption -Xss1m\nproperty a=b\r\nlibs x\r\r\n# note\tkept as is")
    out = tmp_path / "out.exe"
    result = run("--stub", stub, "--jar", jar, "--main", "m.Main", "--config", config, "--option", "-Dz=1",
                 "-o", out)
    assert result.returncode == 0, result.stderr
    text = (b"option -Xss1m\r\nproperty a=b\r\nlibs x\r\n\r\n# note\tkept as is\r\n"
            b"mainclass m.Main\r\noption -Dz=1\r\n")
    check_layout(out.read_bytes(), stub.read_bytes(), jar, text)


def test_existing_output_is_replaced_and_marked_executable(run, stub, jar, tmp_path):
    out = tmp_path / "out.exe"
    out.write_bytes(b"previous content" * 1000)
    os.chmod(out, 0o600)
    assert run("--stub", stub, "--jar", jar, "--main", "a.B", "-o", out).returncode == 0
    check_layout(out.read_bytes(), stub.read_bytes(), jar, b"mainclass a.B\r\n")
    mode = out.stat().st_mode
    assert mode & stat.S_IXUSR and mode & stat.S_IRUSR
    assert sorted(p.name for p in tmp_path.iterdir()) == ["app.jar", "out.exe", "stub.bin"]


def test_relative_output_in_current_folder(run, stub, jar, tmp_path):
    result = run("--stub", stub, "--jar", jar, "--main", "a.B", "-o", "here.exe", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert (tmp_path / "here.exe").read_bytes().startswith(stub.read_bytes())
    assert not [p for p in tmp_path.iterdir() if "kvxpack" in p.name]


def test_text_of_exactly_51200_bytes_is_accepted_and_found_whole(run, stub, jar, tmp_path):
    line = b"option -Dpad=" + b"x" * 985 + b"\r\n"                          # 1000 bytes
    main = b"mainclass m.M\r\n"                                              # 15 bytes
    filler = b"# " + b"y" * (51200 - 51 * 1000 - len(main) - 4) + b"\r\n"
    config = tmp_path / "big.cfg"
    config.write_bytes(line * 51 + filler)
    out = tmp_path / "out.exe"
    result = run("--stub", stub, "--jar", jar, "--config", config, "--main", "m.M", "-o", out)
    assert result.returncode == 0, result.stderr
    text = line * 51 + filler + main
    assert len(text) == 51200
    check_layout(out.read_bytes(), stub.read_bytes(), jar, text)


@pytest.mark.parametrize("value", ["17", "1.8", "8", "2147483647.0", "017.09"])
def test_minjre_takes_a_major_alone_or_with_a_minor(value, run, stub, jar, tmp_path):
    out = tmp_path / "out.exe"
    result = run("--stub", stub, "--jar", jar, "--main", "a.B", "--minjre", value, "-o", out)
    assert result.returncode == 0, result.stderr
    assert launcher_text(out.read_bytes()) == closed(f"mainclass a.B\r\nminjre {value}\r\n".encode())


def test_service_options_become_their_lines(run, stub, jar, tmp_path):
    out = tmp_path / "out.exe"
    result = run("--stub", stub, "--jar", jar, "--main", "a.B", "--service", "My App", "--service-stop",
                 "a.B.stop", "--service-log", "%ProgramData%\\My App\\service.log", "-o", out)
    assert result.returncode == 0, result.stderr
    check_layout(out.read_bytes(), stub.read_bytes(), jar,
                 b"mainclass a.B\r\nservice My App\r\nservice_stop a.B.stop\r\n"
                 b"service_log %ProgramData%\\My App\\service.log\r\n")


def test_cds_switch_stands_alone_or_takes_auto_or_off(run, stub, jar, tmp_path):
    for args, text in ((["--cds", "--main", "a.B"], b"cds auto\r\nmainclass a.B\r\n"),
                       (["--main", "a.B", "--cds=off"], b"mainclass a.B\r\ncds off\r\n"),
                       (["--cds=auto", "--main", "a.B"], b"cds auto\r\nmainclass a.B\r\n")):
        out = tmp_path / "out.exe"
        result = run("--stub", stub, "--jar", jar, *args, "-o", out)
        assert result.returncode == 0, result.stderr
        check_layout(out.read_bytes(), stub.read_bytes(), jar, text)
