r"""What the user guide (docs/) must agree with, read from the sources and the built tools.

The guide marks what a machine can check with HTML comments, invisible when rendered:

    <!-- check: options -->   the next table is kvxpack's option reference (first column)
    <!-- check: keys -->      the next table is the configuration key reference (first column)
    <!-- check: config -->    the next fenced block is configuration text: every line's key exists
    <!-- check: provide F.. -->  the page's scenario gets sample files F (.ico, .bmp) made for it
    <!-- check: file PATH --> the next fenced block is written to PATH in the page's scenario folder
    <!-- check: run -->       the next fenced block runs under bash in that folder and must succeed
    <!-- check: wine -->      each line of the next fenced block (`Program.exe ARGS`) runs under Wine
                              in that folder, with a Windows Java as JAVA_HOME, and must succeed
    <!-- check: output -->    every line of the next fenced block appears, in order, in what the
                              last run block printed ("..." lines are skipped; $PWD stands
                              for the scenario folder)

and docs/messages.md gives each launcher string a section `### ID: English text` holding a
table with one row per language (`| English | \`text\` |`).

Every function returns a list of problems, each naming the file (and line) and what is wrong,
so that a reader adding an option, key or message knows where to write it.
"""
import re
import struct
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
DOCS = ROOT / "docs"
sys.path.insert(0, str(ROOT / "tools"))

MARKER = re.compile(r"^<!--\s*check:\s*(\w+)\s*(.*?)\s*-->\s*$")
FENCE = re.compile(r"^(```+|~~~+)")

# Options of other programs that the guide's commands use (javac, jar, jlink, cmake ...);
# every other --word in the guide must be one of kvxpack's.
OTHER_TOOLS_OPTIONS = {
    "--release", "--create", "--file", "--main-class", "--add-modules", "--output", "--strip-debug",
    "--no-header-files", "--no-man-pages", "--enable-native-access", "--illegal-native-access",
    "--preset", "--build", "--target", "--timeout", "--display", "--class-path", "--add-opens",
    "--print-module-deps", "--port", "--now",
}
# kvxpack answers these with its help text, which does not list them itself.
HELP_SWITCHES = {"-h", "--help"}

LANGUAGES = {"English": 1033, "繁體中文": 1028, "简体中文": 2052}


def relative(path):
    try:
        return str(Path(path).relative_to(ROOT))
    except ValueError:
        return str(path)


def guide_pages():
    """{path: text} of every page under docs/."""
    return {p: p.read_text(encoding="utf-8") for p in sorted(DOCS.glob("**/*.md"))}


# ---------------------------------------------------------------------------------------------
# Markdown structure

def blocks(text):
    """[(marker, argument, line number, fenced body or table lines)] for each marker of a page."""
    lines = text.split("\n")
    found = []
    for i, line in enumerate(lines):
        m = MARKER.match(line.strip())
        if not m:
            continue
        kind, argument = m.group(1), m.group(2)
        body = None
        j = i + 1
        while j < len(lines) and not lines[j].strip():
            j += 1
        if kind in ("options", "keys"):
            table = []
            while j < len(lines) and lines[j].lstrip().startswith("|"):
                table.append((j + 1, lines[j]))
                j += 1
            body = table
        elif kind in ("config", "file", "run", "wine", "output"):
            fence = FENCE.match(lines[j].strip()) if j < len(lines) else None
            if fence:
                close = fence.group(1)
                k = j + 1
                while k < len(lines) and not lines[k].strip().startswith(close):
                    k += 1
                body = "\n".join(lines[j + 1:k]) + "\n"
        found.append((kind, argument, i + 1, body))
    return found


def table_rows(table):
    """(line number, [cells]) of a Markdown table's rows, header and separator left out."""
    rows = []
    for number, line in table[2:]:
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        rows.append((number, cells))
    return rows


def code_spans(cell):
    return re.findall(r"`([^`]*)`", cell)


def outside_comments(text):
    return re.sub(r"<!--.*?-->", "", text, flags=re.S)


# ---------------------------------------------------------------------------------------------
# kvxpack options

def help_options(help_text):
    """The options kvxpack's help names: every --word, and the one-letter -o."""
    names = set(re.findall(r"(?<![\w-])--[a-z0-9][a-z0-9-]*", help_text))
    names |= set(re.findall(r"(?:^|[\s\[,|])(-[a-zA-Z])(?=[\s,\]])", help_text, flags=re.M))
    return names


def option_problems(pages, help_text):
    known = help_options(help_text)
    problems = []
    referenced = set()
    reference_page = DOCS / "kvxpack.md"
    tables = [(p, b) for p, t in pages.items() for (k, _, n, b) in blocks(t) if k == "options"]
    if not tables:
        problems.append(f"{relative(reference_page)}: no option table marked <!-- check: options -->")
    for page, table in tables:
        for number, cells in table_rows(table):
            names = [w for span in code_spans(cells[0]) for w in re.findall(r"(?<![\w-])--?[a-z0-9][a-z0-9-]*", span)
                     if w.startswith("--") or len(w) == 2]
            if not names:
                problems.append(f"{relative(page)}:{number}: option row names no option in its first column")
            referenced.update(names)
    for name in sorted(known - referenced):
        problems.append(f"{relative(reference_page)}: kvxpack --help lists {name}, the option table does not "
                        f"(add a row `{name} ...` under <!-- check: options -->)")
    # Every --word anywhere in the guide: a kvxpack option, or another tool's.
    for page, text in pages.items():
        for number, line in enumerate(outside_comments(text).split("\n"), 1):
            for word in re.findall(r"(?<![\w-])--[a-z][a-z0-9-]*", line):
                if word in known or word in HELP_SWITCHES or word in OTHER_TOOLS_OPTIONS:
                    continue
                problems.append(f"{relative(page)}:{number}: {word} is not an option of kvxpack --help "
                                f"(misspelt? another program's option goes into OTHER_TOOLS_OPTIONS of "
                                f"{relative(Path(__file__))})")
    for name in sorted(referenced - known - HELP_SWITCHES):
        problems.append(f"{relative(reference_page)}: the option table lists {name}, kvxpack --help does not")
    return problems


# ---------------------------------------------------------------------------------------------
# Configuration keys

# How the launcher asks its store for a key: store.get(AppString("key")), find(AppString("key"), ...),
# get("key") and the option lists' addOptionsOfKey(..., "key", ...).
KEY_LOOKUPS = [
    re.compile(r"\b(?:get|find)\(\s*AppString\(\s*\"([A-Za-z_][A-Za-z0-9_]*)\"\s*\)"),
    re.compile(r"(?<![\w.:>])get\(\s*\"([A-Za-z_][A-Za-z0-9_]*)\"\s*[,)]"),
    re.compile(r"\baddOptionsOfKey\([^;\"]*\"([A-Za-z_][A-Za-z0-9_]*)\""),
]


def launcher_keys(source_root=ROOT / "src"):
    """{key: 'file:line'} of every configuration lookup in the launcher's sources."""
    keys = {}
    for path in sorted(source_root.rglob("*.cpp")):
        parts = path.relative_to(source_root).parts
        if parts[0] in ("kvxpack", "java"):
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        for pattern in KEY_LOOKUPS:
            for m in pattern.finditer(text):
                line = text.count("\n", 0, m.start()) + 1
                keys.setdefault(m.group(1).lower(), f"{relative(path)}:{line}")
    return keys


def kvxpack_keys(source=ROOT / "src/kvxpack/cli/CommandLine.cpp"):
    """{key: option} of the lines kvxpack writes for its options."""
    text = source.read_text(encoding="utf-8")
    return {m.group(2): m.group(1)
            for m in re.finditer(r"\{\s*\"(-[\w-]+)\"\s*,\s*Target::Entry\s*,\s*\"(\w+)\"", text)}


def config_line_key(line, keys):
    """The key a configuration line is read as (the launcher matches a line by its start), or None."""
    text = line.lstrip(" ")
    for key in sorted(keys, key=len, reverse=True):
        if text[:len(key)].lower() == key:
            return key
    return None


def key_problems(pages, keys, packer_keys):
    problems = []
    reference_page = DOCS / "configuration.md"
    documented = {}
    tables = [(p, b) for p, t in pages.items() for (k, _, n, b) in blocks(t) if k == "keys"]
    if not tables:
        problems.append(f"{relative(reference_page)}: no key table marked <!-- check: keys -->")
    for page, table in tables:
        for number, cells in table_rows(table):
            spans = code_spans(cells[0])
            if not spans:
                problems.append(f"{relative(page)}:{number}: key row names no `key` in its first column")
            for key in spans:
                documented[key] = f"{relative(page)}:{number}"
                if key not in keys:
                    problems.append(f"{relative(page)}:{number}: the key table lists `{key}`, which the launcher "
                                    f"never reads (known: {', '.join(sorted(keys))})")
    for key in sorted(set(keys) - set(documented)):
        problems.append(f"{relative(reference_page)}: the launcher reads the key `{key}` ({keys[key]}), the key table "
                        f"does not list it (add a row under <!-- check: keys -->)")
    for key, option in sorted(packer_keys.items()):
        if key not in keys:
            problems.append(f"src/kvxpack/cli/CommandLine.cpp: {option} writes the key `{key}`, but no lookup of it "
                            f"was found in the launcher's sources: if it is read another way, teach KEY_LOOKUPS "
                            f"in {relative(Path(__file__))}")
    # A key in running text: an inline `snake_case` word is always one (`jre_order`).
    for page, text in pages.items():
        for number, line in enumerate(outside_comments(text).split("\n"), 1):
            for span in code_spans(line):
                if re.fullmatch(r"[a-z]+(?:_[a-z0-9]+)+", span) and span not in keys:
                    problems.append(f"{relative(page)}:{number}: `{span}` is not a key the launcher reads "
                                    f"(known: {', '.join(sorted(keys))})")
    for page, text in pages.items():
        for kind, _, number, body in blocks(text):
            if kind != "config":
                continue
            if body is None:
                problems.append(f"{relative(page)}:{number}: <!-- check: config --> is not followed by a code block")
                continue
            for offset, line in enumerate(body.split("\n")[:-1], 2):
                stripped = line.strip()
                if not stripped or stripped.startswith("#"):
                    continue
                if config_line_key(line, keys) is None:
                    problems.append(f"{relative(page)}:{number + offset}: configuration line {stripped!r} starts "
                                    f"with no key the launcher reads")
    return problems


# ---------------------------------------------------------------------------------------------
# Launch messages and exit codes

def string_tables(rc=ROOT / "src/resources/kvx.rc"):
    """{language id: {string id: text}} as the build reads kvx.rc."""
    import importlib.util
    spec = importlib.util.spec_from_file_location("rc_string_table", ROOT / "tools/rc-string-table.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module.parse(rc.read_text(encoding="utf-8-sig"))


def message_problems(text, tables, page=DOCS / "messages.md"):
    problems = []
    english = tables.get(1033, {})
    sections = {}
    lines = text.split("\n")
    current = None
    for number, line in enumerate(lines, 1):
        m = re.match(r"^###\s+(\d+):\s+(.*)$", line)
        if m:
            current = int(m.group(1))
            sections[current] = {"line": number, "heading": m.group(2).strip(), "texts": {}}
            continue
        if line.startswith("#"):
            current = None
            continue
        if current is None or not line.lstrip().startswith("|"):
            continue
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        label = next((name for name in LANGUAGES if cells[0].startswith(name)), None)
        spans = code_spans(cells[1]) if len(cells) > 1 else []
        if label and spans:
            sections[current]["texts"][LANGUAGES[label]] = (number, spans[0])
    where = relative(page)
    for sid in sorted(english):
        if sid not in sections:
            problems.append(f"{where}: no section '### {sid}: {english[sid]}' for string {sid} of "
                            f"src/resources/kvx.rc")
            continue
        section = sections[sid]
        if section["heading"] != f"`{english[sid]}`" and section["heading"] != english[sid]:
            problems.append(f"{where}:{section['line']}: heading of {sid} reads {section['heading']!r}, the "
                            f"launcher's English text is {english[sid]!r}")
        for language, name in ((lang, n) for n, lang in LANGUAGES.items()):
            expected = tables.get(language, {}).get(sid)
            got = section["texts"].get(language)
            if expected is None:
                if got:
                    problems.append(f"{where}:{got[0]}: {name} text given for {sid}, kvx.rc has none")
                continue
            if got is None:
                problems.append(f"{where}:{section['line']}: section {sid} lacks the row "
                                f"| {name} | `{expected}` |")
            elif got[1] != expected:
                problems.append(f"{where}:{got[0]}: {name} text of {sid} reads {got[1]!r}, the launcher has "
                                f"{expected!r}")
    for sid, section in sorted(sections.items()):
        if sid not in english:
            problems.append(f"{where}:{section['line']}: section {sid} names no string of src/resources/kvx.rc")
    return problems


def launch_error_codes(header=ROOT / "src/base/LaunchError.h"):
    text = header.read_text(encoding="utf-8")
    return {int(m.group(2)): m.group(1)
            for m in re.finditer(r"constexpr\s+LaunchError\s+(LAUNCH_\w+)\s*=\s*(\d+)\s*;", text)}


def exit_code_problems(text, codes, page=DOCS / "messages.md"):
    """Every failure code of the launcher is a row `| N | ...` of the page's exit-code table."""
    rows = {int(m.group(1)) for m in re.finditer(r"^\|\s*(\d+)\s*\|", text, flags=re.M)}
    return [f"{relative(page)}: the exit-code table has no row | {code} | for {name} (src/base/LaunchError.h)"
            for code, name in sorted(codes.items()) if code != 0 and code not in rows]


# ---------------------------------------------------------------------------------------------
# Links and make targets

def heading_anchor(heading):
    """The anchor a heading gets on the usual Markdown hosts."""
    # Emphasis marks go; an underscore inside a word (`jre_url`) stays, as the hosts keep it.
    text = re.sub(r"[`*]", "", heading.strip().lower())
    text = re.sub(r"(?<![^\W_])_+|_+(?![^\W_])", "", text)
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(text):
    seen = {}
    out = set()
    in_fence = False
    for line in text.split("\n"):
        if FENCE.match(line.strip()):
            in_fence = not in_fence
        if in_fence:
            continue
        m = re.match(r"^#{1,6}\s+(.*)$", line)
        if m:
            base = heading_anchor(m.group(1))
            n = seen.get(base, 0)
            out.add(base if n == 0 else f"{base}-{n}")
            seen[base] = n + 1
    return out


def link_problems(files):
    """Relative links of the given Markdown files that name no file or no heading."""
    problems = []
    for page, text in files.items():
        for number, line in enumerate(text.split("\n"), 1):
            for target in re.findall(r"\]\(([^)\s]+)\)", line):
                if re.match(r"^[a-z]+:", target):
                    continue
                path_part, _, anchor = target.partition("#")
                dest = (page.parent / path_part).resolve() if path_part else page
                if not dest.exists():
                    problems.append(f"{relative(page)}:{number}: link to {target}: no such file")
                    continue
                if anchor and dest.suffix == ".md" and anchor not in anchors(dest.read_text(encoding="utf-8")):
                    problems.append(f"{relative(page)}:{number}: link to {target}: no such heading in "
                                    f"{relative(dest)}")
    return problems


def make_targets(makefile=ROOT / "Makefile"):
    text = makefile.read_text(encoding="utf-8")
    return set(re.findall(r"^([A-Za-z][\w.-]*)\s*:(?!=)", text, flags=re.M))


def make_problems(files, targets):
    """`make X` in inline code, and lines of code blocks that start with `make X`."""
    problems = []
    for page, text in files.items():
        in_fence = False
        for number, line in enumerate(text.split("\n"), 1):
            if FENCE.match(line.strip()):
                in_fence = not in_fence
                continue
            found = re.findall(r"^\s*make\s+([a-z][\w-]*)", line) if in_fence else \
                re.findall(r"`make\s+([a-z][\w-]*)", line)
            for target in found:
                if target not in targets:
                    problems.append(f"{relative(page)}:{number}: `make {target}`: the Makefile has no such target")
    return problems


def tray_icon_problems(files):
    """A page that packs tray icons and creates them in Java uses the same ids in both."""
    problems = []
    for page, text in files.items():
        packed = set(re.findall(r"--tray-icon[ =](\d+)=", text))
        used = set(re.findall(r"new SystemTray\(\s*(\d+)", text)) | set(re.findall(r"TRAY_ICON\s*=\s*(\d+)", text))
        if packed and used and not used <= packed:
            problems.append(f"{relative(page)}: the Java code shows tray icon {', '.join(sorted(used - packed))}, "
                            f"the pack command puts in --tray-icon {', '.join(sorted(packed))}")
    return problems


# ---------------------------------------------------------------------------------------------
# Sample files a scenario asks for

def sample_icon():
    """A 32x32, 32-bit icon with one image."""
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 32, 0, 0, 0, 0, 0, 0)
    image = header + bytes((200, 120, 30, 255)) * (32 * 32) + bytes(32 * 4)
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 0, 0, 1, 32, len(image), 22) + image


def sample_bitmap():
    """A 64x48, 24-bit BMP."""
    row = bytes((60, 60, 200)) * 64
    pixels = row * 48
    info = struct.pack("<IiiHHIIiiII", 40, 64, 48, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(info) + len(pixels), 0, 0, 54) + info + pixels


def provide(folder, names):
    for name in names:
        path = Path(folder) / name
        path.parent.mkdir(parents=True, exist_ok=True)
        if name.endswith(".ico"):
            path.write_bytes(sample_icon())
        elif name.endswith(".bmp"):
            path.write_bytes(sample_bitmap())
        else:
            raise ValueError(f"no sample for {name}")


def expected_lines_problems(expected, output):
    """The lines of `expected` that are not found, in order, among the lines of `output`."""
    got = [line.rstrip() for line in output.split("\n")]
    at = 0
    missing = []
    for line in expected.split("\n"):
        line = line.rstrip()
        if not line or line.strip() == "...":
            continue
        hit = next((i for i in range(at, len(got)) if got[i] == line), None)
        if hit is None:
            missing.append(line)
        else:
            at = hit + 1
    return missing
