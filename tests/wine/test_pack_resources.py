"""Executables packed with resources, read by the system's own functions under Wine: they
start with the test JVM, their icons and bitmap 100 load by id, the version record reads
through GetFileVersionInfo/VerQueryValue, the launcher's string tables still show in all three
languages, and the image checksum matches MapFileAndCheckSum."""
import sys

import pytest

from vm_support import JavaApp, java_app, winpath  # noqa: F401  (java_app is a fixture)

from conftest import ROOT
from kvx_support import ico_file, icon_image, make_certificate, sign, standard_icon

sys.path.insert(0, str(ROOT / "tests" / "kvxpack"))
import resource_files as rf  # noqa: E402

ARCHES = ("win32", "win64")


@pytest.fixture
def resource_inputs(tmp_path):
    folder = tmp_path / "inputs"
    folder.mkdir()
    (folder / "app.ico").write_bytes(standard_icon())
    (folder / "tray.ico").write_bytes(ico_file([(16, icon_image(16), 32), (32, icon_image(32), 32),
                                                (48, icon_image(48), 32)]))
    (folder / "splash.bmp").write_bytes(rf.bmp_file(160, 90))
    return folder


def resource_args(folder):
    return ["--icon", str(folder / "app.ico"), "--tray-icon", "42=" + str(folder / "tray.ico"),
            "--splash", str(folder / "splash.bmp"), "--version", "FileVersion=2.5.7.9",
            "--version", "ProductVersion=2.5", "--version", "ProductName=Kvx \u00c9t\u00e9",
            "--version", "CompanyName=Quorvane", "--version", "LegalCopyright=\u00a9 2026"]


def probe(wine, builds, arch, *args):
    helper = builds.need(builds.dir(arch) / "tests" / "resprobe.exe", "the %s resource probe" % arch)
    code, out, err = wine.command([helper, *args], timeout=60)
    return code, dict(line.split("=", 1) for line in out.splitlines() if "=" in line), out + err


@pytest.mark.parametrize("arch", ARCHES)
def test_packed_resources_load_and_the_application_starts(java_app, wine, builds, resource_inputs, arch):
    app = java_app(arch, extra=resource_args(resource_inputs))
    launch = app.launch(["x"], script=["class app/Main", "main returns"])
    launch.check_success()
    exe = winpath(app.exe)

    code, fields, text = probe(wine, builds, arch, "version", exe)
    assert code == 0, text
    assert fields["fixed"] == "2.5.7.9" and fields["product"] == "2.5.0.0", text
    assert fields["translation"] == "040904b0", text
    assert fields["ProductName"] == "Kvx \u00c9t\u00e9" and fields["LegalCopyright"] == "\u00a9 2026", text
    assert "OriginalFilename" not in fields, text

    for group in ("APPICON", "42"):
        code, fields, text = probe(wine, builds, arch, "icon", exe, group)
        assert code == 0, text
        assert (fields["icon16"], fields["icon32"], fields["icon48"]) == ("16x16", "32x32", "48x48"), text

    code, fields, text = probe(wine, builds, arch, "bitmap", exe)
    assert code == 0, text
    assert fields["bitmap"] == "160x90" and fields["resource"] == str(len(rf.bmp_file(160, 90)) - 14), text

    code, fields, text = probe(wine, builds, arch, "strings", exe)
    assert code == 0, text
    assert fields["0409.1"] == "Java Runtime Environment not found." and fields["0409.10"] == "Error", text
    assert fields["0404.1"] == "Java 運行環境未找到。" and fields["0804.1"] == "Java 运行环境未找到。", text

    code, fields, text = probe(wine, builds, arch, "checksum", exe)
    assert code == 0, text
    assert fields["header"] == fields["computed"] != "0", text
    assert int(fields["header"]) == rf.computed_checksum(app.exe.read_bytes()), text


def test_probe_fails_where_a_resource_is_missing(java_app, wine, builds):
    # The same probes on an executable packed without resources find no icon, bitmap or version.
    app = java_app("win64")
    exe = winpath(app.exe)
    assert probe(wine, builds, "win64", "icon", exe, "42")[0] == 1
    assert probe(wine, builds, "win64", "bitmap", exe)[0] == 1
    assert probe(wine, builds, "win64", "version", exe)[0] == 1


def test_console_launcher_starts_the_application(wine, builds, pack, testjvm, tmp_path):
    kvxc = builds.need(builds.dir("win64") / "kvxc.exe", "the win64 console launcher")
    jvm = testjvm("win64")
    exe = pack(kvxc, "cli.exe", main="app.Main", jvmdll=winpath(jvm.dll), extra=["--console"])
    pe = int.from_bytes(exe.read_bytes()[0x3C:0x40], "little")
    assert exe.read_bytes()[pe + 24 + 68] == 3  # the console subsystem
    JavaApp(wine, exe, jvm, tmp_path).launch(["a"], script=["class app/Main"]).check_success()


@pytest.mark.parametrize("arch", ARCHES)
def test_signed_executable_reads_the_same_configuration(java_app, tmp_path, arch):
    certificate = make_certificate(tmp_path / "cert")
    app = java_app(arch, options=("-Xmx32m",), properties=("signed=yes",))
    before = app.launch(["a"], script=["class app/Main"])
    before.check_success()
    unsigned = app.exe.with_name("unsigned.exe")
    app.exe.rename(unsigned)
    sign(certificate, unsigned, app.exe)
    assert app.exe.stat().st_size > unsigned.stat().st_size
    after = app.launch(["a"], script=["class app/Main"])
    after.check_success()
    assert after.options == before.options, after.describe()
