"""The example application (examples/hello) on Linux with the real JDK 17: packed with its splash,
it shows the splash through the runtime's splash library (java.awt.SplashScreen sees it too),
closes it once its window is up, and its tray calls do nothing and say so once; under plain
`java -cp` the API classes act as "no splash, no tray"."""
import os
import subprocess
import sys
import threading
import time

import pytest

from conftest import JDK, KVXPACK, ROOT, RUNTIME_JAR, STUB, clean_env, require

sys.path.insert(0, os.path.join(ROOT, "tests", "shared"))
from kvx_support import Screenshot, tool  # noqa: E402

EXAMPLE = os.path.join(ROOT, "examples", "hello")
sys.path.insert(0, EXAMPLE)
import pictures  # noqa: E402  (the example's own colours)

# The 400 x 300 splash centred on the 1024 x 768 screen: its dark field and its blue band.
FIELD_AT, BAND_AT = (512, 300), (512, 500)


@pytest.fixture(scope="module")
def example(tmp_path_factory):
    """The example compiled against the API jar, its pictures, and a Linux executable with the splash."""
    out = tmp_path_factory.mktemp("example")
    classes = out / "classes"
    sources = [os.path.join(d, f) for d, _, files in os.walk(os.path.join(EXAMPLE, "src")) for f in files]
    subprocess.run([f"{JDK}/bin/javac", "--release", "8", "-Xlint:-options", "-cp", require(RUNTIME_JAR),
                    "-d", str(classes)] + sources, check=True, timeout=120)
    subprocess.run([f"{JDK}/bin/jar", "cf", str(out / "hello.jar"), "-C", str(classes), "."], check=True, timeout=60)
    pictures.main(str(out))
    exe = out / "hello"
    subprocess.run([require(KVXPACK), "--stub", require(STUB), "--jar", str(out / "hello.jar"), "--main", "hello.Main",
                    "--splash", str(out / "splash.bmp"), "--jre-order", "csie", "-o", str(exe)],
                   check=True, timeout=60)
    return out


@pytest.fixture(scope="module")
def display():
    """A private Xvfb screen of 1024 x 768 (no window manager)."""
    read, write = os.pipe()
    xvfb = subprocess.Popen([tool("Xvfb"), "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    assert number, "Xvfb did not start"
    yield ":" + number
    xvfb.terminate()
    xvfb.wait(timeout=30)


def test_example_shows_and_closes_its_splash_and_its_tray_calls_are_inert(example, display, tmp_path):
    env = clean_env(DISPLAY=display, KVX_TRACE="-")
    process = subprocess.Popen([str(example / "hello"), "--load-ms", "1500", "--seconds", "1", "one", "two words"],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env)
    timer = threading.Timer(120, process.kill)
    timer.start()
    lines, shots = [], {}
    try:
        # Shot while the application "loads" (splash up, tray calls made), and once its window is up.
        for line in process.stdout:
            lines.append(line.strip())
            for trigger in ("tray: shown", "splash after the window: "):
                if line.startswith(trigger):
                    shots[trigger] = Screenshot(display, tmp_path / ("%d.ppm" % len(shots)))
        code = process.wait()
    finally:
        timer.cancel()
    text = "\n".join(lines)
    assert code == 0, text
    for expected in ("arg[0] = --load-ms", "arg[5] = two words", "kvx.natives = registered",
                     "kvx.app.path = %s" % (example / "hello"), "splash: showing", "java.awt.SplashScreen: showing",
                     "tray: shown", "window: shown", "splash after the window: closed", "bye"):
        assert expected in lines, "no line %r in:\n%s" % (expected, text)
    shown = [l.split(" through ", 1)[1] for l in lines if l.startswith("kvx: splash shown through ")]
    assert [os.path.realpath(p) for p in shown] == [os.path.realpath(f"{JDK}/lib/libsplashscreen.so")], text
    assert sum("no tray on Linux" in l for l in lines) == 1, text
    loading, ready = shots.get("tray: shown"), shots.get("splash after the window: ")
    assert loading and ready, text
    assert (loading.at(*FIELD_AT), loading.at(*BAND_AT)) == (pictures.FIELD, pictures.BAND), "no splash on the screen"
    assert ready.at(*BAND_AT) != pictures.BAND, "the splash is still on the screen with the window up"


def test_api_classes_under_plain_java_are_no_splash_and_no_tray(example):
    """The example, with every tray and menu call, run by `java -cp` on the API jar: nothing throws."""
    done = subprocess.run([f"{JDK}/bin/java", "-Djava.awt.headless=true", "-cp",
                           os.pathsep.join([str(example / "hello.jar"), require(RUNTIME_JAR)]), "hello.Main",
                           "--load-ms", "0"], capture_output=True, text=True, env=clean_env(), timeout=60)
    assert done.returncode == 0 and done.stderr == "", done.stdout + done.stderr
    lines = done.stdout.splitlines()
    for expected in ("splash: none", "tray: shown", "window: none (no display)", "splash after the window: closed",
                     "bye"):
        assert expected in lines, done.stdout
    assert not any(l.startswith("kvx.") for l in lines), done.stdout
