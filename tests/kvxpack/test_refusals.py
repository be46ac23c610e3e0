"""Refusals: one line on standard error, exit code 2, nothing written, an existing OUT untouched."""
import os
import struct
import subprocess

import pytest

from conftest import end_record_offset, make_zip, pe_image

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


def set_central_flags(flags):
    def change(data, record):
        (directory,) = struct.unpack_from("<I", data, record + 16)
        struct.pack_into("<H", data, directory + 8, flags)
    return change


def config_file(tmp_path, content):
    path = tmp_path / "app.cfg"
    path.write_bytes(content)
    return path


def jar_with_main(t, main, name="main.jar"):
    return make_zip(t / name, {"META-INF/MANIFEST.MF": f"Manifest-Version: 1.0\r\nMain-Class: {main}\r\n\r\n".encode(),
                               "a/B.class": b"\xca\xfe\xba\xbe"})


def elf_file(t):
    path = t / "kvx"
    path.write_bytes(b"\x7fELF\x02\x01\x01" + bytes(9) + struct.pack("<HH", 3, 62) + bytes(200))
    return path


def pe_stub(t):
    path = t / "x64.exe"
    path.write_bytes(pe_image())
    return path


def packed_stub(t):
    path = t / "packed.exe"
    path.write_bytes(pe_image() + make_zip(t / "inner.jar").read_bytes())
    return path


def directory_offset_before_directory(data, record):
    """The recorded offset points 46 bytes before the real directory, which looks like bytes
    in front; no local header stands where that shift puts the entries."""
    (offset,) = struct.unpack_from("<I", data, record + 16)
    struct.pack_into("<I", data, record + 16, offset - 46)


# Each case builds its extra arguments in tmp_path (stub and jar are good unless replaced) and
# names the words the one line must hold: the reason, not just any refusal.
MAIN = ["--main", "a.B"]
CASES = {
    "text_over_51200_bytes": (lambda t: ["--config", config_file(t, b"#" * 51190 + b"\r\n"), *MAIN],
                              "more than the 51200"),
    "text_over_51200_after_crlf_normalising": (lambda t: ["--config", config_file(t, b"#\n" * 25601), *MAIN],
                                               "more than the 51200"),
    "signature_in_config_file": (lambda t: ["--config", config_file(t, b"option -Dx=PK\x05\x06\r\n"), *MAIN],
                                 "PK\\5\\6"),
    "nul_in_config_file": (lambda t: ["--config", config_file(t, b"option -Dx=\x00\r\n"), *MAIN], "NUL byte"),
    "missing_config_file": (lambda t: ["--config", t / "absent.cfg", *MAIN], "absent.cfg: No such file"),
    "config_file_is_a_folder": (lambda t: ["--config", t, *MAIN], "is a directory, not a regular file"),
    "jar_not_a_zip": (lambda t: ["--jar", config_file(t, b"just some text, no archive" * 100), *MAIN],
                      "no end-of-central-directory record in its last 64 KiB"),
    "jar_empty": (lambda t: ["--jar", config_file(t, b""), *MAIN], "too short to be a ZIP archive"),
    "jar_missing": (lambda t: ["--jar", t / "absent.jar", *MAIN], "absent.jar: No such file"),
    "jar_truncated_inside_end_record": (lambda t: ["--jar", corrupt_jar(t, "cut.jar", lambda d, r: d.__delitem__(
        slice(r + 10, None))), *MAIN], "no end-of-central-directory record in its last"),
    "jar_comment_length_past_the_end": (lambda t: ["--jar", corrupt_jar(t, "long.jar", lambda d, r: struct.pack_into(
        "<H", d, r + 20, 5)), *MAIN], "no end-of-central-directory record matches"),
    "jar_directory_offset_too_large": (lambda t: ["--jar", corrupt_jar(t, "off.jar", put32(16, 0x7FFFFFFF)), *MAIN],
                                       "no end-of-central-directory record matches"),
    "jar_directory_size_too_large": (lambda t: ["--jar", corrupt_jar(t, "size.jar", put32(12, 0x7FFFFFFF)), *MAIN],
                                     "no end-of-central-directory record matches"),
    "jar_directory_too_small_for_its_entries": (lambda t: ["--jar", corrupt_jar(t, "few.jar", put32(12, 30)), *MAIN],
                                                "no end-of-central-directory record matches"),
    "jar_directory_not_where_record_says": (lambda t: ["--jar", corrupt_jar(t, "dir.jar", move_directory_start(46)),
                                                       *MAIN], "no end-of-central-directory record matches"),
    "jar_directory_offset_before_the_directory": (lambda t: ["--jar", corrupt_jar(
        t, "before.jar", directory_offset_before_directory), *MAIN],
        "entry 'a/One.txt': no local header at offset 46 (the central directory's offsets do not match"),
    "jar_encrypted_entry": (lambda t: ["--jar", corrupt_jar(t, "secret.jar", set_central_flags(0x0001)), *MAIN],
                            "entry 'a/One.txt' is encrypted"),
    "second_jar_not_a_zip": (lambda t: ["--jar", make_zip(t / "ok.jar"), "--jar", config_file(t, b"x" * 100), *MAIN],
                             "app.cfg: not a ZIP archive"),
    "stub_missing": (lambda t: ["--stub", t / "absent.exe", *MAIN], "absent.exe: No such file"),
    "stub_is_a_folder": (lambda t: ["--stub", t, *MAIN], "is a directory, not a regular file"),
    "stub_empty": (lambda t: ["--stub", config_file(t, b""), *MAIN], "not a launcher"),
    "stub_text_file": (lambda t: ["--stub", config_file(t, b"#!/bin/sh\necho hello\n" * 10), *MAIN],
                       "not a launcher"),
    "stub_is_a_jar": (lambda t: ["--stub", make_zip(t / "stub.jar"), *MAIN], "not a launcher"),
    "stub_already_packed": (lambda t: ["--stub", packed_stub(t), *MAIN], "already packed"),
    "stub_linux_for_arch_x86": (lambda t: ["--arch", "x86", *MAIN],
                                "is an x86-64 ELF program, but --arch asks for a 32-bit Windows (x86) image"),
    "stub_x64_for_arch_x86": (lambda t: ["--stub", pe_stub(t), "--arch", "x86", *MAIN],
                              "is a 64-bit Windows (x64) image, but --arch asks for a 32-bit Windows (x86) image"),
    "stub_elf_for_arch_x64": (lambda t: ["--stub", elf_file(t), "--arch", "x64", *MAIN],
                              "is an x86-64 ELF program, but --arch asks for a 64-bit"),
    "no_main_class_anywhere": (lambda t: [], "no main class: give --main CLASS"),
    "no_main_class_with_a_warning_pending": (lambda t: ["--jar", make_zip(t / "stale.jar", {
        "com/quorvane/kvx/SystemTray.class": b"stale"})], "no main class: give --main CLASS"),
    "main_conflicts_with_config": (lambda t: ["--config", config_file(t, b"option -Xmx1m\nMainClass = c.Config\n"),
                                              "--main", "c.Command"],
                                   "--main c.Command conflicts with 'mainclass c.Config' in"),
    "manifest_main_class_with_space": (lambda t: ["--jar", jar_with_main(t, "a.B extra")],
                                       "the manifest's Main-Class 'a.B extra' is not a class name"),
    "unknown_argument": (lambda t: ["--frobnicate"], "unknown argument '--frobnicate'"),
    "value_missing_at_end": (lambda t: ["--main"], "--main needs a value"),
    "main_given_twice": (lambda t: ["--main", "a.B", "--main", "c.D"], "--main given twice"),
    "main_with_trailing_space": (lambda t: ["--main", "a.B "], "cannot contain white space"),
    "main_with_tab_inside": (lambda t: ["--main", "a.\tB"], "cannot contain white space"),
    "property_without_equals": (lambda t: ["--property", "novalue", *MAIN], "expected NAME=VALUE"),
    "property_without_name": (lambda t: ["--property", "=value", *MAIN], "has no name before '='"),
    "value_with_line_break": (lambda t: ["--option", "-Da=1\r\nmainclass evil.Main", *MAIN], "line break"),
    "value_with_leading_space": (lambda t: ["--option", " -Xmx1m", *MAIN], "cannot begin with a space or '='"),
    "empty_value": (lambda t: ["--classpath", "", *MAIN], "--classpath needs a value"),
    "minjre_beyond_int": (lambda t: ["--minjre", "2147483648", *MAIN], "numbers up to 2147483647"),
    "minjre_minor_beyond_int": (lambda t: ["--minjre", "1.99999999999", *MAIN], "numbers up to 2147483647"),
    "minjre_not_a_number": (lambda t: ["--minjre", "1.8u", *MAIN], "expected MAJOR or MAJOR.MINOR"),
    "minjre_three_numbers": (lambda t: ["--minjre", "1.8.0", *MAIN], "expected MAJOR or MAJOR.MINOR"),
    "jre_order_with_other_letters": (lambda t: ["--jre-order", "csx", *MAIN], "use the letters c, b, j, v, s, i and e"),
    "jre_order_with_a_space": (lambda t: ["--jre-order", "cb je", *MAIN], "use the letters c, b, j, v, s, i and e"),
    "minjre_without_a_digit_after_the_dot": (lambda t: ["--minjre", "17.", *MAIN], "expected MAJOR or MAJOR.MINOR"),
    "cds_neither_auto_nor_off": (lambda t: ["--cds=on", *MAIN], "expected auto or off"),
    "cds_given_twice": (lambda t: ["--cds", "--cds=off", *MAIN], "--cds given twice"),
    "bad_arch": (lambda t: ["--arch", "arm64", *MAIN], "expected x86, x64 or host"),
    # The launcher matches keys by prefix: "_log x" would read as a service_log line.
    "service_name_beginning_with_underscore": (lambda t: ["--service", "_log", *MAIN], "neither begins with '_'"),
    "service_name_with_backslash": (lambda t: ["--service", "a\\b", *MAIN], "no '/' or '\\'"),
    "service_name_too_long": (lambda t: ["--service", "s" * 257, *MAIN], "1 to 256 characters"),
    "service_stop_without_method": (lambda t: ["--service-stop", "Stop", *MAIN], "expected CLASS.METHOD"),
    "service_stop_with_space": (lambda t: ["--service-stop", "a.B. stop", *MAIN], "expected CLASS.METHOD"),
    "service_stop_ending_in_dot": (lambda t: ["--service-stop", "a.B.", *MAIN], "expected CLASS.METHOD"),
}


@pytest.mark.parametrize("case", sorted(CASES))
def test_refusal_names_its_reason_and_writes_nothing(case, run, stub, jar, tmp_path):
    work = tmp_path / "work"
    work.mkdir()
    build, reason = CASES[case]
    extra = build(work)
    args = {"--stub": stub, "--jar": jar}
    for key in ("--stub", "--jar"):
        if key in extra:
            i = extra.index(key)
            args[key] = extra[i + 1]
            del extra[i:i + 2]
    out = tmp_path / "out" / "app.exe"
    out.parent.mkdir()
    out.write_bytes(OLD_OUTPUT)
    before = sorted(os.listdir(out.parent))
    # OUT first, so that a case can end the command line.
    result = run("-o", out, "--stub", args["--stub"], "--jar", args["--jar"], *extra)
    assert result.returncode == 2, result
    lines = result.stderr.decode().splitlines()
    assert len(lines) == 1 and lines[0].startswith("kvxpack: "), lines
    assert reason in lines[0], lines[0]
    assert result.stdout == b""
    assert out.read_bytes() == OLD_OUTPUT
    assert sorted(os.listdir(out.parent)) == before


def test_missing_jar_or_output_is_refused(run, stub, jar, tmp_path):
    for args, reason in ((["--stub", stub, "-o", tmp_path / "x.exe"], "missing --jar"),
                         (["--stub", stub, "--jar", jar], "missing -o OUT"), ([], "missing --jar")):
        result = run(*args)
        assert result.returncode == 2
        lines = result.stderr.decode().splitlines()
        assert len(lines) == 1 and reason in lines[0], lines
    assert not (tmp_path / "x.exe").exists()


def test_output_in_missing_folder_is_refused_without_leftovers(run, stub, jar, tmp_path):
    result = run("--stub", stub, "--jar", jar, "--main", "a.B", "-o", tmp_path / "absent" / "app.exe")
    assert result.returncode == 2
    lines = result.stderr.decode().splitlines()
    assert len(lines) == 1 and "cannot create a temporary file beside" in lines[0] and "absent" in lines[0], lines
    assert "No such file or directory" in lines[0]
    assert not (tmp_path / "absent").exists()


def test_output_in_unwritable_folder_is_refused(run, stub, jar, tmp_path):
    folder = tmp_path / "locked"
    folder.mkdir()
    (folder / "app.exe").write_bytes(OLD_OUTPUT)
    # Immutable even for root (the tests may run as root, whom permission bits do not stop).
    subprocess.run(["chattr", "+i", str(folder)], check=True, timeout=30)
    try:
        result = run("--stub", stub, "--jar", jar, "--main", "a.B", "-o", folder / "app.exe")
    finally:
        subprocess.run(["chattr", "-i", str(folder)], check=True, timeout=30)
    assert result.returncode == 2
    lines = result.stderr.decode().splitlines()
    assert len(lines) == 1 and f"cannot create a temporary file beside {folder / 'app.exe'}" in lines[0], lines
    assert "Operation not permitted" in lines[0] or "Permission denied" in lines[0], lines
    assert sorted(os.listdir(folder)) == ["app.exe"] and (folder / "app.exe").read_bytes() == OLD_OUTPUT


def test_help_goes_to_standard_output(run):
    result = run("--help")
    assert result.returncode == 0
    assert b"--jar APP.jar" in result.stdout and b"default" in result.stdout
