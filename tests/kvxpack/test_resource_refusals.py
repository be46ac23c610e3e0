"""Bad resource input: one line naming the file and the problem, exit code 2, and nothing at
the output path (an existing output untouched)."""
import os
import subprocess

import pytest

from conftest import kvxpack_path, make_zip
from kvx_support import built_stub, png_image, small_icon, standard_icon
import resource_files as rf

OLD_OUTPUT = b"the previous executable"


def write(folder, name, data):
    path = folder / name
    path.write_bytes(data)
    return path


def real_stub():
    return built_stub("x64", builds=kvxpack_path().parent.parent)


# Each case gives (arguments, the text the message must hold); the stub is build/win64/kvx.exe.
CASES = {
    "stub_text_file": lambda t: (["--stub", write(t, "notes.exe", b"just text\r\n" * 50)], "notes.exe"),
    "stub_mz_without_pe": lambda t: (["--stub", write(t, "dos.exe", b"MZ" + bytes(200))], "not a PE image"),
    "stub_cut_in_section_table": lambda t: (["--stub", write(t, "cut.exe", real_stub().read_bytes()[:0x200])],
                                            "cut.exe"),
    "icon_truncated": lambda t: (["--icon", write(t, "cut.ico", standard_icon()[:-10])], "cut.ico"),
    "icon_not_an_icon": lambda t: (["--icon", write(t, "pic.ico", rf.bmp_file(4, 4))], "not an icon"),
    "icon_without_images": lambda t: (["--icon", write(t, "none.ico", b"\0\0\1\0\0\0")], "none.ico"),
    "icon_cursor": lambda t: (["--tray-icon", "3=" + str(write(t, "c.cur", b"\0\0\2\0" + small_icon()[4:]))],
                              "cursor"),
    "icon_missing": lambda t: (["--icon", t / "absent.ico"], "absent.ico"),
    "splash_not_bmp": lambda t: (["--splash", write(t, "s.bmp", b"GIF89a" + bytes(100))], "not a BMP"),
    "splash_png": lambda t: (["--splash", write(t, "s.png", png_image(8))], "PNG"),
    "splash_truncated": lambda t: (["--splash", write(t, "cut.bmp", rf.bmp_file(50, 50)[:-100])], "cut.bmp"),
    "splash_bad_header": lambda t: (["--splash", write(t, "h.bmp", b"BM" + bytes(12) + b"\x07\0\0\0" + bytes(60))],
                                    "h.bmp"),
    "manifest_not_xml": lambda t: (["--manifest", write(t, "app.manifest", b"this is not xml")], "app.manifest"),
    "manifest_unclosed": lambda t: (["--manifest", write(t, "u.manifest", b"<assembly><dependency></assembly>")],
                                    "does not match"),
    "manifest_other_root": lambda t: (["--manifest", write(t, "r.manifest", b"<html></html>")], "assembly"),
    "manifest_with_utf8": lambda t: (["--utf8", "--manifest", write(t, "ok.manifest", b"<assembly/>")],
                                     "ok.manifest"),
    "tray_id_zero": lambda t: (["--tray-icon", "0=" + str(write(t, "a.ico", small_icon()))], "1 to 65535"),
    "tray_id_too_large": lambda t: (["--tray-icon", "65536=" + str(write(t, "a.ico", small_icon()))],
                                    "1 to 65535"),
    "tray_id_not_a_number": lambda t: (["--tray-icon", "x=" + str(write(t, "a.ico", small_icon()))],
                                       "1 to 65535"),
    "tray_without_file": lambda t: (["--tray-icon", "5"], "ID=FILE"),
    "tray_id_twice": lambda t: (["--tray-icon", "5=a.ico", "--tray-icon", "05=b.ico"], "twice"),
    "version_unknown_key": lambda t: (["--version", "Colour=blue"], "unknown key Colour"),
    "version_not_a_number": lambda t: (["--version", "FileVersion=beta"], "FileVersion"),
    "version_number_too_large": lambda t: (["--version", "FileVersion=1.70000"], "65535"),
    "version_bad_utf8": lambda t: (["--version", b"ProductName=\xff\xfe"], "UTF-8"),
    "icon_with_linux_stub": lambda t: (["--arch", "host", "--icon", write(t, "a.ico", small_icon())],
                                       "Windows launcher"),
    "console_with_host": lambda t: (["--arch", "host", "--console"], "--console"),
}


@pytest.mark.parametrize("case", sorted(CASES))
def test_bad_resource_input_is_refused(case, run, kvxpack, tmp_path):
    work = tmp_path / "work"
    work.mkdir()
    args, needle = CASES[case](work)
    if "--stub" not in args and "--arch" not in args:
        args = ["--stub", real_stub(), *args]
    jar = make_zip(work / "app.jar")
    out = tmp_path / "out" / "App.exe"
    out.parent.mkdir()
    out.write_bytes(OLD_OUTPUT)
    argv = [str(kvxpack), *[a if isinstance(a, bytes) else str(a) for a in args], "--jar", str(jar), "-o", str(out)]
    result = subprocess.run(argv, capture_output=True, timeout=120)
    assert result.returncode == 2, result
    lines = result.stderr.decode("utf-8", "replace").splitlines()
    assert len(lines) == 1 and lines[0].startswith("kvxpack: "), lines
    assert needle in lines[0], lines
    assert out.read_bytes() == OLD_OUTPUT
    assert os.listdir(out.parent) == ["App.exe"]


def test_inspect_refuses_what_is_not_an_executable(run, tmp_path):
    for data in (b"", b"MZ" + bytes(10), b"plain text" * 10):
        path = write(tmp_path, "x.exe", data)
        result = run("--inspect", path)
        assert result.returncode == 2, result
        assert len(result.stderr.decode().splitlines()) == 1 and "x.exe" in result.stderr.decode()
    assert run("--inspect", path, "--main", "a.B").returncode == 2
