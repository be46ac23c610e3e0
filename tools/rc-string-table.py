#!/usr/bin/env python3
"""Turns the STRINGTABLE sections of a resource script into a C++ include.

    rc-string-table.py INPUT.rc OUTPUT.inc

The Linux build has no resources, so it carries the string table compiled in: for every
language, every block laid out exactly as Windows stores a string-table resource (16
counted UTF-16 strings, identifier N in block N / 16 + 1 at position N mod 16). The
resource script stays the one place where the texts live.

Understood: `#pragma code_page(65001)` (the script must be UTF-8), `LANGUAGE` statements
(named LANG_/SUBLANG_ constants or numbers), `STRINGTABLE ... BEGIN|{ ... END|}` with
lines `ID[,] "text"` (numeric identifiers; "" and C escapes in the text), and // or /* */
comments. Everything outside string tables is skipped. Anything inside a string table
that is not understood stops the build with a message naming the line.
"""
import os
import re
import sys
import tempfile

PRIMARY = {"LANG_NEUTRAL": 0x00, "LANG_ENGLISH": 0x09, "LANG_CHINESE": 0x04,
           "LANG_CHINESE_TRADITIONAL": 0x04, "LANG_CHINESE_SIMPLIFIED": 0x04}
SUB = {"SUBLANG_NEUTRAL": 0x00, "SUBLANG_DEFAULT": 0x01, "SUBLANG_ENGLISH_US": 0x01,
       "SUBLANG_ENGLISH_UK": 0x02, "SUBLANG_CHINESE_TRADITIONAL": 0x01,
       "SUBLANG_CHINESE_SIMPLIFIED": 0x02, "SUBLANG_CHINESE_HONGKONG": 0x03,
       "SUBLANG_CHINESE_SINGAPORE": 0x04}
ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "a": "\a", "\\": "\\", "\"": "\"", "0": "\0"}


class RcError(Exception):
    pass


def strip_comments(text):
    """Removes // and /* */ comments outside string literals, keeping line breaks."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if c == '"':
            j = i + 1
            while j < n:
                if text[j] == "\\":
                    j += 2
                    continue
                if text[j] == '"':
                    if j + 1 < n and text[j + 1] == '"':
                        j += 2
                        continue
                    break
                if text[j] == "\n":
                    break
                j += 1
            out.append(text[i:j + 1])
            i = j + 1
        elif text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            if end < 0:
                raise RcError("unterminated /* comment")
            out.append("\n" * text.count("\n", i, end))
            i = end + 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def number(token, names, what):
    token = token.strip()
    if token in names:
        return names[token]
    if re.fullmatch(r"0[xX][0-9a-fA-F]+|\d+", token):
        return int(token, 0)
    raise RcError("unknown %s %r" % (what, token))


def language(rest):
    parts = rest.split(",")
    if len(parts) != 2:
        raise RcError("LANGUAGE needs a primary and a sub-language")
    primary = number(parts[0], PRIMARY, "primary language")
    sub = number(parts[1], SUB, "sub-language")
    if primary > 0x3FF or sub > 0x3F:
        raise RcError("language out of range")
    return (sub << 10) | primary


def unquote(body):
    """The text of a string literal's body (between the quotes)."""
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c == "\\":
            if i + 1 >= len(body):
                raise RcError("dangling backslash")
            e = body[i + 1]
            if e in ESCAPES:
                out.append(ESCAPES[e])
                i += 2
                continue
            m = re.match(r"x([0-9a-fA-F]{1,4})", body[i + 1:])
            if m:
                out.append(chr(int(m.group(1), 16)))
                i += 1 + len(m.group(0))
                continue
            raise RcError("unknown escape \\%s" % e)
        if c == '"':
            if body[i + 1:i + 2] != '"':
                raise RcError("stray quote")
            out.append('"')
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


ENTRY = re.compile(r'^(0[xX][0-9a-fA-F]+|\d+)\s*,?\s*"((?:[^"\\]|\\.|"")*)"$')


def parse(text):
    """{language: {id: text}} of every STRINGTABLE in the script."""
    tables = {}
    current = None       # language of the script at this point
    state = "outside"    # outside | header | body
    table_lang = None
    for lineno, raw in enumerate(strip_comments(text).split("\n"), 1):
        line = raw.strip()
        try:
            if not line:
                continue
            split = line.split(None, 1)
            word, rest = split[0].upper(), (split[1] if len(split) > 1 else "")
            if state == "outside":
                if word == "LANGUAGE":
                    current = language(rest)
                elif word == "#PRAGMA" and "code_page" in line:
                    if not re.search(r"code_page\s*\(\s*65001\s*\)", line):
                        raise RcError("the script must be UTF-8 (code_page 65001)")
                elif word == "STRINGTABLE":
                    state, table_lang = "header", current
                    tail = rest.strip()
                    if tail in ("BEGIN", "{"):
                        state = "body"
                    elif tail and not re.fullmatch(r"(DISCARDABLE|MOVEABLE|PURE|PRELOAD|LOADONCALL|IMPURE|FIXED)"
                                                   r"(\s+\w+)*", tail, re.I):
                        raise RcError("unexpected text after STRINGTABLE: %r" % tail)
                continue
            if state == "header":
                if line in ("BEGIN", "{"):
                    state = "body"
                elif word == "LANGUAGE":
                    table_lang = language(rest)
                elif word in ("CHARACTERISTICS", "VERSION"):
                    pass
                else:
                    raise RcError("expected BEGIN after STRINGTABLE, found %r" % line)
                continue
            # body
            if line in ("END", "}"):
                state = "outside"
                continue
            m = ENTRY.match(line)
            if not m:
                raise RcError("cannot read string-table line %r" % line)
            if table_lang is None:
                raise RcError("string table without a LANGUAGE")
            sid = int(m.group(1), 0)
            if sid > 0xFFFF:
                raise RcError("string identifier %d out of range" % sid)
            entries = tables.setdefault(table_lang, {})
            if sid in entries:
                raise RcError("string %d defined twice for language %d" % (sid, table_lang))
            value = unquote(m.group(2))
            if len(value.encode("utf-16-le")) // 2 > 0xFFFF:
                raise RcError("string %d is too long" % sid)
            entries[sid] = value
        except RcError as e:
            raise RcError("line %d: %s" % (lineno, e)) from None
    if state != "outside":
        raise RcError("string table not closed with END")
    if not tables:
        raise RcError("no STRINGTABLE found")
    return tables


def blocks(entries):
    """{block id: [UTF-16 units]} laid out as Windows stores string-table blocks."""
    out = {}
    for block_id in sorted({sid // 16 + 1 for sid in entries}):
        units = []
        for pos in range(16):
            encoded = entries.get((block_id - 1) * 16 + pos, "").encode("utf-16-le")
            words = [int.from_bytes(encoded[k:k + 2], "little") for k in range(0, len(encoded), 2)]
            units.append(len(words))
            units.extend(words)
        out[block_id] = units
    return out


def render(tables, source_name):
    lines = ["// Generated from %s by tools/rc-string-table.py. Do not edit." % source_name,
             "// Each block: 16 counted UTF-16 strings, as in a Windows string-table resource.",
             ""]
    index = []
    for lang in sorted(tables):
        for block_id, units in sorted(blocks(tables[lang]).items()):
            name = "STRING_BLOCK_%d_%d" % (lang, block_id)
            lines.append("static const uint16_t %s[] = {" % name)
            for k in range(0, len(units), 12):
                lines.append("    " + ", ".join("0x%04X" % u for u in units[k:k + 12]) + ",")
            lines.append("};")
            index.append("    {%d, %d, %s, %d}," % (lang, block_id, name, len(units)))
    lines.append("")
    lines.append("// {language, block id, units, unit count}")
    lines.append("static const EmbeddedStringBlock EMBEDDED_STRING_BLOCKS[] = {")
    lines.extend(index)
    lines.append("};")
    return "\n".join(lines) + "\n"


def main(argv):
    if len(argv) != 3:
        print("usage: rc-string-table.py INPUT.rc OUTPUT.inc", file=sys.stderr)
        return 2
    source, target = argv[1], argv[2]
    try:
        with open(source, "rb") as f:
            raw = f.read()
        try:
            text = raw.decode("utf-8-sig")
        except UnicodeDecodeError as e:
            raise RcError("not UTF-8 (%s)" % e) from None
        output = render(parse(text), os.path.basename(source))
    except (OSError, RcError) as e:
        print("rc-string-table: %s: %s" % (source, e), file=sys.stderr)
        return 1
    # Written beside the target and renamed: a failed run never leaves a half-written file.
    directory = os.path.dirname(os.path.abspath(target))
    os.makedirs(directory, exist_ok=True)
    fd, tmp = tempfile.mkstemp(dir=directory, prefix=".rc-strings-")
    with os.fdopen(fd, "w", encoding="ascii") as f:
        f.write(output)
    os.replace(tmp, target)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
