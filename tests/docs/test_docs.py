"""The user guide agrees with the product: kvxpack's options with its --help, configuration keys
and launch messages with the launcher's sources, links and make targets with the tree, and the
quick start's commands run (see doc_check.py for the marks the guide carries)."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import shlex

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
import doc_check as dc  # noqa: E402

JDK = Path(os.environ.get("JDK_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
RUN_TIMEOUT = 300


def kvxpack_path():
    return Path(os.environ.get("KVXPACK", dc.ROOT / "build/host/kvxpack")).resolve()


@pytest.fixture(scope="module")
def help_text():
    path = kvxpack_path()
    assert path.is_file() and os.access(path, os.X_OK), f"kvxpack not built: {path}"
    result = subprocess.run([str(path), "--help"], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert "Usage: kvxpack" in result.stdout, result.stdout
    return result.stdout


@pytest.fixture(scope="module")
def pages():
    found = dc.guide_pages()
    assert dc.DOCS / "README.md" in found, "docs/README.md is missing"
    return found


def report(problems):
    return "\n".join(problems)


def test_kvxpack_options_are_the_ones_of_its_help(pages, help_text):
    problems = dc.option_problems(pages, help_text)
    assert not problems, report(problems)


def test_configuration_keys_are_the_ones_the_launcher_reads(pages):
    keys = dc.launcher_keys()
    # The lookups were found at all (a changed calling habit would leave this empty).
    assert {"mainclass", "option", "property", "classpath", "jre_order"} <= set(keys), keys
    problems = dc.key_problems(pages, keys, dc.kvxpack_keys())
    assert not problems, report(problems)


def test_launch_messages_and_exit_codes_are_the_launchers(pages):
    page = dc.DOCS / "messages.md"
    assert page in pages, "docs/messages.md is missing"
    tables = dc.string_tables()
    assert {1033, 1028, 2052} <= set(tables), tables.keys()
    problems = dc.message_problems(pages[page], tables)
    problems += dc.exit_code_problems(pages[page], dc.launch_error_codes())
    assert not problems, report(problems)


def test_links_and_make_targets_exist(pages):
    readme = dc.ROOT / "README.md"
    files = dict(pages)
    files[readme] = readme.read_text(encoding="utf-8")
    problems = dc.link_problems(files)
    # The index reaches every page, and the README reaches the index.
    index = pages[dc.DOCS / "README.md"]
    for page in pages:
        if page.name != "README.md" and f"]({page.relative_to(dc.DOCS).as_posix()}" not in index:
            problems.append(f"docs/README.md: no link to {dc.relative(page)}")
    if "](docs/README.md)" not in files[readme]:
        problems.append("README.md: no link to docs/README.md")
    problems += dc.make_problems(files, dc.make_targets())
    problems += dc.tray_icon_problems(files)
    assert not problems, report(problems)
    # The ids are compared at all: a README with the old mismatch is caught.
    # (every pack command of it: the README packs icon 101 in more than one place)
    mismatch = files[readme].replace("--tray-icon 101=", "--tray-icon 1=")
    assert dc.tray_icon_problems({readme: mismatch}), "a tray icon id mismatch went unnoticed"


def test_the_check_catches_misspellings(pages, help_text):
    """Each check fails on a guide that lacks or misspells an option, a key or a message."""
    kvxpack_page = dc.DOCS / "kvxpack.md"
    config_page = dc.DOCS / "configuration.md"
    messages_page = dc.DOCS / "messages.md"
    broken = dict(pages)
    broken[kvxpack_page] = pages[kvxpack_page].replace("`--tray-icon", "`--tray-icons", 1)
    problems = dc.option_problems(broken, help_text)
    assert any("--tray-icons is not an option" in p for p in problems), problems
    assert any("lists --tray-icon, the option table does not" in p for p in problems), problems
    # An option kvxpack gained but the guide lacks.
    problems = dc.option_problems(pages, help_text + "  --instance-port N  the port of the running copy\n")
    assert any("kvxpack --help lists --instance-port" in p for p in problems), problems

    keys = dc.launcher_keys()
    broken = dict(pages)
    broken[config_page] = pages[config_page].replace("| `jre_order` |", "| `jre_ordre` |", 1)
    problems = dc.key_problems(broken, keys, dc.kvxpack_keys())
    assert any("`jre_ordre`, which the launcher never reads" in p for p in problems), problems
    assert any("reads the key `jre_order`" in p for p in problems), problems
    broken[config_page] = pages[config_page].replace("\nminjre 17\n", "\nminjer 17\n", 1)
    broken[config_page] = broken[config_page].replace("`jre_order` is", "`jre_ordr` is", 1)
    problems = dc.key_problems(broken, keys, dc.kvxpack_keys())
    assert any("configuration line 'minjer 17' starts with no key" in p for p in problems), problems
    problems = dc.key_problems({dc.DOCS / "x.md": "Set `jre_ordr` first."}, keys, {})
    assert any("`jre_ordr` is not a key" in p for p in problems), problems
    problems = dc.key_problems(pages, dict(keys, instance_port="src/x.cpp:1"), {})
    assert any("reads the key `instance_port` (src/x.cpp:1)" in p for p in problems), problems
    problems = dc.key_problems(pages, keys, {"instance_port": "--instance-port"})
    assert any("--instance-port writes the key `instance_port`" in p for p in problems), problems

    tables = dc.string_tables()
    text = pages[messages_page]
    english = tables[1033][1]
    assert english in text
    problems = dc.message_problems(text.replace(f"| `{english}` |", f"| `{english[:-1]}` |", 1), tables)
    assert any("English text of 1 reads" in p for p in problems), problems
    simplified = tables[2052][7]
    problems = dc.message_problems(text.replace(f"`{simplified}`", "`主启动类未找到`", 1), tables)
    assert any("简体中文 text of 7" in p for p in problems), problems
    more = {lang: dict(t) for lang, t in tables.items()}
    more[1033][18] = "Another instance is running."
    problems = dc.message_problems(text, more)
    assert any("no section '### 18: Another instance is running.'" in p for p in problems), problems
    problems = dc.exit_code_problems(text, {16: "LAUNCH_INSTANCE_GONE"})
    assert any("no row | 16 |" in p for p in problems), problems

    # Anchors as the hosts make them: emphasis marks go, an underscore inside a word stays.
    assert dc.heading_anchor("A way to Java: `jre_url`") == "a-way-to-java-jre_url"
    assert dc.heading_anchor("_Note_ **this**") == "note-this"
    problems = dc.link_problems({dc.ROOT / "README.md": "[x](docs/single-instance.md#a-way-to-java-jreurl)"})
    assert any("no such heading" in p for p in problems), problems


def scenario_pages(pages):
    return sorted(p.name for p, t in pages.items() if any(k == "run" for k, _, _, _ in dc.blocks(t)))


@pytest.fixture(scope="module")
def environment(tmp_path_factory):
    assert (JDK / "bin/javac").is_file(), f"no JDK at {JDK} (set JDK_HOME)"
    for tool in ("openssl", "osslsigncode"):
        assert shutil.which(tool), f"{tool} is not installed (run tools/bootstrap)"
    for built in ("build/host/kvxpack", "build/host/kvx", "build/win64/kvx.exe", "build/java/kvx-runtime.jar"):
        assert (dc.ROOT / built).exists(), f"{built} is not built (make all)"
    env = {k: v for k, v in os.environ.items() if not k.startswith(("KVX_", "LC_")) and k not in
           ("CLASSPATH", "CLASS_PATH", "JAVA_HOME", "JRE_HOME", "JAVA_TOOL_OPTIONS")}
    # The guide's commands name the source tree $KVX and run the JDK's tools from PATH.
    env.update(KVX=str(dc.ROOT), PATH=f"{JDK / 'bin'}:{env.get('PATH', '/usr/bin:/bin')}", LANG="C.UTF-8",
               HOME=str(tmp_path_factory.mktemp("home")))
    return env


@pytest.fixture(scope="module")
def windows_java():
    """JAVA_HOME for a Windows program under Wine: the real-Java suites' x64 runtime."""
    result = subprocess.run([str(dc.ROOT / "tools/fetch-test-runtimes"), "--where", "jdk21"], capture_output=True,
                            text=True, timeout=60)
    home = Path(result.stdout.strip())
    assert result.returncode == 0 and (home / "bin/server/jvm.dll").is_file(), \
        f"no Windows Java runtime (make test-runtimes): {result.stdout}{result.stderr}"
    return "Z:" + str(home).replace("/", "\\")


def run_under_wine(body, folder, environment, java_home, where):
    """Each line of a Windows command block (`Program.exe ARGS`) under Wine; their standard output."""
    printed = []
    for line in body.split("\n"):
        if not line.strip():
            continue
        program, *arguments = shlex.split(line)
        env = dict(environment, JAVA_HOME=java_home, HOME=os.environ.get("HOME", "/root"))
        result = subprocess.run([str(dc.ROOT / "tools/wine-run"), "--timeout", "120", program, *arguments], cwd=folder,
                                env=env, capture_output=True, text=True, errors="replace", timeout=RUN_TIMEOUT)
        assert result.returncode == 0, f"{where}: {line}: exit code {result.returncode}\n{result.stdout}{result.stderr}"
        printed.append(result.stdout)
    return "".join(printed)


@pytest.mark.parametrize("name", scenario_pages(dc.guide_pages()))
def test_the_pages_commands_run(name, pages, environment, tmp_path, request):
    """The marked blocks of one page, in order, in a folder of their own, as a reader types them."""
    page = dc.DOCS / name
    last_output = None
    ran = 0
    for kind, argument, number, body in dc.blocks(pages[page]):
        where = f"docs/{name}:{number}"
        if kind == "provide":
            dc.provide(tmp_path, argument.split())
        elif kind == "file":
            assert body is not None, f"{where}: <!-- check: file --> is not followed by a code block"
            target = tmp_path / argument
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_text(body, encoding="utf-8")
        elif kind == "run":
            assert body is not None, f"{where}: <!-- check: run --> is not followed by a code block"
            result = subprocess.run(["bash", "-euo", "pipefail", "-c", body], cwd=tmp_path, env=environment,
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                    errors="replace", timeout=RUN_TIMEOUT)
            assert result.returncode == 0, f"{where}: exit code {result.returncode}\n{body}\n---\n{result.stdout}"
            last_output = result.stdout
            ran += 1
        elif kind == "wine":
            assert body is not None, f"{where}: <!-- check: wine --> is not followed by a code block"
            last_output = run_under_wine(body, tmp_path, environment, request.getfixturevalue("windows_java"), where)
            ran += 1
        elif kind == "output":
            assert last_output is not None, f"{where}: an output block before any run block"
            missing = dc.expected_lines_problems(body.replace("$PWD", str(tmp_path)), last_output)
            assert not missing, f"{where}: lines not printed: {missing}\n---\n{last_output}"
    assert ran > 0
