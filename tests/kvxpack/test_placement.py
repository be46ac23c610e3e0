"""The launcher takes the text after the last PK 5 6 it finds near the end of the file, without
parsing the record. When the record's own fields and the text's first bytes form those bytes,
kvxpack must still make the launcher read every line."""
import struct

from conftest import END_SIGNATURE, launcher_text

SIGNATURE_TAIL = 22 + 51200


def forged_archive(path, entries, directory_size, directory_offset):
    """An archive skeleton that passes the end-record checks: a central directory of the given
    size and entry count right before the record, its first bytes a central-header signature.
    Bytes before the directory stay a hole in a sparse file."""
    with open(path, "wb") as f:
        f.seek(directory_offset)
        f.write(b"PK\x01\x02" + bytes(directory_size - 4))
        f.write(END_SIGNATURE + struct.pack("<HHHHIIH", 0, 0, entries, entries, directory_size,
                                            directory_offset, 0))
    return path


def text_of_length(length):
    main = b"mainclass m.Main\r\n"
    return main + b"option -Dpad=" + b"x" * (length - len(main) - 15) + b"\r\n"


def read_tail(path, size):
    with open(path, "rb") as f:
        f.seek(-size, 2)
        return f.read()


def pack_and_check(run, stub, jar, tmp_path, text):
    config = tmp_path / "text.cfg"
    config.write_bytes(text)
    out = tmp_path / "out.exe"
    result = run("--stub", stub, "--jar", jar, "--config", config, "-o", out)
    assert result.returncode == 0, result.stderr
    tail = read_tail(out, SIGNATURE_TAIL)
    # The comment behind our record: the text, behind nothing but empty lines.
    jar_size = jar.stat().st_size
    assert out.stat().st_size > jar_size
    record_at = len(tail) - (out.stat().st_size - (len(stub.read_bytes()) + jar_size - 22))
    comment = tail[record_at + 22:]
    assert tail[record_at:record_at + 20] == read_tail(jar, 22)[:20]
    assert struct.unpack_from("<H", tail, record_at + 20) == (len(comment),)
    # A zero byte ends the text, so that nothing appended later (a signature) adds to it.
    assert comment.endswith(text + b"\0") and comment[:-len(text) - 1].strip(b"\r\n") == b""
    # And the launcher, wherever its search stops, reads the same lines.
    seen = launcher_text(tail)
    assert seen.lstrip(b"\r\n") == text + b"\0"
    return comment


def test_entry_count_and_directory_size_forming_the_signature(run, stub, tmp_path):
    # 19280 entries is 0x4B50 ("PK"), and a directory size of 0x000E0605 starts with 5 6:
    # the bytes at record offset 10 read PK 5 6.
    jar = forged_archive(tmp_path / "count.jar", 0x4B50, 0xE0605, 0)
    assert read_tail(jar, 12)[:4] == END_SIGNATURE
    comment = pack_and_check(run, stub, jar, tmp_path, text_of_length(300))
    assert len(comment) == 300 + 1 + 10


def test_directory_offset_and_comment_length_forming_the_signature(run, stub, tmp_path):
    # A directory at 0x054B5000 (about 89 MB in) ends its offset field with P K 5, and a text
    # length of 6 modulo 256 puts 6 after it: the launcher would skip the first 17 bytes.
    # (The comment is the text and its closing zero byte.)
    jar = forged_archive(tmp_path / "offset.jar", 1, 46, 0x054B5000)
    comment = pack_and_check(run, stub, jar, tmp_path, text_of_length(261))
    assert len(comment) != 262


def test_refused_when_padding_would_pass_the_limit(run, stub, tmp_path):
    jar = forged_archive(tmp_path / "count.jar", 0x4B50, 0xE0605, 0)
    config = tmp_path / "full.cfg"
    config.write_bytes(text_of_length(51200))
    out = tmp_path / "out.exe"
    result = run("--stub", stub, "--jar", jar, "--config", config, "-o", out)
    assert result.returncode == 2
    assert len(result.stderr.splitlines()) == 1
    assert not out.exists()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["count.jar", "full.cfg", "stub.bin"]
