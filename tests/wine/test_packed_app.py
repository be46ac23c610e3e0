"""One application packed the way a user packs it: the shipped launcher with an application
icon, a tray icon under an id of the packer's command line, a splash picture and a version
record. Under Wine with the test JVM its splash shows centred and upright while main runs, the
tray icon Java asks for by that id reaches the shell with the packed pixels, and
`kvxpack --inspect` lists what was put in."""
import sys

import pytest

from conftest import ROOT
from kvx_support import ico_file, icon_image, inspect_exe
from screen import check_centred_picture, shoot_when
from tray_support import BLUE_RGB, RED, RED_RGB, TRAY, WATCH_SHELL, call, classes, icon, shell_lines
from vm_support import java_app  # noqa: F401  (java_app is a fixture)

sys.path.insert(0, str(ROOT / "tests" / "wine" / "stubs"))
import make_pictures  # noqa: E402

ARCHES = ("win32", "win64")
TRAY_ID = 42
SPLASH = "com/quorvane/kvx/SplashScreen"
GET = "main native s = %s.nativeGetSplashScreen ()L%s; static" % (SPLASH, SPLASH)
GET_RETURNED = "native-return %s.nativeGetSplashScreen()L%s; = " % (SPLASH, SPLASH)
VERSION = ("FileVersion=3.1.4.1", "ProductName=Packed App", "CompanyName=Quorvane")


def packed_app(java_app, tmp_path, arch):
    # The tray icon's 16 x 16 image is red, its larger ones and the application icon blue: the
    # colour the shell receives tells which image of which icon loaded.
    picture = tmp_path / "splash.bmp"
    picture.write_bytes(make_pictures.bmp(400, 300))
    tray = tmp_path / "tray.ico"
    tray.write_bytes(ico_file([(32, icon_image(32, rgb=BLUE_RGB), 32), (48, icon_image(48, rgb=BLUE_RGB), 32),
                               (16, icon_image(16, rgb=RED_RGB), 32)]))
    extra = ["--icon", str(ROOT / "tests" / "wine" / "tray" / "blue.ico"), "--tray-icon", "%d=%s" % (TRAY_ID, tray),
             "--splash", str(picture)]
    for value in VERSION:
        extra += ["--version", value]
    return java_app(arch, extra=extra)


@pytest.mark.parametrize("arch", ARCHES)
def test_splash_and_tray_icon_of_a_packed_launcher(java_app, wine, tmp_path, arch):
    app = packed_app(java_app, tmp_path, arch)
    # main shows the tray icon by the packed id, takes the splash and keeps running while the
    # screen is shot.
    script = (["class " + SPLASH] + classes() + icon("t", TRAY_ID, "packed") + [call("t", "Show")]
              + [GET, "main sleeps 3000"])
    shots = []
    shooter = shoot_when(app.jvm.log, GET_RETURNED, wine.display, tmp_path / "shot.ppm", shots)
    launch = app.launch(script=script, env=WATCH_SHELL, timeout=120)
    shooter.join()
    assert launch.run.returncode == 0 and launch.run.traced_texts == [], launch.describe()
    assert launch.main_args is not None, launch.describe()
    assert any(l.startswith(GET_RETURNED + SPLASH + "#") for l in launch.lines), launch.describe()
    check_centred_picture(shots)
    assert launch.has("native-return %s.nativeShow()V = void thread=main" % TRAY), launch.describe()
    shell = [l.split()[1:3] + [l.split(" icon=")[1].split()[0]] for l in shell_lines(launch)]
    # Added with the packed icon's red 16 x 16 image, removed at exit (id 1: Java's first icon).
    size = "cb=%d" % (88 if arch == "win32" else 104)
    assert shell == [["ADD", size, RED], ["DELETE", size, RED]], launch.describe()
    assert all(" id=1 " in l for l in shell_lines(launch)), launch.describe()


def test_a_top_down_picture_shows_upright(java_app, wine, tmp_path):
    picture = tmp_path / "top-down.bmp"
    picture.write_bytes(make_pictures.bmp(400, 300, top_down=True))
    app = java_app("win32", extra=["--splash", str(picture)])
    shots = []
    shooter = shoot_when(app.jvm.log, GET_RETURNED, wine.display, tmp_path / "shot.ppm", shots)
    launch = app.launch(script=["class " + SPLASH, "class app/Main", GET, "main sleeps 3000"], timeout=120)
    shooter.join()
    launch.check_success()
    check_centred_picture(shots)


def test_an_id_that_was_not_packed_gives_the_shell_no_icon(java_app, wine, tmp_path):
    app = packed_app(java_app, tmp_path, "win32")
    script = classes() + icon("t", TRAY_ID + 1, "absent") + [call("t", "Show")]
    launch = app.launch(script=script, env=WATCH_SHELL, timeout=120)
    assert launch.run.returncode == 0 and launch.main_args is not None, launch.describe()
    assert [l.split(" icon=")[1].split()[0] for l in shell_lines(launch)] == ["none", "none"], launch.describe()


@pytest.mark.parametrize("arch", ARCHES)
def test_inspect_lists_the_packed_resources(java_app, builds, tmp_path, arch):
    app = packed_app(java_app, tmp_path, arch)
    report = inspect_exe(builds.kvxpack(), app.exe)
    for expected in ("launcher: %s, GUI" % ("x86" if arch == "win32" else "x64"),
                     "icon group APPICON: 32x32 16x16 24x24", "icon group %d: 32x32 48x48 16x16" % TRAY_ID,
                     "bitmap 100: 400x300, 24 bits per pixel", "version record: 3.1.4.1",
                     "ProductName = Packed App", "CompanyName = Quorvane", "main class: app.Main"):
        assert expected in report.lines, "no line %r in:\n%s" % (expected, report.text)
