"""The launcher takes the text after the last PK 5 6 it finds near the end of the file, without
parsing the record. When the record's own fields and the text's first bytes form those bytes,
kvxpack must still make the launcher read every line."""
import struct
import subprocess
import zipfile

import pytest

from conftest import END_SIGNATURE, closed, launcher_text, elf_image, runtime_class_names, sparse_jar

SIGNATURE_TAIL = 22 + 51200
COUNT_AS_SIGNATURE = 0x4B50      # an entry count that reads "PK"
SIZE_LOW_AS_SIGNATURE = 0x0605   # then the directory size's first bytes read 5 6


def text_of_length(length):
    main = b"mainclass m.Main\r\n"
    return main + b"option -Dpad=" + b"x" * (length - len(main) - 15) + b"\r\n"


def read_tail(path, size):
    with open(path, "rb") as f:
        f.seek(-size, 2)
        return f.read()


def record_fields(path):
    """Entry count, directory size and offset, and comment of the record that ends `path`:
    the last PK 5 6 whose comment length reaches the end of the file."""
    tail = read_tail(path, min(path.stat().st_size, SIGNATURE_TAIL + 22))
    at = tail.rfind(END_SIGNATURE)
    while at >= 0 and at + 22 + struct.unpack_from("<H", tail, at + 20)[0] != len(tail):
        at = tail.rfind(END_SIGNATURE, 0, at)
    assert at >= 0
    return struct.unpack_from("<HII", tail, at + 10), tail[at + 22:]


def count_jar(path, names):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        for name in names:
            archive.writestr(name, b"")
    return path


@pytest.fixture(scope="module")
def signature_count_jar(tmp_path_factory, kvxpack):
    """A jar that, with the runtime classes, makes 0x4B50 entries and a directory whose size
    begins with the bytes 5 6: one trial pack measures the directory, a longer last name then
    brings its size to the value wanted."""
    folder = tmp_path_factory.mktemp("count")
    stub = folder / "stub.bin"
    stub.write_bytes(elf_image())
    names = [f"{i:05d}" for i in range(COUNT_AS_SIGNATURE - len(runtime_class_names()))]
    trial = count_jar(folder / "trial.jar", names)
    out = folder / "trial.exe"
    subprocess.run([str(kvxpack), "--stub", str(stub), "--jar", str(trial), "--main", "m.M", "-o", str(out)],
                   check=True, timeout=120)
    (count, size, _), _ = record_fields(out)
    assert count == COUNT_AS_SIGNATURE
    names[-1] += "n" * ((SIZE_LOW_AS_SIGNATURE - size) % 0x10000)
    return count_jar(folder / "count.jar", names)


def pack_and_check(run, stub, jar, tmp_path, text):
    config = tmp_path / "text.cfg"
    config.write_bytes(text)
    out = tmp_path / "out.exe"
    result = run("--stub", stub, "--jar", jar, "--config", config, "-o", out)
    assert result.returncode == 0, result.stderr
    fields, comment = record_fields(out)
    # The comment behind our record: the text and its closing zero byte, behind nothing but
    # empty lines.
    assert comment.endswith(closed(text)) and comment[:-len(closed(text))].strip(b"\r\n") == b""
    # And the launcher, wherever its search stops, reads the same lines.
    assert launcher_text(read_tail(out, SIGNATURE_TAIL)).lstrip(b"\r\n") == closed(text)
    return fields, comment


def test_entry_count_and_directory_size_forming_the_signature(run, stub, signature_count_jar, tmp_path):
    (count, size, _), comment = pack_and_check(run, stub, signature_count_jar, tmp_path, text_of_length(300))
    assert struct.pack("<HI", count, size)[:4] == END_SIGNATURE
    assert len(comment) == 300 + 1 + 10


def test_directory_offset_and_comment_length_forming_the_signature(run, stub, tmp_path):
    # A directory at 0x054B50xx (about 89 MB in) ends its offset field with P K 5, and a text
    # length of 6 modulo 256 puts 6 after it: the launcher would skip the first 17 bytes.
    # (The comment is the text and its closing zero byte.)
    wanted = 0x054B5010
    trial = sparse_jar(tmp_path / "trial.jar", wanted - 100000)
    out = tmp_path / "trial.exe"
    assert run("--stub", stub, "--jar", trial, "--main", "m.M", "-o", out).returncode == 0
    (_, _, offset), _ = record_fields(out)
    out.unlink()
    trial.unlink()
    jar = sparse_jar(tmp_path / "offset.jar", wanted - 100000 + (wanted - offset))
    (_, _, offset), comment = pack_and_check(run, stub, jar, tmp_path, text_of_length(261))
    assert offset == wanted
    assert len(comment) != 262


def test_refused_when_padding_would_pass_the_limit(run, stub, signature_count_jar, tmp_path):
    config = tmp_path / "full.cfg"
    config.write_bytes(text_of_length(51200))
    out = tmp_path / "out.exe"
    result = run("--stub", stub, "--jar", signature_count_jar, "--config", config, "-o", out)
    assert result.returncode == 2
    lines = result.stderr.decode().splitlines()
    assert len(lines) == 1 and "would hide the configuration text" in lines[0], lines
    assert not out.exists()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["full.cfg", "stub.bin"]
