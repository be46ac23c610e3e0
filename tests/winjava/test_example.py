"""The example application (examples/hello) as a Windows x64 executable under Wine with the real
Java 21 runtime: while it starts, the screen shows its splash and its tray icon; once its window
is up the splash has gone, and it ends by itself with exit code 0."""
import sys
import threading
import time

from conftest import ROOT, wine_module, winpath

screen = wine_module("screen")
EXAMPLE = ROOT / "examples" / "hello"
sys.path.insert(0, str(EXAMPLE))
import pictures  # noqa: E402  (the example's own colours)

# The 400 x 300 splash centred on the 1024 x 768 screen: its dark field and its blue band.
FIELD_AT, BAND_AT = (512, 300), (512, 500)


def icon_pixels(shot):
    """How many pixels of the example's icon colour the screen shows outside the splash."""
    return sum(1 for y in range(shot.height) for x in range(shot.width)
               if not (312 <= x <= 711 and 234 <= y <= 533) and shot.at(x, y) == pictures.ICON)


def test_example_shows_splash_and_tray_icon_under_wine(java_build, pack, launch, wine, runtime, tmp_path):
    jar = java_build.compile("hello", [EXAMPLE / "src"], classpath=[ROOT / "build" / "java" / "kvx-runtime.jar"])
    pictures.main(str(tmp_path))
    log = tmp_path / "hello.log"
    exe = pack("hello-win64.exe", main="hello.Main", jar=jar, jvmdll=winpath(runtime("jdk21").jvm_dll), jre_order="c",
               icon=tmp_path / "hello.ico", tray_icon="101=%s" % (tmp_path / "hello.ico"),
               splash=tmp_path / "splash.bmp", version="FileVersion=1.0.0.0", property="hello.log=" + winpath(log))
    shots, errors = [], []

    def watch():
        # While the example "loads": the splash is up and the icon reaches the tray.
        try:
            if not screen.wait_for_line(log, "tray: shown", seconds=90):
                errors.append("the example never showed its tray icon")
                return
            deadline = time.monotonic() + 8
            while time.monotonic() < deadline:
                shot = screen.Screenshot(wine.display, tmp_path / "loading.ppm")
                shots[:] = [shot]
                if icon_pixels(shot) >= 100:
                    return
                time.sleep(0.3)
        except BaseException as e:  # reported by the test
            errors.append(e)

    watcher = threading.Thread(target=watch)
    watcher.start()
    run = launch(exe, ["--load-ms", "6000", "--seconds", "1", "first"], timeout=180)
    watcher.join()
    lines = log.read_text(encoding="utf-8").splitlines() if log.exists() else []
    assert not errors, "%s\n%s" % (errors, run.describe())
    assert run.returncode == 0, run.describe()
    for expected in ("  arg[4] = first", "splash: showing", "tray: shown", "window: shown",
                     "splash after the window: closed", "bye"):
        assert expected in lines, "no line %r in %s\n%s" % (expected, lines, run.describe())
    shot = shots[0]
    assert (shot.at(*FIELD_AT), shot.at(*BAND_AT)) == (pictures.FIELD, pictures.BAND), "no splash on the screen"
    assert icon_pixels(shot) >= 100, "no tray icon on the screen"
