"""single_instance and jre_url with the Linux launcher and the real runtime: later starts hand
their arguments to the running instance through its socket, which admits well-formed
messages only; a socket left by a killed instance blocks nothing; an address for Java is
printed, never one of another scheme."""
import os
import signal
import socket
import struct
import subprocess
import time

import pytest

from conftest import clean_env

SINGLE = "app.Single"
NO_ANSWER = "This program is already running, but it did not answer. Try again in a moment."


def wait_for(path, seconds, proc=None):
    deadline = time.monotonic() + seconds
    while not os.path.exists(path):
        if proc is not None and proc.poll() is not None:
            out, err = proc.communicate()
            pytest.fail("the first instance ended with %s before %s\n%s%s" % (proc.returncode, path, out, err))
        if time.monotonic() > deadline:
            pytest.fail("%s did not appear within %s s" % (path, seconds))
        time.sleep(0.05)


class FirstInstance:
    """The running instance: app.Single, which records every hand-over in `out`."""

    def __init__(self, exe, tmp_path, env, tag):
        self.out = tmp_path / ("%s.out" % tag)
        self.ready = tmp_path / ("%s.ready" % tag)
        self.stop = tmp_path / ("%s.stop" % tag)
        self.proc = subprocess.Popen([exe, str(self.out), str(self.ready), str(self.stop)], env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        wait_for(self.ready, 60, self.proc)

    def finish(self):
        self.stop.touch()
        try:
            out, err = self.proc.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            pytest.fail("the first instance did not end")
        assert self.proc.returncode == 0, err
        return self.lines()

    def wait_lines(self, n, seconds=30):
        """A later start ends once it has handed over; the delivery follows."""
        deadline = time.monotonic() + seconds
        while len(self.lines()) < n and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.lines()

    def lines(self):
        if not self.out.exists():
            return []
        return [l.split("\t") for l in self.out.read_text(encoding="utf-8").splitlines()]

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.communicate()


def escaped(text):
    return "".join(c if 0x20 <= ord(c) <= 0x7E else "\\u%04x" % u
                   for c in text for u in ([ord(c)] if ord(c) < 0x10000 else
                                           list(struct.unpack("<2H", c.encode("utf-16-le")))))


@pytest.fixture
def runtime_dir(tmp_path):
    folder = tmp_path / "xdg"
    folder.mkdir(mode=0o700)
    return folder


def second(exe, env, *args, cwd=None, timeout=30):
    started = time.monotonic()
    done = subprocess.run([exe, *args], env=env, cwd=cwd, capture_output=True, text=True, timeout=timeout)
    return done, time.monotonic() - started


def test_later_starts_reach_the_listener_in_order_and_spoiled_messages_never_do(pack, tmp_path, runtime_dir):
    exe = pack("single", main=SINGLE, single_instance="kvx.test.linux")
    env = clean_env(XDG_RUNTIME_DIR=str(runtime_dir))
    first = FirstInstance(exe, tmp_path, env, "first")
    try:
        folder = runtime_dir / "kvx"
        assert oct(folder.stat().st_mode & 0o777) == oct(0o700)
        where = tmp_path / "\ud55c\uad6d\uc5b4 dir"
        where.mkdir()
        args = ["\ud55c\uad6d\uc5b4", "\U0001F600", "two words", ""]
        done, _ = second(exe, env, *args, cwd=str(where))
        assert done.returncode == 0 and done.stdout == "" and done.stderr == "", done
        for i in range(10):
            done, _ = second(exe, env, "seq", str(i), cwd=str(tmp_path))
            assert done.returncode == 0, done

        # What no launcher sends: a frame over the bound, and a malformed one. Both answered 'R'.
        for frame in (struct.pack("<I", 70000) + b"x" * 64, struct.pack("<I", 8) + struct.pack("<II", 5, 1)):
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
                s.settimeout(10)
                s.connect(str(folder / "kvx.test.linux.sock"))
                s.sendall(frame)
                assert s.recv(1) == b"R"
        first.wait_lines(11)
        lines = first.finish()
    finally:
        first.kill()
    expected = [["kvx-single-instance", escaped(str(where))] + [escaped(a) for a in args]]
    expected += [["kvx-single-instance", escaped(str(tmp_path)), "seq", str(i)] for i in range(10)]
    assert lines == expected


def test_a_socket_left_by_a_killed_instance_blocks_nothing_and_a_stopped_one_is_reported(pack, tmp_path,
                                                                                       runtime_dir):
    exe = pack("single", main=SINGLE, single_instance="kvx.test.stale")
    env = clean_env(XDG_RUNTIME_DIR=str(runtime_dir))
    crashed = FirstInstance(exe, tmp_path, env, "crashed")
    crashed.proc.send_signal(signal.SIGKILL)
    crashed.proc.communicate()
    assert (runtime_dir / "kvx" / "kvx.test.stale.sock").exists()

    first = FirstInstance(exe, tmp_path, env, "next")
    try:
        done, _ = second(exe, env, "after crash")
        assert done.returncode == 0, done
        assert len(first.wait_lines(1)) == 1
        # A running instance that no longer answers: the later start says so and ends with 14.
        first.proc.send_signal(signal.SIGSTOP)
        try:
            done, seconds = second(exe, env, "unanswered")
        finally:
            first.proc.send_signal(signal.SIGCONT)
        assert done.returncode == 14, done
        assert done.stderr == "Error: %s\n" % NO_ANSWER
        assert 4.5 <= seconds < 10, seconds
        lines = first.finish()
    finally:
        first.kill()
    assert [l[2:] for l in lines] == [["after crash"]]


def test_a_runtime_address_is_printed_for_a_missing_runtime_and_other_schemes_are_ignored(pack, tmp_path):
    jre_order = "j"  # a search that finds nothing here (no JAVA_HOME in the cleaned environment)
    exe = pack("nojava", main="app.Props", jre_order=jre_order, jre_url="https://example.com/get-java")
    done, _ = second(exe, clean_env())
    assert done.returncode == 1
    assert done.stderr == ("Error: Java Runtime Environment not found.\n"
                           "Error: A Java runtime is available at: https://example.com/get-java\n")
    config = tmp_path / "bad.cfg"
    config.write_text("jre_url javascript:alert(1)\n")
    exe = pack("badurl", main="app.Props", jre_order=jre_order, config=str(config))
    done, _ = second(exe, clean_env())
    assert (done.returncode, done.stderr) == (1, "Error: Java Runtime Environment not found.\n")
    for bad in ("file:///etc/passwd", "javascript:alert(1)"):
        with pytest.raises(subprocess.CalledProcessError) as failure:
            pack("refused", main="app.Props", jre_url=bad)
        assert failure.value.returncode == 2
