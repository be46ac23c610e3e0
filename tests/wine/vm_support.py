"""Shared pieces of the tests that run Java through the stand-in jvm.dll (tests/testjvm).

A packed executable is pointed at a copy of the test JVM; the test JVM records every call it
receives in its log (KVX_TESTJVM_LOG) and acts out a script (KVX_TESTJVM_SCRIPT). The fixture
`java_app` makes such executables; `Launch` is what one run showed: the Wine run and the log.
"""
import dataclasses
import shutil
from pathlib import Path

import pytest

# The launcher's messages (English) by launch error code.
MESSAGES = {
    1: "Java Runtime Environment not found.",
    2: "Java Runtime Environment not valid.",
    4: "Java Virtual Machine starts failed.",
    5: "Can not get the virtual machine version.",
    7: "The main startup class could not be found.",
    8: "The main startup class is not valid, main method missing.",
}
CREATE_LINE = "create version=0x00010002 nOptions=%d ignoreUnrecognized=1"


def winpath(path):
    """The Windows form of a host path, through Wine's Z: drive."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def windir(path):
    """The Windows form of a directory with its trailing backslash, as application.home has it."""
    return winpath(path) + "\\"


@dataclasses.dataclass
class Launch:
    """One run of a packed executable: what Wine returned and what the test JVM recorded."""
    run: object
    lines: list

    def describe(self):
        return self.run.describe() + "\ntest JVM log:\n" + "\n".join(self.lines)

    def has(self, line):
        return line in self.lines

    def index(self, line):
        assert line in self.lines, "log lacks %r\n%s" % (line, self.describe())
        return self.lines.index(line)

    def starting(self, prefix):
        return [l[len(prefix):] for l in self.lines if l.startswith(prefix)]

    @property
    def options(self):
        return self.starting("option ")

    def option(self, prefix):
        """The value of the one option that starts with `prefix`."""
        found = [o[len(prefix):] for o in self.options if o.startswith(prefix)]
        assert len(found) == 1, "%d options start with %r\n%s" % (len(found), prefix, self.describe())
        return found[0]

    @property
    def cwd(self):
        """The working directory when the machine was created."""
        found = self.starting("cwd ")
        assert found, "no working directory recorded\n" + self.describe()
        return found[0]

    @property
    def library(self):
        found = self.starting("library ")
        assert found, "no library recorded (was a test JVM created?)\n" + self.describe()
        return found[0]

    @property
    def main_args(self):
        """The String[] main received, or None when no main ran."""
        mains = self.starting("main ")
        if not mains:
            return None
        return [l.split(" ", 2)[2] if l.count(" ") >= 2 else "" for l in self.lines if l.startswith("arg ")]

    def check_success(self, exit_code=0):
        """main ran, nothing was shown, and the machine was torn down in order."""
        assert self.run.returncode == exit_code, self.describe()
        assert self.run.traced_texts == [], "a message box was shown\n" + self.describe()
        assert self.main_args is not None, "main was not called\n" + self.describe()
        self.check_teardown()

    def check_teardown(self):
        tail = [l for l in self.lines if l in ("detach", "destroy", "unload") or l.startswith("destroyed ")]
        assert tail == ["detach", "destroy", "destroyed global-refs=0 pinned-strings=0", "unload"], self.describe()

    def check_failure(self, code, text=None):
        """One message box with the text of `code`, and `code` as the exit code."""
        expected = text or MESSAGES[code]
        assert self.run.box is not None, "no message box\n" + self.describe()
        assert (self.run.box.get("caption"), self.run.box.get("text")) == ("Error", expected), self.describe()
        assert self.run.traced_texts == [expected], "exactly one message box\n" + self.describe()
        assert self.run.returncode == code, self.describe()
        assert self.main_args is None, "main ran\n" + self.describe()


class JavaApp:
    """A packed executable whose `jvmdll` names a copy of the test JVM."""

    def __init__(self, wine, exe, jvm, tmp_path):
        self.wine = wine
        self.exe = exe
        self.jvm = jvm
        self.tmp_path = tmp_path

    @property
    def dir(self):
        return self.exe.parent

    def launch(self, args=(), *, script=(), env=None, cwd=None, expect_box=False, timeout=60, locale="en_US"):
        script_path = self.tmp_path / ("%s.script" % self.exe.stem)
        script_path.write_text("".join(line + "\n" for line in script), encoding="utf-8")
        if self.jvm.log.exists():
            self.jvm.log.unlink()
        run_env = dict(self.jvm.env)
        run_env["KVX_TESTJVM_SCRIPT"] = winpath(script_path)
        run_env.update(env or {})
        run = self.wine.run(self.exe, args, env=run_env, cwd=cwd, expect_box=expect_box, timeout=timeout,
                            locale=locale)
        lines = self.jvm.log.read_text(encoding="utf-8").splitlines() if self.jvm.log.exists() else []
        assert not any(l.startswith(("UNIMPLEMENTED", "JNI-MISUSE", "jni-warning", "script-error"))
                       for l in lines), "the launcher misused the runtime\n" + "\n".join(lines)
        return Launch(run, lines)


def stand_in_file(builds, arch, *parts):
    return builds.need(builds.dir(arch).joinpath("tests", "testjvm", *parts), "the %s test JVM build" % arch)


@pytest.fixture
def java_app(wine, builds, pack, testjvm, tmp_path):
    """java_app(arch, out_name=..., main="app.Main", jvmdll=<absolute path of the copy>, minjre=None,
    classpath=(), libs=(), stub=<launcher to pack, default kvx.exe>, **pack_args); jvmdll="" packs no
    jvmdll line."""
    def make(arch="win32", out_name=None, *, main="app.Main", jvmdll=None, minjre=None, classpath=(), libs=(),
             extra=(), stub=None, **pack_args):
        jvm = testjvm(arch)
        more = list(extra)
        if minjre is not None:
            more += ["--minjre", minjre]
        for value in classpath:
            more += ["--classpath", value]
        for value in libs:
            more += ["--libs", value]
        exe = pack(stub or builds.kvx(arch), out_name or "app-%s.exe" % arch, main=main,
                   jvmdll=winpath(jvm.dll) if jvmdll is None else (jvmdll or None), extra=more, **pack_args)
        return JavaApp(wine, exe, jvm, tmp_path)

    return make


def copy_file(source, target):
    target.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy2(source, target)
    return target
