"""Refusals: one line on standard error, exit code 2, nothing written, an existing OUT untouched."""
import os
import struct

import pytest

from conftest import END_SIGNATURE, end_record_offset, make_zip

OLD_OUTPUT = b"the previous executable"


def corrupt_jar(tmp_path, name, change):
    data = bytearray(make_zip(tmp_path / "good.jar").read_bytes())
    (tmp_path / "good.jar").unlink()
    change(data, end_record_offset(bytes(data)))
    path = tmp_path / name
    path.write_bytes(bytes(data))
    return path


def put32(offset_in_record, value):
    def change(data, record):
        struct.pack_into("<I", data, record + offset_in_record, value)
    return change


def move_directory_start(by):
    """Directory size and offset stay consistent, but no central header starts there."""
    def change(data, record):
        size, offset = struct.unpack_from("<II", data, record + 12)
        struct.pack_into("<II", data, record + 12, size + by, offset - by)
    return change


def config_file(tmp_path, content):
    path = tmp_path / "app.cfg"
    path.write_bytes(content)
    return path


# Each case builds its extra arguments in tmp_path; stub and jar are good unless replaced.
CASES = {
    "text_over_51200_bytes": lambda t: ["--config", config_file(t, b"#" * 51190 + b"\r\n"), "--main", "a.B"],
    "text_over_51200_after_crlf_normalising": lambda t: ["--config", config_file(t, b"#\n" * 25601)],
    "signature_in_config_file": lambda t: ["--config", config_file(t, b"option -Dx=PK\x05\x06\r\n")],
    "nul_in_config_file": lambda t: ["--config", config_file(t, b"option -Dx=\x00\r\n")],
    "missing_config_file": lambda t: ["--config", t / "absent.cfg"],
    "config_file_is_a_folder": lambda t: ["--config", t],
    "jar_not_a_zip": lambda t: ["--jar", config_file(t, b"just some text, no archive" * 100)],
    "jar_empty": lambda t: ["--jar", config_file(t, b"")],
    "jar_missing": lambda t: ["--jar", t / "absent.jar"],
    "jar_truncated_inside_end_record": lambda t: ["--jar", corrupt_jar(t, "cut.jar", lambda d, r: d.__delitem__(
        slice(r + 10, None)))],
    "jar_comment_length_past_the_end": lambda t: ["--jar", corrupt_jar(t, "long.jar", lambda d, r: struct.pack_into(
        "<H", d, r + 20, 5))],
    "jar_with_bytes_after_its_end": lambda t: ["--jar", corrupt_jar(t, "trail.jar", lambda d, r: d.extend(
        b"trailing"))],
    "jar_directory_offset_too_large": lambda t: ["--jar", corrupt_jar(t, "off.jar", put32(16, 0x7FFFFFFF))],
    "jar_directory_size_too_large": lambda t: ["--jar", corrupt_jar(t, "size.jar", put32(12, 0x7FFFFFFF))],
    "jar_directory_too_small_for_its_entries": lambda t: ["--jar", corrupt_jar(t, "few.jar", put32(12, 30))],
    "jar_directory_not_where_record_says": lambda t: ["--jar", corrupt_jar(t, "dir.jar", move_directory_start(46))],
    "stub_missing": lambda t: ["--stub", t / "absent.exe"],
    "stub_is_a_folder": lambda t: ["--stub", t],
    "unknown_argument": lambda t: ["--frobnicate"],
    "value_missing_at_end": lambda t: ["--main"],
    "main_given_twice": lambda t: ["--main", "a.B", "--main", "c.D"],
    "property_without_equals": lambda t: ["--property", "novalue"],
    "property_without_name": lambda t: ["--property", "=value"],
    "value_with_line_break": lambda t: ["--option", "-Da=1\r\nmainclass evil.Main"],
    "value_with_leading_space": lambda t: ["--option", " -Xmx1m"],
    "empty_value": lambda t: ["--classpath", ""],
    "minjre_without_a_digit_after_the_dot": lambda t: ["--minjre", "17."],
    "minjre_not_a_number": lambda t: ["--minjre", "v17"],
    "jre_order_with_other_letters": lambda t: ["--jre-order", "csx"],
    "jre_order_with_a_space": lambda t: ["--jre-order", "cb je"],
    "bad_arch": lambda t: ["--arch", "arm64"],
    "cds_neither_auto_nor_off": lambda t: ["--cds=on"],
    "cds_given_twice": lambda t: ["--cds", "--cds=off"],
}


@pytest.mark.parametrize("case", sorted(CASES))
def test_refusal_writes_nothing(case, run, stub, jar, tmp_path):
    work = tmp_path / "work"
    work.mkdir()
    args = {"--stub": stub, "--jar": jar}
    extra = CASES[case](work)
    for key in ("--stub", "--jar"):
        if key in extra:
            i = extra.index(key)
            args[key] = extra[i + 1]
            del extra[i:i + 2]
    out = tmp_path / "out" / "app.exe"
    out.parent.mkdir()
    out.write_bytes(OLD_OUTPUT)
    before = sorted(os.listdir(out.parent))
    result = run("--stub", args["--stub"], "--jar", args["--jar"], *extra, "-o", out)
    assert result.returncode == 2, result
    lines = result.stderr.decode().splitlines()
    assert len(lines) == 1 and lines[0].startswith("kvxpack: "), lines
    assert result.stdout == b""
    assert out.read_bytes() == OLD_OUTPUT
    assert sorted(os.listdir(out.parent)) == before


def test_missing_jar_or_output_is_refused(run, stub, jar, tmp_path):
    for args in (["--stub", stub, "-o", tmp_path / "x.exe"], ["--stub", stub, "--jar", jar], []):
        result = run(*args)
        assert result.returncode == 2
        assert len(result.stderr.decode().splitlines()) == 1
    assert not (tmp_path / "x.exe").exists()


def test_output_in_missing_folder_fails_without_leftovers(run, stub, jar, tmp_path):
    result = run("--stub", stub, "--jar", jar, "-o", tmp_path / "absent" / "app.exe")
    assert result.returncode == 1
    assert "absent" in result.stderr.decode()
    assert not (tmp_path / "absent").exists()


def test_output_that_is_a_folder_is_left_alone(run, stub, jar, tmp_path):
    target = tmp_path / "target"
    target.mkdir()
    (target / "keep.txt").write_bytes(b"keep")
    result = run("--stub", stub, "--jar", jar, "-o", target)
    assert result.returncode == 1
    assert (target / "keep.txt").read_bytes() == b"keep"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["app.jar", "stub.bin", "target"]


def test_help_goes_to_standard_output(run):
    result = run("--help")
    assert result.returncode == 0
    assert b"--jar APP.jar" in result.stdout and b"default" in result.stdout
