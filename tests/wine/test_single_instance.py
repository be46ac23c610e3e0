"""single_instance under Wine with the test JVM: later starts hand their working directory and
arguments to the running instance's listener (exact UTF-16, in arrival order, also those that
came before a listener was set) and end with 0; other names run apart; a hand-over over the
bound never reaches Java; a running instance that stopped answering is reported in time.
jre_url: the failure box offers the address and "Yes" opens it; other schemes are ignored."""
import os
import signal
import subprocess
import time
from pathlib import Path

import pytest

from conftest import finish, outputs, spawn
from screen import wait_for_line
from vm_support import java_app, winpath  # noqa: F401  (fixture)

ON_START = "call app/Listener.onStart([Ljava/lang/String;Ljava/lang/String;)V"
NO_ANSWER = "This program is already running, but it did not answer. Try again in a moment."
NOT_FOUND = "Java Runtime Environment not found."


def first_instance_script(tmp_path, tag):
    """The first instance's Java: waits for `listen` before it sets its listener, then for `end`."""
    listen, end = tmp_path / ("%s.listen" % tag), tmp_path / ("%s.end" % tag)
    script = [
        "class com/quorvane/kvx/SingleInstance",
        "class app/Listener",
        "method onStart ([Ljava/lang/String;Ljava/lang/String;)V",
        "class app/Main",
        "main waits-file %s 60000" % winpath(listen),
        "main new l app/Listener",
        "main native com/quorvane/kvx/SingleInstance.nativeSetListener (Lcom/quorvane/kvx/SingleInstance$Listener;)V"
        " static l",
        "main waits-file %s 120000" % winpath(end),
    ]
    path = tmp_path / ("%s.script" % tag)
    path.write_text("".join(l + "\n" for l in script), encoding="utf-8")
    return path, listen, end


class Running:
    """A first instance started in the background."""

    def __init__(self, wine, app, tag, tmp_path):
        self.app = app
        script, self.listen, self.end = first_instance_script(tmp_path, tag)
        self.env = dict(app.jvm.env, KVX_TESTJVM_SCRIPT=winpath(script))
        self.proc = spawn(["wine", str(app.exe), "first"], wine.env("en_US", self.env))
        if not wait_for_line(app.jvm.log, "main app/Main", 60):
            self.stop()
            pytest.fail("the first instance did not reach main\n" + self.log_text())

    def log_text(self):
        return self.app.jvm.log.read_text(encoding="utf-8") if self.app.jvm.log.exists() else "(no log)"

    def calls(self):
        return [l for l in self.log_text().splitlines() if l.startswith(ON_START)]

    def wait_calls(self, n, seconds=30):
        deadline = time.monotonic() + seconds
        while len(self.calls()) < n and time.monotonic() < deadline:
            time.sleep(0.1)
        return self.calls()

    def finish(self):
        self.listen.touch()
        self.end.touch()
        ended = finish(self.proc, 60)
        out, err = outputs(self.proc)
        assert ended, "the first instance did not end\n%s%s" % (out, err)
        return self.proc.returncode

    def stop(self):
        self.listen.touch()
        self.end.touch()
        if not finish(self.proc, 30):
            os.killpg(self.proc.pid, signal.SIGKILL)


def expected_call(args, cwd):
    quoted = ",".join('"%s"' % a for a in args)
    return (' [Ljava/lang/String;#', '[%s] "%s" thread=kvx-single-instance' % (quoted, cwd))


def check_call(line, args, cwd):
    middle, tail = expected_call(args, cwd)
    assert middle in line and line.endswith(tail), "%r\nexpected ...%s ...%s" % (line, middle, tail)


def test_later_starts_reach_the_listener_in_order_once_it_is_set(wine, builds, java_app, tmp_path):
    app = java_app("win64", "single.exe", extra=["--single-instance", "kvx.test.wine"])
    pipesend = builds.need(builds.dir("win32") / "tests" / "pipesend.exe", "the pipe client helper")
    first = Running(wine, app, "first", tmp_path)
    try:
        # Before the listener exists: kept, and delivered once it is set.
        early = wine.run(app.exe, ["early"], env=first.env, cwd=str(tmp_path))
        assert early.returncode == 0 and early.traced_texts == [], early.describe()
        first.listen.touch()
        check_call(first.wait_calls(1)[0], ["early"], winpath(tmp_path))

        where = tmp_path / "\ud55c\uad6d\uc5b4 folder"
        where.mkdir()
        args = ["\ud55c\uad6d\uc5b4", "\U0001F600", "two words", ""]
        run = wine.run(app.exe, args, env=first.env, cwd=str(where))
        assert run.returncode == 0 and run.traced_texts == [], run.describe()
        for i in range(10):
            run = wine.run(app.exe, ["seq", str(i)], env=first.env, cwd=str(tmp_path))
            assert run.returncode == 0, run.describe()

        # Frames no launcher sends: over the bound of 65,536 bytes, and malformed. Both are
        # answered 'R' and never reach Java. (A start's own command line cannot pass the bound.)
        for frame in (["70000", "64"], ["8", "8", "malformed"]):
            sent = subprocess.run(["wine", str(pipesend), "kvx.test.wine", *frame], env=wine.env(), timeout=60,
                                  capture_output=True, text=True)
            assert (sent.returncode, sent.stdout) == (0, "answer=R\n"), sent

        # Another name is another application: it runs on its own (32-bit, so with a log of its own).
        other = java_app("win32", "other.exe", extra=["--single-instance", "kvx.test.other"])
        alone = other.launch(["alone"], script=["class app/Main"])
        alone.check_success()
        assert alone.main_args == ["alone"], alone.describe()

        calls = first.wait_calls(12)
        assert first.finish() == 0
    finally:
        first.stop()
    assert len(calls) == 12, "\n".join(calls)
    check_call(calls[1], args, winpath(where))
    for i in range(10):
        check_call(calls[2 + i], ["seq", str(i)], winpath(tmp_path))
    log = first.log_text().splitlines()
    assert [l for l in log if l.startswith("create ")].__len__() == 1, "only the first start made a runtime"
    assert not any("xxxx" in l for l in log if l.startswith("call ")), "a refused frame reached Java"
    assert not any(l.startswith(("UNIMPLEMENTED", "JNI-MISUSE", "jni-warning", "script-error")) for l in log), log


def wine_pids(exe_name):
    """The processes that run `exe_name` under Wine."""
    pids = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            cmdline = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue
        if exe_name in cmdline and "closebox" not in cmdline:
            pids.append(int(entry.name))
    return pids


def test_a_first_instance_that_stopped_answering_is_reported_in_time(wine, java_app, tmp_path):
    app = java_app("win64", "frozen.exe", extra=["--single-instance", "kvx.test.frozen"])
    first = Running(wine, app, "frozen", tmp_path)
    pids = wine_pids("frozen.exe")
    assert pids, "no process of the first instance found"
    try:
        for pid in pids:
            os.kill(pid, signal.SIGSTOP)
        try:
            run = wine.run(app.exe, ["late"], env=first.env, expect_box=True)
        finally:
            for pid in pids:
                os.kill(pid, signal.SIGCONT)
        assert run.returncode == 14, run.describe()
        assert run.box and run.box["text"] == NO_ANSWER, run.describe()
        # The answer time is 5 s; the box comes after it, within Wine's start-up time more.
        assert 4500 <= int(run.box["waited_ms"]) <= 12000, run.describe()
        assert first.finish() == 0
    finally:
        first.stop()
    assert first.calls() == [], "the unanswered start must not be delivered later"


@pytest.mark.parametrize("arch", ["win32", "win64"])
def test_a_runtime_address_is_offered_and_yes_opens_it(wine, builds, pack, no_java_registry, tmp_path, arch):
    url = "https://example.com/get-java"
    exe = pack(builds.kvx(arch), "nojava-%s.exe" % arch, main="app.Main", jvmdll=r"C:\nowhere\jvm.dll",
               jre_order="c", extra=["--jre-url", url])
    yes = wine.run(exe, expect_box=True, press=6, debug="-all,trace+msgbox,trace+exec")
    assert yes.returncode == 1, yes.describe()
    assert yes.box["text"] == "%s\n\nA Java runtime is available at: %s\nOpen this address in your browser?" % (
        NOT_FOUND, url), yes.describe()
    assert yes.box["buttons"] == "6,7", yes.describe()
    opened = 'verb=L"open" file=L"%s"' % url
    assert opened in yes.stderr, yes.describe()

    no = wine.run(exe, expect_box=True, press=7, debug="-all,trace+msgbox,trace+exec")
    assert no.returncode == 1 and no.box["buttons"] == "6,7", no.describe()
    assert opened not in no.stderr and "trace:exec" not in no.stderr, no.describe()

    # An address of another scheme (written past kvxpack) is ignored: the plain box.
    config = tmp_path / "bad.cfg"
    config.write_text("jre_url javascript:alert(1)\r\n")
    bad = pack(builds.kvx(arch), "badurl-%s.exe" % arch, main="app.Main", jvmdll=r"C:\nowhere\jvm.dll",
               jre_order="c", config=config)
    plain = wine.run(bad, expect_box=True)
    assert (plain.returncode, plain.box["text"], plain.box["buttons"]) == (1, NOT_FOUND, "1"), plain.describe()


def test_kvxpack_refuses_what_the_launcher_would_not_use(builds, tmp_path):
    jar = tmp_path / "a.jar"
    from conftest import write_empty_jar
    write_empty_jar(jar)
    for flag, value in (("--jre-url", "file:///C:/Windows/notepad.exe"), ("--jre-url", "javascript:alert(1)"),
                        ("--single-instance", "a/b"), ("--single-instance", "x" * 65)):
        done = subprocess.run([str(builds.kvxpack()), "--stub", str(builds.kvx("win64")), "--jar", str(jar),
                               "--main", "app.Main", flag, value, "-o", str(tmp_path / "out.exe")],
                              capture_output=True, timeout=60)
        assert done.returncode == 2, (flag, value, done.stderr)
        assert not (tmp_path / "out.exe").exists()
