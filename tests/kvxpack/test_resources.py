"""Resources written into the Windows launchers by kvxpack itself: what wrestool and our own
walker read back, the launcher's own string tables, the headers and the checksum."""
import shutil
import struct
import subprocess
import zipfile

import pytest

from conftest import kvxpack_path, launcher_text, make_zip
from kvx_support import built_stub, ico_file, icon_image, inspect_exe, standard_icon, tool
import resource_files as rf

ARCHES = {"x86": "win32", "x64": "win64"}
VERSION = ["FileVersion=1.2.3.4", "ProductVersion=5.6 beta", "ProductName=Kvx Demo \u00e9", "CompanyName=Quorvane",
           "FileDescription=Demo application", "LegalCopyright=(c) 2026", "OriginalFilename=App.exe",
           "InternalName=app"]


def stub_for(arch, console=False):
    """The launcher kvxpack itself takes: the one it carries, as built."""
    return built_stub(arch, console, builds=kvxpack_path().parent.parent)


def wrestool(*args):
    return subprocess.run([tool("wrestool"), *map(str, args)], capture_output=True, timeout=60)


@pytest.fixture
def inputs(tmp_path):
    (tmp_path / "app.ico").write_bytes(standard_icon())
    (tmp_path / "tray.ico").write_bytes(ico_file([(16, icon_image(16), 32), (32, icon_image(32), 32)]))
    (tmp_path / "splash.bmp").write_bytes(rf.bmp_file(120, 70))
    make_zip(tmp_path / "app.jar")
    return tmp_path


def pack_full(run, inputs, arch, out_name="App.exe", cwd=None, extra=()):
    out = inputs / out_name
    args = ["--arch", arch, "--jar", inputs / "app.jar", "--main", "app.Main", "--icon", inputs / "app.ico",
            "--tray-icon", "7=" + str(inputs / "tray.ico"), "--tray-icon", "1=" + str(inputs / "tray.ico"),
            "--splash", inputs / "splash.bmp", *sum((["--version", v] for v in VERSION), []), *extra, "-o", out]
    result = run(*args, cwd=cwd)
    assert result.returncode == 0, result.stderr
    return out


@pytest.mark.parametrize("arch", ARCHES)
def test_resources_read_back_and_the_launcher_keeps_its_own(arch, run, inputs):
    out = pack_full(run, inputs, arch)
    data = out.read_bytes()
    found = rf.resources(data)
    stub_resources = rf.resources(stub_for(arch).read_bytes())
    # The launcher's string tables in all three languages, byte for byte.
    tables = {k: v for k, v in stub_resources.items() if k[0] == 6}
    assert {k[2] for k in tables} == {0x0409, 0x0404, 0x0804}
    assert all(found[k] == v for k, v in tables.items())
    # Icons: the application group is named, so Explorer takes it first; tray groups by id.
    groups = sorted(((k[1], k[2]) for k in found if k[0] == 14), key=str)
    assert groups == [("APPICON", 0), (1, 0), (7, 0)], groups
    assert found[(2, 100, 0)] == (inputs / "splash.bmp").read_bytes()[14:]
    assert b"asInvoker" in found[(24, 1, 0x0409)] and b"PerMonitorV2" in found[(24, 1, 0x0409)]
    assert b"activeCodePage" not in found[(24, 1, 0x0409)]
    assert launcher_text(data) == b"mainclass app.Main\r\n\0"
    with zipfile.ZipFile(out) as archive:
        assert archive.read("a/One.txt") == b"one\n"


@pytest.mark.parametrize("arch", ARCHES)
def test_wrestool_lists_and_extracts_bit_for_bit(arch, run, inputs):
    out = pack_full(run, inputs, arch)
    listing = wrestool("-l", out)
    assert listing.returncode == 0, listing.stderr
    text = listing.stdout.decode()
    for expected in ("--type=14 --name='APPICON'", "--type=14 --name=7", "--type=2 --name=100", "--type=16",
                     "--type=24", "--type=6"):
        assert expected in text, text
    extract = inputs / "x"
    extract.mkdir()
    found = rf.resources(out.read_bytes())
    for name, source in (("APPICON", "app.ico"), ("7", "tray.ico")):
        original = (inputs / source).read_bytes()
        assert wrestool("-x", "--type=14", "--name=" + name, "-o", extract / source, out).returncode == 0
        extracted = (extract / source).read_bytes()
        group = found[(14, int(name) if name.isdigit() else name, 0)]
        # wrestool writes as many bytes again as the group resource has behind the icon file.
        assert extracted[:len(original)] == original and len(extracted) == len(original) + len(group)
        # The same file put together from the group and its images by our own walker.
        count = struct.unpack_from("<H", group, 4)[0]
        rebuilt, images, offset = group[:6], b"", 6 + 16 * count
        for i in range(count):
            entry = group[6 + 14 * i:20 + 14 * i]
            image = found[(3, struct.unpack_from("<H", entry, 12)[0], 0)]
            rebuilt += entry[:12] + struct.pack("<I", offset)
            offset += len(image)
            images += image
        assert rebuilt + images == original


@pytest.mark.parametrize("arch", ARCHES)
def test_headers_sections_and_checksum_are_consistent(arch, run, inputs):
    out = pack_full(run, inputs, arch)
    data = out.read_bytes()
    assert rf.stored_checksum(data) == rf.computed_checksum(data) != 0
    optional, wide = rf.pe_offsets(data)
    section_alignment, file_alignment = struct.unpack_from("<II", data, optional + 32)
    size_of_image = struct.unpack_from("<I", data, optional + 56)[0]
    table = rf.sections(data)
    names = [s[0] for s in table]
    assert names[-2:] == [".rsrc", ".reloc"], names
    for (_, vsize, vaddr, rsize, roff), following in zip(table, table[1:]):
        assert following[2] >= vaddr + vsize and following[2] % section_alignment == 0
        if rsize and following[3]:
            assert following[4] == roff + rsize and following[4] % file_alignment == 0
    last = table[-1]
    assert size_of_image == -(-(last[2] + max(last[1], last[3])) // section_alignment) * section_alignment
    # Resource and relocation directories point at their sections.
    directories = optional + (112 if wide else 96)
    resource_rva, resource_size = struct.unpack_from("<II", data, directories + 16)
    relocation_rva = struct.unpack_from("<I", data, directories + 40)[0]
    assert (resource_rva, resource_size) == (table[-2][2], table[-2][1])
    assert relocation_rva == table[-1][2]
    # The stub's relocations moved whole.
    stub = stub_for(arch).read_bytes()
    old = rf.sections(stub)[-1]
    assert data[last[4]:last[4] + last[3]] == stub[old[4]:old[4] + old[3]]
    # A fixed time stamp.
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert struct.unpack_from("<I", data, pe + 8)[0] == 0
    objdump = tool(("x86_64" if arch == "x64" else "i686") + "-w64-mingw32-objdump")
    dump = subprocess.run([objdump, "-p", str(out)], capture_output=True, timeout=60)
    assert dump.returncode == 0 and b"Resource Directory" in dump.stdout


def test_same_inputs_give_the_same_bytes_anywhere(run, inputs, tmp_path):
    first = pack_full(run, inputs, "x64", "one.exe")
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    for name in ("app.ico", "tray.ico", "splash.bmp", "app.jar"):
        shutil.copy(inputs / name, elsewhere / name)
    # Relative paths from another working folder, a second later.
    subprocess.run(["sleep", "1.1"], check=True, timeout=10)
    args = ["--arch", "x64", "--jar", "app.jar", "--main", "app.Main", "--icon", "app.ico", "--tray-icon",
            "7=tray.ico", "--tray-icon", "1=tray.ico", "--splash", "splash.bmp",
            *sum((["--version", v] for v in VERSION), []), "-o", "two.exe"]
    assert run(*args, cwd=elsewhere).returncode == 0
    assert (elsewhere / "two.exe").read_bytes() == first.read_bytes()


def test_inspect_shows_what_was_put_in(run, inputs):
    out = pack_full(run, inputs, "x86", extra=["--utf8", "--option", "-Xmx64m"])
    text = inspect_exe(kvxpack_path(), out).text
    for expected in ("launcher: x86, GUI", "  | mainclass app.Main", "  | option -Xmx64m", "main class: app.Main",
                     "archive: 8 entries", "runtime classes: present (6 classes of com.quorvane.kvx)",
                     "icon group APPICON: 16x16 32x32 48x48 256x256(PNG)", "icon group 7: 16x16 32x32",
                     "bitmap 100: 120x70, 24 bits per pixel", "version record: 1.2.3.4",
                     "ProductName = Kvx Demo \u00e9", "UTF-8 code page", "string table block 1: 3 languages"):
        assert expected in text, text
    assert "configuration text (36 bytes" in text, text


@pytest.mark.parametrize("config, shown", [
    (b"mainclassMain\n", "Main"),              # no space needed after the key
    (b"  MAINCLASS = app.Main\n", "app.Main"),  # case of A to Z, spaces and one '='
    (b"mainclass\tMain\n", "\\tMain"),         # a tab belongs to the value, and shows
    (b"\tmainclass Main\n", "(none)"),          # nor is a tab a space before the key
])
def test_inspect_reads_the_main_class_as_the_launcher_does(run, stub, jar, tmp_path, config, shown):
    (tmp_path / "app.cfg").write_bytes(config)
    out = tmp_path / "app"
    result = run("--stub", stub, "--jar", jar, "--config", tmp_path / "app.cfg", "-o", out)
    if shown == "(none)":  # kvxpack sees no main class either, and refuses
        assert result.returncode == 2 and b"no main class" in result.stderr, result.stderr
        result = run("--stub", stub, "--jar", jar, "--config", tmp_path / "app.cfg", "--main", "x.Y", "-o", out)
        shown = "x.Y"
    assert result.returncode == 0, result.stderr
    report = inspect_exe(kvxpack_path(), out)
    assert report.main_class == shown, report.text


@pytest.mark.parametrize("version, numbers, strings", [
    ("ProductVersion=3.1", (0, 0, 0x00030001, 0), {"ProductVersion": "3.1"}),
    # Without ProductVersion the product version, number and string, is the file version.
    ("FileVersion=2.7.1 rc", (0x00020007, 0x00010000, 0x00020007, 0x00010000),
     {"FileVersion": "2.7.1 rc", "ProductVersion": "2.7.1 rc"}),
])
def test_console_variant_and_version_numbers(run, inputs, version, numbers, strings):
    out = inputs / "cli.exe"
    result = run("--arch", "x64", "--console", "--jar", inputs / "app.jar", "--main", "app.Main",
                 "--version", version, "-o", out)
    assert result.returncode == 0, result.stderr
    data = out.read_bytes()
    optional, _ = rf.pe_offsets(data)
    assert struct.unpack_from("<H", data, optional + 68)[0] == 3  # console subsystem
    record = rf.resources(data)[(16, 1, 0x0409)]
    fixed = record.index(struct.pack("<I", 0xFEEF04BD))
    assert struct.unpack_from("<IIII", record, fixed + 8) == numbers
    report = inspect_exe(kvxpack_path(), out)
    assert "launcher: x64, console" in report.lines
    assert report.strings == strings, report.text


@pytest.mark.parametrize("arch", ARCHES)
def test_built_stubs_are_stripped_and_small(arch):
    for console in (False, True):
        stub = stub_for(arch, console)
        assert stub.stat().st_size <= 128 * 1024, (stub, stub.stat().st_size)
        pe = struct.unpack_from("<I", stub.read_bytes(), 0x3C)[0]
        assert struct.unpack_from("<I", stub.read_bytes(), pe + 16)[0] == 0, "symbols left in " + str(stub)
        assert stub.with_name(stub.name + ".debug").is_file()
