"""The Wine end-to-end harness: real executables, run under Wine on a private X server.

One Wine prefix (build/wine-e2e, or $KVX_E2E_WINEPREFIX) is created once and reused; one
Xvfb and one persistent wineserver serve the whole session, so each run costs only the start
of the program itself. At the end of the session the harness stops that prefix's wineserver
and its own Xvfb, nothing else.

Fixtures:
  builds    where the build outputs are; a missing binary fails the test (never a skip)
  wine      WineSession: run(exe, ...) with a timeout, a locale, an optional message box that
            `closebox.exe` reads and closes, and the texts traced by Wine's msgbox channel
  pack      packs an executable with kvxpack (an empty application archive by default)
  testjvm   copies the stand-in jvm.dll into a fresh Java home with a log file
  no_java_registry   the JavaSoft and IBM runtime keys absent (both registry views)

Every Wine call runs under a timeout; a program still running at its end is killed with
everything it started, and the test fails with what it printed.

Build directories default to build/win32, build/win64 and build/host; KVX_BUILD_WIN32,
KVX_BUILD_WIN64 and KVX_BUILD_HOST point elsewhere (a developer's own build).
"""
import dataclasses
import fcntl
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path, PureWindowsPath

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "shared"))
import kvx_support  # noqa: E402
ARCHES = ("win32", "win64")
LOCALES = {"en_US": "en_US.UTF-8", "zh_TW": "zh_TW.UTF-8", "zh_CN": "zh_CN.UTF-8"}
PREFIX_INIT_TIMEOUT = 300
RUN_TIMEOUT = 60
# Variables that would make a Java runtime reachable, or change the program's language.
SCRUBBED = ("JAVA_HOME", "JRE_HOME", "CLASSPATH", "CLASS_PATH", "LANGUAGE", "LANG", "LC_ALL",
            "LC_MESSAGES", "LC_CTYPE")


class Builds:
    def dir(self, preset):
        return kvx_support.build_dir(preset)

    @staticmethod
    def need(path, what):
        return kvx_support.need(path, what)

    def kvx(self, arch):
        return self.need(self.dir(arch) / "kvx.exe", "the %s launcher" % arch)

    def closebox(self):
        return self.need(self.dir("win32") / "tests" / "closebox.exe", "the message-box helper")

    def splashwin(self):
        return self.need(self.dir("win32") / "tests" / "splashwin.exe", "the splash-window helper")

    def splash_stub(self, arch, variant):
        """A launcher that carries bitmap 100 (tests/wine/stubs): picture, large, truncated, empty."""
        return self.need(self.dir(arch) / "tests" / "wine" / "stubs" / ("kvx-splash-%s.exe" % variant),
                         "the %s splash test launcher (%s)" % (arch, variant))

    def kvxpack(self):
        return self.need(self.dir("host") / "kvxpack", "kvxpack")

    def testjvm_dll(self, arch):
        return self.need(self.dir(arch) / "tests" / "testjvm" / "jvm.dll", "the %s test JVM" % arch)


@dataclasses.dataclass
class WineRun:
    """What one run of a program showed and returned."""
    command: list
    returncode: int
    stdout: str
    stderr: str
    seconds: float
    box: dict = None          # what closebox read from the message box (caption, text, ...)
    box_output: str = ""      # closebox's own output, for failure messages
    traced_texts: list = dataclasses.field(default_factory=list)  # every message box text Wine traced

    def describe(self):
        return ("command: %s\nexit code: %s\nstdout:\n%s\nstderr:\n%s\nclosebox:\n%s"
                % (" ".join(map(str, self.command)), self.returncode, self.stdout, self.stderr, self.box_output))


def decode_debugstr_w(body):
    """The text of Wine's debugstr_w rendering L"..." (body without the quotes)."""
    simple = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "0": "\0"}
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c == "\\" and i + 1 < len(body):
            nxt = body[i + 1]
            if re.match(r"[0-9a-fA-F]{4}", body[i + 1:i + 5]):
                out.append(chr(int(body[i + 1:i + 5], 16)))
                i += 5
                continue
            if nxt == "x" and re.match(r"[0-9a-fA-F]{2}", body[i + 2:i + 4]):
                out.append(chr(int(body[i + 2:i + 4], 16)))
                i += 4
                continue
            out.append(simple.get(nxt, nxt))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


TRACED_BOX = re.compile(r'trace:msgbox:MSGBOX_OnInit L"(.*)"\s*$')


def traced_texts(stderr):
    return [decode_debugstr_w(m.group(1)) for m in map(TRACED_BOX.search, stderr.splitlines()) if m]


def parse_fields(output):
    fields = {}
    for line in output.splitlines():
        key, sep, value = line.partition("=")
        if sep:
            fields[key] = re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r"}.get(m.group(1), m.group(1)), value)
    return fields


def spawn(cmd, env, cwd=None):
    """Starts `cmd` in a session of its own, its output going to files: Wine's background
    processes (services, the desktop) inherit a child's output handles and outlive it, so a
    pipe would never report its end."""
    out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
    proc = subprocess.Popen(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                            start_new_session=True)
    proc.outputs = (out, err)
    return proc


def outputs(proc):
    texts = []
    for f in proc.outputs:
        f.seek(0)
        texts.append(f.read().decode("utf-8", "replace"))
        f.close()
    return texts


def finish(proc, timeout):
    """Waits for `proc`; True when it ended in time, otherwise it and its group are stopped."""
    try:
        proc.wait(timeout=timeout)
        return True
    except subprocess.TimeoutExpired:
        stop_group(proc)
        return False


def stop_group(proc):
    """Stops a process we started in its own session, and everything it started."""
    if proc.poll() is None:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass


class WineSession:
    def __init__(self, builds, prefix):
        self.builds = builds
        self.prefix = prefix
        self.xvfb = None
        self.xvfb_log = None
        self.display = None
        self.lock = None
        self.owns_prefix = False
        for tool in ("wine", "wineserver", "wineboot", "Xvfb"):
            kvx_support.tool(tool)

    # -- environment -------------------------------------------------------------------
    def env(self, locale="en_US", extra=None, debug="-all"):
        env = {k: v for k, v in os.environ.items() if k not in SCRUBBED}
        env.update(WINEPREFIX=str(self.prefix), WINEDEBUG=debug, WINEDLLOVERRIDES="mscoree,mshtml=",
                   LC_ALL=LOCALES.get(locale, locale))
        env["DISPLAY"] = self.display or ""
        env.update(extra or {})
        return env

    @staticmethod
    def winpath(path):
        """The Windows form of a host path, through Wine's Z: drive."""
        return "Z:" + str(Path(path).resolve()).replace("/", "\\")

    # -- session start and end ---------------------------------------------------------
    def start(self):
        self.prefix.parent.mkdir(parents=True, exist_ok=True)
        # The prefix belongs to one session at a time, for the whole session.
        self.lock = open(str(self.prefix) + ".lock", "w")
        try:
            fcntl.flock(self.lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            pytest.fail("another test session uses the Wine prefix %s (set KVX_E2E_WINEPREFIX to use another)"
                        % self.prefix, pytrace=False)
        self.owns_prefix = True
        # A server left behind by an interrupted session of this prefix would not be persistent.
        self._wineserver("-k")
        if not (self.prefix / ".kvx-ready").exists():
            self._create_prefix()
        self._start_xvfb()
        # A persistent wineserver spares every run the server's start and the prefix's load;
        # wineboot brings up the prefix's services once, before the first test is timed.
        if self._wineserver("-p") != 0:
            pytest.fail("wineserver -p failed for %s" % self.prefix, pytrace=False)
        self.command(["wineboot"], timeout=PREFIX_INIT_TIMEOUT)
        # Xvfb runs no window manager: with managed windows Wine would wait 2 s for one to
        # confirm every window it hides, so each closed message box would cost 2 s.
        code, out, err = self.reg("add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f")
        if code != 0:
            pytest.fail("cannot configure the Wine prefix: %s%s" % (out, err), pytrace=False)

    def _create_prefix(self):
        env = self.env()
        env["DISPLAY"] = ""  # the first start shows nothing worth a display
        started = time.monotonic()
        try:
            subprocess.run(["wineboot", "--init"], env=env, timeout=PREFIX_INIT_TIMEOUT, check=True,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=env, timeout=PREFIX_INIT_TIMEOUT, check=True)
        except (subprocess.SubprocessError, OSError) as e:
            pytest.fail("creating the Wine prefix %s failed: %s" % (self.prefix, e), pytrace=False)
        (self.prefix / ".kvx-ready").write_text("created in %.1f s\n" % (time.monotonic() - started))

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb_log = tempfile.TemporaryFile()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=self.xvfb_log, start_new_session=True)
        os.close(write_end)
        # Read up to the newline: Xvfb may write the number and the newline separately, and
        # a pipe closed between the two writes makes Xvfb end with "Cannot write display number".
        received = b""
        deadline = time.monotonic() + 30
        while not received.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))
            chunk = os.read(read_end, 64) if ready else b""
            if not chunk:
                break
            received += chunk
        number = received.decode().strip()
        os.close(read_end)
        if not number.isdigit():
            stop_group(self.xvfb)
            pytest.fail("Xvfb did not start", pytrace=False)
        self.display = ":" + number

    def _wineserver(self, flag):
        """Runs `wineserver FLAG` for this prefix only; its exit code (None after a timeout)."""
        try:
            return subprocess.run(["wineserver", flag], env=self.env(), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30).returncode
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        # Only this prefix's server, and only when this session holds the prefix: every Wine
        # process of the session ends with it.
        if self.owns_prefix:
            self._wineserver("-k")
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                stop_group(self.xvfb)
        if self.lock:
            self.lock.close()

    def emptied_cache_folder(self, name):
        """Yields (Windows form, host path) of %LOCALAPPDATA%\\kvx\\NAME in this prefix, emptied
        before and after: a fixture's body."""
        code, out, err = self.command(["cmd", "/c", "echo %LOCALAPPDATA%"])
        local = out.strip()
        assert code == 0 and local.lower().startswith("c:\\"), (code, out, err)
        host = Path(self.prefix, "drive_c", *PureWindowsPath(local).parts[1:], "kvx", name)
        shutil.rmtree(host, ignore_errors=True)
        yield local + "\\kvx\\" + name, host
        shutil.rmtree(host, ignore_errors=True)

    def emptied_cds_cache(self):
        """The class-data cache folder as emptied_cache_folder gives it, its Windows form ending
        in a backslash."""
        for local, host in self.emptied_cache_folder("cds"):
            yield local + "\\", host

    # -- running programs --------------------------------------------------------------
    def command(self, args, *, locale="en_US", env=None, timeout=RUN_TIMEOUT, cwd=None, debug="-all"):
        """Runs a Wine command line (reg, cmd ...) to its end; fails the test on a timeout.
        Returns (exit code, stdout, stderr)."""
        proc = spawn(["wine", *map(str, args)], self.env(locale, env, debug), cwd)
        ended = finish(proc, timeout)
        out, err = outputs(proc)
        if not ended:
            pytest.fail("wine %s did not end within %s s\n%s%s" % (" ".join(map(str, args)), timeout, out, err),
                        pytrace=False)
        return proc.returncode, out, err

    def run(self, exe, args=(), *, locale="en_US", env=None, timeout=RUN_TIMEOUT, cwd=None, expect_box=False,
            box_timeout=None, debug="-all,trace+msgbox", press=None):
        """Runs `exe` under Wine. With `expect_box`, closebox.exe waits for a message box of
        that program at the same time, reads it and presses OK (or the button id `press`)."""
        exe = Path(exe)
        cmd = ["wine", str(exe), *map(str, args)]
        if self.xvfb.poll() is not None:
            self.xvfb_log.seek(0)
            pytest.fail("the session's Xvfb (display %s) has ended with code %s:\n%s"
                        % (self.display, self.xvfb.returncode, self.xvfb_log.read().decode("utf-8", "replace")),
                        pytrace=False)
        closebox = self.builds.closebox() if expect_box else None
        started = time.monotonic()
        proc = spawn(cmd, self.env(locale, env, debug), cwd)
        box_output, box = "", None
        if closebox:
            closed, box_output = self._close_box(exe, locale, box_timeout or timeout, program=proc, press=press)
            if closed:
                box = parse_fields(box_output)
        unexpected = False
        if not closebox and "trace+msgbox" in debug:
            # A box nobody expected would hold the program until the timeout: close it as soon
            # as Wine reports it, and fail with what it said.
            if self._wait_for_traced_box(proc, started + timeout):
                unexpected = True
                box_output = self._close_box(exe, locale, 20)[1]
                box = parse_fields(box_output)
        ended = finish(proc, max(1.0, timeout - (time.monotonic() - started)))
        out, err = outputs(proc)
        run = WineRun(cmd, proc.returncode if ended else None, out, err, time.monotonic() - started, box,
                      box_output, traced_texts(err))
        if not ended:
            pytest.fail("%s did not end within %s s\n%s" % (exe.name, timeout, run.describe()), pytrace=False)
        if unexpected:
            pytest.fail("%s showed a message box no one expected\n%s" % (exe.name, run.describe()), pytrace=False)
        return run

    @staticmethod
    def _wait_for_traced_box(proc, deadline):
        """Watches the program's error output until it ends; True once Wine traced a message box."""
        fd = proc.outputs[1].fileno()
        while proc.poll() is None and time.monotonic() < deadline:
            # pread leaves the file offset alone: the program writes through the same one.
            size = os.fstat(fd).st_size
            if size and b"trace:msgbox:MSGBOX_OnInit" in os.pread(fd, size, 0):
                return True
            time.sleep(0.1)
        return False

    def _close_box(self, exe, locale, seconds, program=None, press=None):
        """Runs closebox for a box of `exe`; (closed, closebox's output). Once `program` has
        ended no box of it can come any more, so the wait stops shortly after."""
        helper = spawn(["wine", str(self.builds.closebox()), "--timeout-ms", str(int(seconds * 1000)),
                        "--exe", exe.name] + (["--press", str(press)] if press else []), self.env(locale))
        deadline = time.monotonic() + seconds + 20
        program_ended = False
        while helper.poll() is None and time.monotonic() < deadline:
            if program is not None and not program_ended and program.poll() is not None:
                program_ended = True
                deadline = min(deadline, time.monotonic() + 1)
            time.sleep(0.05)
        ended = finish(helper, 0.1)
        out, err = outputs(helper)
        if not ended:
            out += "closebox stopped: %s\n" % ("the program ended without a box" if program_ended
                                                 else "it did not end in time")
        return ended and helper.returncode == 0, out + err

    # -- registry ----------------------------------------------------------------------
    def reg(self, *args):
        """Runs Wine's reg.exe (add, delete, query, import ...); add "/reg:32" or "/reg:64" for a view."""
        return self.command(["reg", *args])

    def delete_registry_keys(self, keys):
        """Deletes HKLM keys in both registry views; absent keys are fine."""
        for key in keys:
            for view in ("/reg:64", "/reg:32"):
                code, _, _ = self.reg("delete", key, "/f", view)
                if code != 0 and self.reg("query", key, view)[0] == 0:
                    pytest.fail("cannot delete %s (%s)" % (key, view), pytrace=False)


@pytest.fixture(scope="session")
def builds():
    return Builds()


def started_session(builds, variable, default_folder):
    """A WineSession in the prefix named by the environment variable (else build/<default_folder>),
    running for the caller's fixture and stopped after it."""
    session = WineSession(builds, Path(os.environ.get(variable) or ROOT / "build" / default_folder))
    try:
        session.start()
        yield session
    finally:
        session.stop()


@pytest.fixture(scope="session")
def wine(builds):
    yield from started_session(builds, "KVX_E2E_WINEPREFIX", "wine-e2e")


JAVA_REGISTRY_KEYS = (r"HKLM\SOFTWARE\JavaSoft", r"HKLM\SOFTWARE\IBM\Java2 Runtime Environment")


@pytest.fixture(scope="module")
def no_java_registry(wine):
    """No runtime registered in the prefix for the module's tests. Tests that register one
    remove it themselves (or use this fixture's keys with delete_registry_keys)."""
    wine.delete_registry_keys(JAVA_REGISTRY_KEYS)


def write_empty_jar(path):
    """An application archive with nothing but a manifest."""
    with zipfile.ZipFile(path, "w") as jar:
        jar.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n")
    return path


@pytest.fixture
def pack(builds, tmp_path):
    """pack(stub, out_name, jar=None, main=None, options=(), properties=(), jvmdll=None,
    jre_order=None, forcecwd=None, config=None) -> path of the packed executable."""
    kvxpack = builds.kvxpack()

    def run(stub, out_name="app.exe", *, jar=None, main=None, options=(), properties=(), jvmdll=None,
            jre_order=None, forcecwd=None, config=None, extra=()):
        out = tmp_path / out_name
        out.parent.mkdir(parents=True, exist_ok=True)
        jar = jar or write_empty_jar(tmp_path / ("%s.jar" % Path(out_name).stem))
        cmd = [str(kvxpack), "--stub", str(stub), "--jar", str(jar)]
        if main is not None:
            cmd += ["--main", main]
        for o in options:
            cmd += ["--option", o]
        for p in properties:
            cmd += ["--property", p]
        for flag, value in (("--jvmdll", jvmdll), ("--jre-order", jre_order), ("--forcecwd", forcecwd),
                            ("--config", config)):
            if value is not None:
                cmd += [flag, str(value)]
        cmd += [*extra, "-o", str(out)]
        try:
            done = subprocess.run(cmd, capture_output=True, timeout=60)
        except subprocess.TimeoutExpired:
            pytest.fail("kvxpack did not end within 60 s: %s" % " ".join(cmd), pytrace=False)
        if done.returncode != 0 or not out.is_file():
            pytest.fail("kvxpack failed (%s): %s\n%s" % (done.returncode, " ".join(cmd),
                                                         done.stderr.decode("utf-8", "replace")), pytrace=False)
        return out

    return run


@dataclasses.dataclass
class StandInJvm:
    home: Path      # a Java home: bin/client/jvm.dll below it
    dll: Path
    log: Path       # what the test JVM records (KVX_TESTJVM_LOG)
    env: dict       # KVX_TESTJVM_LOG in its Windows form, for WineSession.run(env=...)


@pytest.fixture
def testjvm(builds, tmp_path):
    """testjvm(arch) -> StandInJvm: a fresh Java home holding a copy of the stand-in jvm.dll."""
    def make(arch):
        source = builds.testjvm_dll(arch)
        home = tmp_path / ("jre-" + arch)
        dll = home / "bin" / "client" / "jvm.dll"
        dll.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(source, dll)
        log = tmp_path / ("testjvm-%s.log" % arch)
        return StandInJvm(home, dll, log, {"KVX_TESTJVM_LOG": WineSession.winpath(log)})

    return make
