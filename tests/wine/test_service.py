"""Service mode under Wine's own service manager (sc create, net start, net stop, sc query).

The executable is registered as a service of the session's prefix and started by services.exe,
which gives it an environment of its own: the stand-in jvm.dll reads the names of its log and
script from testjvm.env beside it. Every service is stopped (a second stop makes Wine end the
process) and deleted when its test ends, whatever happened.
"""
import re
import time
import uuid
from pathlib import Path

import pytest

from vm_support import MESSAGES, winpath

STOP_TIMEOUT_S = 15          # the launcher's documented time for a stop
START_WAIT_HINT_MS = 30000   # the launcher's wait hint while the runtime is found and created
ERROR_SERVICE_SPECIFIC_ERROR = 1066
ERROR_PROCESS_ABORTED = 1067
STATES = {1: "STOPPED", 2: "START_PENDING", 3: "STOP_PENDING", 4: "RUNNING"}


class Service:
    """One packed executable registered as a service, with its test JVM, log and script."""

    def __init__(self, wine, builds, pack, tmp_path, arch, script, extra=(), runtime=True):
        self.wine = wine
        self.name = "KvxSvc" + uuid.uuid4().hex[:8]
        self.dir = tmp_path / self.name
        self.dir.mkdir()
        self.jvm_log = self.dir / "testjvm.log"
        self.script = self.dir / "testjvm.script"
        # "{dir}" and "{name}" in script lines and packing options: the service's folder and name.
        fill = lambda text: text.replace("{dir}", winpath(self.dir)).replace("{name}", self.name)
        self.script.write_text("".join(fill(line) + "\n" for line in script), encoding="utf-8")
        self.service_log = self.dir / "service.log"
        dll = self.dir / "jre" / "bin" / "server" / "jvm.dll"
        dll.parent.mkdir(parents=True)
        if runtime:
            dll.write_bytes(builds.testjvm_dll(arch).read_bytes())
            (dll.parent / "testjvm.env").write_text(
                "KVX_TESTJVM_LOG=%s\r\nKVX_TESTJVM_SCRIPT=%s\r\n" % (winpath(self.jvm_log), winpath(self.script)))
        self.exe = pack(builds.kvx(arch), "%s/app.exe" % self.name, main="app.Main", jvmdll=winpath(dll),
                        jre_order="c", extra=["--service", self.name, *map(fill, extra)])
        self.created = False

    # -- the service manager -------------------------------------------------------------
    def sc(self, *args, timeout=60):
        return self.wine.command(["sc", *args], timeout=timeout)

    def create(self):
        code, out, err = self.sc("create", self.name, "binpath=", winpath(self.exe))
        assert code == 0, "sc create failed: %s%s" % (out, err)
        self.created = True

    def start(self):
        return self.wine.command(["net", "start", self.name], timeout=60)

    def stop(self):
        return self.wine.command(["net", "stop", self.name], timeout=60)

    def query(self):
        """(state, win32 exit code, service exit code, checkpoint, wait hint) as sc query tells."""
        code, out, err = self.sc("query", self.name, timeout=30)
        fields = dict(re.findall(r"^\s*(\w+)\s*:\s*(\w+)", out, re.M))
        assert "STATE" in fields, "sc query failed (%s): %s%s" % (code, out, err)
        return (STATES.get(int(fields["STATE"]), fields["STATE"]), int(fields["WIN32_EXIT_CODE"]),
                int(fields["SERVICE_EXIT_CODE"]), int(fields["CHECKPOINT"], 16), int(fields["WAIT_HINT"], 16))

    def wait_for(self, state, seconds, seen=None):
        """Polls until `state`; every status seen is appended to `seen` with the log read after it."""
        deadline = time.monotonic() + seconds
        while True:
            status = self.query()
            if seen is not None:
                seen.append((status, self.lines()))
            if status[0] == state:
                return status
            assert time.monotonic() < deadline, "%s did not reach %s within %s s; last %s\n%s" % (
                self.name, state, seconds, status, "\n".join(self.lines()))
            time.sleep(0.2)

    def clean_up(self):
        if not self.created:
            return
        try:
            for _ in range(2):  # Wine ends the process on a second stop
                if self.query()[0] == "STOPPED":
                    break
                self.sc("stop", self.name, timeout=30)
                end = time.monotonic() + STOP_TIMEOUT_S + 10
                while self.query()[0] != "STOPPED" and time.monotonic() < end:
                    time.sleep(0.5)
        finally:
            self.sc("delete", self.name, timeout=30)

    # -- what it left ----------------------------------------------------------------------
    def lines(self):
        return self.jvm_log.read_text(encoding="utf-8").splitlines() if self.jvm_log.exists() else []

    def log_text(self):
        return self.service_log.read_bytes().decode("utf-8", "replace") if self.service_log.exists() else ""


@pytest.fixture
def service(wine, builds, pack, tmp_path):
    made = []

    def make(script, arch="win64", extra=(), runtime=True):
        s = Service(wine, builds, pack, tmp_path, arch, script, extra, runtime)
        made.append(s)
        s.create()
        return s

    yield make
    for s in made:
        s.clean_up()


def index(lines, line):
    assert line in lines, "log lacks %r\n%s" % (line, "\n".join(lines))
    return lines.index(line)


@pytest.mark.parametrize("arch", ["win64", "win32"])
def test_running_only_after_main_then_stop_method_and_stopped(service, arch):
    svc = service([
        "slow-call GetStaticMethodID 3000",   # a slow start after the runtime was created
        "class app/Main",
        "method stop ()V static runs stopper",
        "main stdout out line",
        "main stderr err line",
        "main waits-file {dir}\\stop.flag 60000",
        "routine stopper",
        "step writes-file {dir}\\stop.flag",
    ], arch=arch, extra=["--service-stop", "app.Main.stop", "--service-log", "{dir}\\service.log"])
    svc.service_log.write_text("earlier\r\n")

    code, out, err = svc.start()
    assert code == 0, out + err
    seen = []
    running = svc.wait_for("RUNNING", 40, seen)
    pending = [(status, lines) for status, lines in seen if status[0] == "START_PENDING"]
    assert pending, "never saw START_PENDING: %s" % [s for s, _ in seen]
    assert all(s[4] == START_WAIT_HINT_MS and s[3] >= 1 for s, _ in pending), pending
    assert any(any(l.startswith("create ") for l in lines) and not any(l.startswith("main ") for l in lines)
               for _, lines in pending), "START_PENDING was not seen between creation and main"
    # The log read after "running" was seen already holds main's call.
    assert any(l.startswith("main app/Main") for l in seen[-1][1]), seen[-1][1]
    assert running[1:3] == (0, 0)

    code, out, err = svc.stop()
    stopped = svc.wait_for("STOPPED", 30)
    assert stopped[1:3] == (0, 0), stopped
    lines = svc.lines()
    call = index(lines, "call app/Main.stop()V thread=Thread-0")
    assert "attach daemon" in lines[:call], lines
    assert index(lines, "main app/Main argc=0") < call < index(lines, "destroy")
    assert "exit 0" not in lines, "System.exit ran although the stop method returned\n" + "\n".join(lines)
    # Output appended to what the file held, stdout and stderr alike; no launcher message.
    assert svc.log_text().replace("\r\n", "\n") == "earlier\nout line\nerr line\n", svc.log_text()


def test_stop_without_method_exits_java_and_never_returning_main_is_ended(service):
    exits = service(["class app/Main", "main stdout expanded", "main sleeps 600000"],
                    extra=["--service-log", "%SystemDrive%\\kvx-{name}.log"])
    ignores = service(["class app/Main", "method stop ()V static", "main sleeps 600000"],
                      extra=["--service-stop", "app.Main.stop"])
    for svc in (exits, ignores):
        code, out, err = svc.start()
        assert code == 0, out + err
    for svc in (exits, ignores):
        svc.wait_for("RUNNING", 40)

    started = time.monotonic()
    for svc in (exits, ignores):
        svc.stop()
    # System.exit(0): shutdown through the runtime's exit, reported by the launcher as a clean stop.
    assert exits.wait_for("STOPPED", 30)[1:3] == (0, 0)
    lines = exits.lines()
    assert index(lines, "attach daemon") < index(lines, "exit 0") < index(lines, "runtime-exit 0"), lines
    expanded = exits.wine.prefix / "drive_c" / ("kvx-%s.log" % exits.name)
    try:
        assert expanded.read_text().strip() == "expanded"
    finally:
        expanded.unlink(missing_ok=True)

    # The stop method returned, Java went on: "stop pending" with progress, then the end.
    seen = []
    stopped = ignores.wait_for("STOPPED", STOP_TIMEOUT_S + 20, seen)
    elapsed = time.monotonic() - started
    assert stopped[1:3] == (ERROR_PROCESS_ABORTED, 0), stopped
    assert elapsed >= STOP_TIMEOUT_S - 1, "ended after %.1f s, before the documented time" % elapsed
    checkpoints = [s[3] for s, _ in seen if s[0] == "STOP_PENDING"]
    assert len(checkpoints) >= 2 and checkpoints == sorted(checkpoints) and checkpoints[-1] > checkpoints[0], seen
    assert "call app/Main.stop()V thread=Thread-0" in ignores.lines()
    assert "destroy" not in ignores.lines()


def test_launch_failure_reports_its_code_and_logs_the_message(service):
    svc = service(["class app/Main"], runtime=False, extra=["--service-log", "{dir}\\service.log"])
    code, out, err = svc.start()
    stopped = svc.wait_for("STOPPED", 40)
    assert stopped[1:3] == (ERROR_SERVICE_SPECIFIC_ERROR, 1), stopped
    text = svc.log_text()
    assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d %s\r\n" % re.escape(MESSAGES[1]), text), repr(text)


def test_started_outside_the_service_manager_runs_as_an_application(wine, service):
    svc = service(["class app/Main", "main stdout plain run", "main exit 3"],
                  extra=["--service-log", "{dir}\\service.log"])
    run = wine.run(svc.exe, ["a1"], timeout=60)
    assert run.returncode == 3, run.describe()
    assert "plain run" in run.stdout, run.describe()
    lines = svc.lines()
    assert "main app/Main argc=1" in lines and "arg 0 a1" in lines, lines
    assert not svc.service_log.exists(), "an application's output went to the service log"
    assert svc.query()[0] == "STOPPED"
