"""The splash: a launcher with bitmap 100 shows it centred and upright while Java starts and
runs, closes it by its timers, a key press or Java's request, owns the launch-error box with
it, and gives Java the SplashScreen natives.

Each test runs a packed launcher on the session's 1024 x 768 Xvfb while `splashwin.exe` watches
the splash window from another process; screenshots come from ImageMagick's `import`. Times
are compared with generous margins only."""
import os
import time

import pytest

from conftest import finish, outputs, parse_fields, spawn
from screen import BLUE, GREEN, RED, Screenshot, check_centred_picture, check_pixels, shoot_when
from vm_support import java_app, winpath  # noqa: F401  (java_app is a fixture)

ARCHES = ("win32", "win64")
SPLASH = "com/quorvane/kvx/SplashScreen"
GET = "native s = %s.nativeGetSplashScreen ()L%s; static" % (SPLASH, SPLASH)
GET_AGAIN = "native t = %s.nativeGetSplashScreen ()L%s; static" % (SPLASH, SPLASH)
CLOSE = "native %s.nativeClose ()V s" % SPLASH
GET_RETURNED = "native-return %s.nativeGetSplashScreen()L%s; = " % (SPLASH, SPLASH)
MARKER = "property splash.marker"  # a step that logs a line: main is about to return


def auto_close(delay):
    return "native %s.nativeAutoClose (I)V s %d" % (SPLASH, delay)


class Watcher:
    """splashwin.exe running beside the launcher."""

    def __init__(self, wine, builds, mode, timeout_ms=40000, log=None, marker=None):
        args = [mode, "--timeout-ms", str(timeout_ms)]
        if log is not None:
            args += ["--log", winpath(log), "--marker", marker]
        self.proc = spawn(["wine", str(builds.splashwin()), *args], wine.env())
        self.timeout = timeout_ms / 1000 + 30
        # The launcher starts only once the helper runs: a busy machine may take seconds to
        # start a Wine program, and the helper must not miss what it is to watch.
        fd = self.proc.outputs[0].fileno()
        deadline = time.monotonic() + 60
        while self.proc.poll() is None and time.monotonic() < deadline:
            size = os.fstat(fd).st_size
            if size and b"ready=1" in os.pread(fd, size, 0):
                return
            time.sleep(0.05)
        code, _, output = self.result()
        pytest.fail("splashwin did not start (exit code %s)\n%s" % (code, output), pytrace=False)

    def result(self):
        ended = finish(self.proc, self.timeout)
        out, err = outputs(self.proc)
        assert ended, "splashwin did not end\n%s%s" % (out, err)
        fields = {k: v for k, v in parse_fields(out).items()}
        return self.proc.returncode, fields, out + err


def number(fields, key, output):
    assert key in fields, "splashwin reported no %s\n%s" % (key, output)
    return int(fields[key])


@pytest.mark.parametrize("arch", ARCHES)
def test_picture_is_centred_upright_and_closes_after_main(java_app, wine, builds, tmp_path, arch):
    app = java_app(arch, stub=builds.splash_stub(arch, "picture"))
    watcher = Watcher(wine, builds, "watch", log=app.jvm.log, marker=MARKER)
    shots = []
    shooter = shoot_when(app.jvm.log, GET_RETURNED, wine.display, tmp_path / "shot.ppm", shots)
    launch = app.launch(script=["class " + SPLASH, "class app/Main", "main " + GET, "main sleeps 3000",
                                "main thread keeper 4000", "main " + MARKER])
    shooter.join()
    code, fields, output = watcher.result()
    launch.check_success()
    assert code == 0, output
    assert [fields.get(k) for k in ("x", "y", "width", "height", "title")] == \
        ["312", "234", "400", "300", "Please wait ..."], output
    # The object comes from the class's own ()V constructor.
    assert launch.has("getmethod %s <init> ()V" % SPLASH), launch.describe()
    assert any(l.startswith(GET_RETURNED + SPLASH + "#") for l in launch.lines), launch.describe()
    # Gone about 750 ms after main returned, long before the keeper thread let the process end.
    after_main = number(fields, "gone_ms", output) - number(fields, "marker_ms", output)
    print("splash gone %d ms after main returned" % after_main)
    assert 600 <= after_main <= 3000, output
    check_centred_picture(shots)


def test_picture_larger_than_the_screen_overhangs_evenly(java_app, wine, builds, tmp_path):
    app = java_app("win32", stub=builds.splash_stub("win32", "large"))
    watcher = Watcher(wine, builds, "watch")
    shots = []
    shooter = shoot_when(app.jvm.log, GET_RETURNED, wine.display, tmp_path / "shot.ppm", shots)
    launch = app.launch(script=["class " + SPLASH, "class app/Main", "main " + GET, "main sleeps 2500"])
    shooter.join()
    code, fields, output = watcher.result()
    launch.check_success()
    assert [fields.get(k) for k in ("x", "y", "width", "height")] == ["-88", "-66", "1200", "900"], output
    assert shots and isinstance(shots[0], Screenshot), "no screenshot: %s\n%s" % (shots, launch.describe())
    # Picture rows 0-224 are red: screen rows up to 158; picture column 600 is screen column 512.
    check_pixels(shots[0], {(0, 0): RED, (1023, 0): RED, (511, 158): RED, (511, 159): GREEN,
                            (0, 767): GREEN, (511, 767): GREEN, (512, 767): BLUE, (1023, 767): BLUE})


def test_clicks_and_alt_f4_leave_it_a_key_press_closes_it(java_app, wine, builds):
    app = java_app("win32", stub=builds.splash_stub("win32", "picture"))
    watcher = Watcher(wine, builds, "poke")
    launch = app.launch(script=["class " + SPLASH, "class app/Main", "main sleeps 8000", "main " + GET])
    code, fields, output = watcher.result()
    launch.check_success()
    assert fields.get("survived") == "1", output
    assert code == 0 and 0 <= number(fields, "key_gone_ms", output) <= 3000, output
    # Closed by the key while main still ran: Java finds no splash any more.
    assert launch.has(GET_RETURNED + "null thread=main"), launch.describe()


def test_launch_error_box_is_owned_by_the_splash_which_goes_after_it(java_app, wine, builds):
    # A runtime below minjre fails before main: no close is armed until the box is dismissed.
    app = java_app("win32", stub=builds.splash_stub("win32", "picture"), minjre="1.6")
    watcher = Watcher(wine, builds, "watch")
    launch = app.launch(script=["version 1.5.0_22-b03", "class app/Main"], expect_box=True)
    code, fields, output = watcher.result()
    launch.check_failure(6, "Java virtual machine version 1.5 is too low, require 1.6 or higher.")
    assert launch.run.box.get("owner_class") == "KVXSPLASH", launch.describe()
    assert fields.get("splash_during_box") == "1" and fields.get("box_owner_is_splash") == "1", output
    box_closed = number(fields, "box_closed_ms", output)
    # The launcher arms its 100 ms close, then ends: the splash goes with the process at the latest.
    print("splash gone %d ms after the box" % (number(fields, "gone_ms", output) - box_closed))
    assert box_closed <= number(fields, "gone_ms", output) <= box_closed + 2000, output


@pytest.mark.parametrize("arch", ARCHES)
def test_without_a_picture_java_finds_no_splash(java_app, arch):
    app = java_app(arch)
    launch = app.launch(script=["class " + SPLASH, "class app/Main", "main " + GET,
                                "main new s " + SPLASH, "main " + auto_close(0), "main " + CLOSE])
    launch.check_success()
    assert launch.has(GET_RETURNED + "null thread=main"), launch.describe()
    assert launch.has("load " + winpath(app.exe)), launch.describe()


@pytest.mark.parametrize("arch", ARCHES)
def test_auto_close_minus_one_keeps_it_until_close(java_app, wine, builds, arch):
    app = java_app(arch, stub=builds.splash_stub(arch, "picture"))
    watcher = Watcher(wine, builds, "watch", log=app.jvm.log, marker=MARKER)
    launch = app.launch(script=["class " + SPLASH, "class app/Main", "main " + GET, "main " + auto_close(-1),
                                "main start closer", "main " + MARKER,
                                "routine closer", "step sleeps 3000", "step " + CLOSE])
    code, fields, output = watcher.result()
    launch.check_success()
    assert code == 0, output
    # Not the launcher's 750 ms: the close() three seconds later took it down.
    assert 2000 <= number(fields, "gone_ms", output) - number(fields, "marker_ms", output) <= 10000, output
    assert launch.has("native-return %s.nativeClose()V = void thread=closer" % SPLASH), launch.describe()


def test_auto_close_0_closes_it_at_once(java_app, wine, builds):
    app = java_app("win32", stub=builds.splash_stub("win32", "picture"))
    watcher = Watcher(wine, builds, "watch", log=app.jvm.log, marker=MARKER)
    launch = app.launch(script=["class " + SPLASH, "class app/Main", "main " + GET, "main " + auto_close(0),
                                "main " + MARKER, "main sleeps 4000", "main " + GET_AGAIN])
    code, fields, output = watcher.result()
    launch.check_success()
    assert code == 0 and number(fields, "gone_ms", output) - number(fields, "marker_ms", output) <= 2000, output
    assert launch.has(GET_RETURNED + "null thread=main"), launch.describe()


def test_auto_close_5000_closes_it_after_main_returned(java_app, wine, builds):
    app = java_app("win32", stub=builds.splash_stub("win32", "picture"))
    watcher = Watcher(wine, builds, "watch", log=app.jvm.log, marker=MARKER)
    launch = app.launch(script=["class " + SPLASH, "class app/Main", "main " + GET, "main " + auto_close(5000),
                                "main thread keeper 9000", "main " + MARKER])
    code, fields, output = watcher.result()
    launch.check_success()
    assert code == 0, output
    after_call = number(fields, "gone_ms", output) - number(fields, "marker_ms", output)
    print("splash gone %d ms after autoClose(5000)" % after_call)
    assert 4000 <= after_call <= 8500, output


def test_an_object_from_before_the_close_does_nothing(java_app, wine, builds):
    app = java_app("win32", stub=builds.splash_stub("win32", "picture"))
    watcher = Watcher(wine, builds, "watch")
    launch = app.launch(script=["class " + SPLASH, "class app/Main", "main " + GET, "main " + CLOSE,
                                "main sleeps 1500", "main " + GET_AGAIN, "main " + auto_close(0),
                                "main " + auto_close(-1), "main " + CLOSE])
    code, fields, output = watcher.result()
    launch.check_success()
    assert code == 0, output
    # Closed by close() while main still ran: a later getSplashScreen() finds none.
    gets = [l for l in launch.lines if l.startswith(GET_RETURNED)]
    assert len(gets) == 2 and gets[0].startswith(GET_RETURNED + SPLASH + "#") and \
        gets[1] == GET_RETURNED + "null thread=main", launch.describe()


@pytest.mark.parametrize("arch", ARCHES)
def test_java_threads_hammer_the_natives_while_a_key_closes_it(java_app, wine, builds, arch):
    app = java_app(arch, stub=builds.splash_stub(arch, "picture"))
    watcher = Watcher(wine, builds, "poke")
    script = ["class " + SPLASH, "class app/Main", "main " + GET]
    for name in ("a", "b", "c", "d"):
        script.append("main start %s" % name)
    for name in ("a", "b", "c", "d"):
        script.append("main join %s" % name)
    # Three threads call the natives in bursts for several seconds, across the key press that
    # closes the splash (about 700 ms after it shows); a fourth closes it again afterwards.
    rounds = 60
    for name, call in (("a", auto_close(-1)), ("b", auto_close(60000)), ("c", GET_AGAIN)):
        script.append("routine " + name)
        for _ in range(rounds):
            script += ["step repeat 150 " + call, "step sleeps 50"]
    script.append("step " + GET_AGAIN)
    script += ["routine d", "step sleeps 5000", "step repeat 2000 " + CLOSE, "step repeat 2000 " + auto_close(0)]
    launch = app.launch(script=script, timeout=120)
    code, fields, output = watcher.result()
    launch.check_success()
    assert fields.get("survived") == "1" and code == 0, output
    done = [l.split(" thread=")[1] for l in launch.lines if l.startswith("repeat-done ")]
    assert [done.count(name) for name in "abcd"] == [rounds, rounds, rounds, 2], launch.describe()
    # The bursts outlasted the splash: after them getSplashScreen() finds none.
    assert launch.has(GET_RETURNED + "null thread=c"), launch.describe()


@pytest.mark.parametrize("variant", ["truncated", "empty"])
def test_a_broken_picture_means_no_splash(java_app, wine, builds, variant):
    app = java_app("win32", stub=builds.splash_stub("win32", variant))
    watcher = Watcher(wine, builds, "watch", timeout_ms=8000)
    launch = app.launch(script=["class " + SPLASH, "class app/Main", "main sleeps 1000", "main " + GET])
    code, fields, output = watcher.result()
    launch.check_success()
    assert launch.has(GET_RETURNED + "null thread=main"), launch.describe()
    assert code == 1 and fields.get("never_shown") == "1", output
    assert launch.run.seconds < 25, launch.describe()
