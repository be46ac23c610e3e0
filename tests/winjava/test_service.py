"""A real Java runtime (JDK 21) as a service of Wine's service manager: the start reaches
"running" with main called, a stop calls the configured method, the shutdown hooks run and
the service reports "stopped" with exit code 0. The service is deleted whatever happens."""
import re
import time
import uuid

from conftest import APPS, winpath

STATES = {1: "STOPPED", 2: "START_PENDING", 3: "STOP_PENDING", 4: "RUNNING"}


def query(wine, name):
    code, out, err = wine.command(["sc", "query", name], timeout=30)
    fields = dict(re.findall(r"^\s*(\w+)\s*:\s*(\w+)", out, re.M))
    assert "STATE" in fields, "sc query failed (%s): %s%s" % (code, out, err)
    return STATES.get(int(fields["STATE"])), int(fields["WIN32_EXIT_CODE"]), int(fields["SERVICE_EXIT_CODE"])


def wait_for(wine, name, state, seconds, describe):
    deadline = time.monotonic() + seconds
    while True:
        status = query(wine, name)
        if status[0] == state:
            return status
        assert time.monotonic() < deadline, "%s did not reach %s within %s s: %s\n%s" % (
            name, state, seconds, status, describe())
        time.sleep(0.5)


def test_real_runtime_service_round_trip(wine, runtime, java_build, pack, tmp_path):
    jdk = runtime("jdk21")
    jar = java_build.compile("service", [APPS / "service"])
    name = "KvxJava" + uuid.uuid4().hex[:8]
    log = tmp_path / "service.log"
    exe = pack("svc.exe", main="svc.ServiceApp", jar=jar, jvmdll=winpath(jdk.jvm_dll), jre_order="c",
               service=name, service_stop="svc.ServiceApp.stop", service_log=winpath(log))
    describe = lambda: log.read_text(errors="replace") if log.exists() else "(no service log)"
    code, out, err = wine.command(["sc", "create", name, "binpath=", "%s %s" % (winpath(exe), winpath(tmp_path))])
    assert code == 0, out + err
    try:
        code, out, err = wine.command(["net", "start", name], timeout=60)
        assert code == 0, out + err
        assert wait_for(wine, name, "RUNNING", 120, describe)[1:] == (0, 0)
        deadline = time.monotonic() + 10
        while not (tmp_path / "main-started").exists() and time.monotonic() < deadline:
            time.sleep(0.2)
        assert (tmp_path / "main-started").exists(), describe()

        wine.command(["net", "stop", name], timeout=60)
        assert wait_for(wine, name, "STOPPED", 40, describe)[1:] == (0, 0)
        for marker in ("stop-called", "main-returns", "hook-ran"):
            assert (tmp_path / marker).exists(), "%s missing\n%s" % (marker, describe())
        printed = [l for l in describe().splitlines() if not l.startswith("OpenJDK 64-Bit Server VM warning")]
        assert printed == ["main-started", "stop-called", "main-returns", "hook-ran"], printed
    finally:
        for _ in range(2):  # Wine ends the process on a second stop
            if query(wine, name)[0] == "STOPPED":
                break
            wine.command(["sc", "stop", name], timeout=30)
            time.sleep(20)
        wine.command(["sc", "delete", name], timeout=30)
