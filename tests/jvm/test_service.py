"""systemd's notify protocol with the real JDK: the launcher started with NOTIFY_SOCKET sends
READY=1 once main is called and, on SIGTERM, STOPPING=1 before it asks Java to end."""
import os
import signal
import socket
import subprocess
import time

import pytest

from conftest import clean_env


def receive(sock, seconds):
    sock.settimeout(seconds)
    try:
        return sock.recv(4096).decode()
    except socket.timeout:
        return None


@pytest.mark.parametrize("stop_method", ["app.ServiceMain.stop", None])
def test_ready_after_main_and_stopping_on_sigterm(pack, tmp_path, stop_method):
    options = {"service_stop": stop_method} if stop_method else {}
    exe = pack("svc", main="app.ServiceMain", **options)
    address = str(tmp_path / "notify.sock")
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    listener.bind(address)
    out = (tmp_path / "out.txt").open("w+")
    proc = subprocess.Popen([exe], stdout=out, stderr=subprocess.STDOUT, text=True,
                            env=clean_env(NOTIFY_SOCKET=address))
    try:
        ready = receive(listener, 60)
        printed = (tmp_path / "out.txt").read_text()
        assert ready == "READY=1", (ready, printed)
        # The class was initialized (its slow static block ran) before readiness was told.
        assert "static init" in printed, printed
        deadline = time.monotonic() + 10
        while "main started" not in (tmp_path / "out.txt").read_text() and time.monotonic() < deadline:
            time.sleep(0.05)
        proc.send_signal(signal.SIGTERM)
        stopping = receive(listener, 30)
        assert stopping == "STOPPING=1", stopping
        assert proc.wait(timeout=60) == 0
        printed = (tmp_path / "out.txt").read_text().splitlines()
        if stop_method:
            # The stop method ran on the launcher's own daemon thread, main returned, hooks ran.
            calls = [l for l in printed if l.startswith("stop called")]
            assert len(calls) == 1 and calls[0].endswith("(daemon)"), printed
            assert printed.index("main returns") < printed.index("hook ran"), printed
        else:
            # System.exit(0): main never returned, the shutdown hook ran.
            assert "hook ran" in printed and "main returns" not in printed, printed
        assert receive(listener, 0.5) is None, "more notifications than READY and STOPPING"
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(timeout=10)
        listener.close()
        out.close()
