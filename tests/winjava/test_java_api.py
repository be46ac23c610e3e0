"""The Java API (com.quorvane.kvx) from a real runtime: the classes System.load the executable
and reach its natives by their exported names; the splash and the tray act on the screen."""
import re
import subprocess
import threading
import time
import zipfile

import pytest

from conftest import JDK, ROOT, wine_module, winpath

screen = wine_module("screen")
API_JAR = ROOT / "build" / "java" / "kvx-runtime.jar"
RED_ICON = ROOT / "tests" / "wine" / "tray" / "red.ico"
RED_RGB = (0xdc, 0x1e, 0x1e)


def jni_name(cls, method):
    def mangle(text):
        out = []
        for c in text:
            if c == "/":
                out.append("_")
            elif c == "_":
                out.append("_1")
            elif c.isascii() and c.isalnum():
                out.append(c)
            else:
                out.append("_0%04x" % ord(c))
        return "".join(out)
    return "Java_%s_%s" % (mangle(cls), mangle(method))


def test_every_native_of_the_api_is_exported_by_its_jni_name(builds):
    """The names real Java looks up (the short JNI names: no method of the API is overloaded
    natively but Change and Append, which have their long forms checked by the runs below)."""
    with zipfile.ZipFile(API_JAR) as jar:
        classes = [n[:-6] for n in jar.namelist() if n.endswith(".class") and "$" not in n]
    javap = subprocess.run([str(JDK / "bin" / "javap"), "-cp", str(API_JAR), "-p", *classes], capture_output=True,
                           text=True, timeout=120, check=True).stdout
    wanted, current = set(), None
    for line in javap.splitlines():
        header = re.match(r".*\b(?:class|interface) (com\.quorvane\.kvx\.\w+)", line)
        if header:
            current = header.group(1).replace(".", "/")
        method = re.search(r"\bnative\b.*?(\w+)\(", line)
        if method and current:
            wanted.add(jni_name(current, method.group(1)))
    assert len(wanted) >= 12, javap
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(builds.kvx("win64"))], capture_output=True,
                          text=True, timeout=60)
    assert dump.returncode == 0, dump.stderr
    exported = set(re.findall(r"\]\s+(Java_\w+)", dump.stdout))
    missing = sorted(n for n in wanted if n not in exported and not any(e.startswith(n + "__") for e in exported))
    assert not missing, "not exported: %s\nexported: %s" % (missing, sorted(exported))


def test_splash_object_while_it_shows_and_close_hides_it(pack, launch, wine, runtime, tmp_path, pictures):
    log = tmp_path / "splash.log"
    exe = pack("splash.exe", jvmdll=winpath(runtime("jdk21").jvm_dll), jre_order="c", splash=pictures / "picture.bmp",
               property="probe.log=" + winpath(log))
    shown, closed = [], []
    first = screen.shoot_when(log, "splash.shown=", wine.display, tmp_path / "shown.ppm", shown)
    second = screen.shoot_when(log, "splash.closed=", wine.display, tmp_path / "closed.ppm", closed)
    run = launch(exe, ["splash"])
    first.join()
    second.join()
    f = run.fields
    assert run.returncode == 0 and run.stderr == "", run.describe()
    assert (f.get("splash.got"), f.get("splash.after.close")) == ("true", "false"), run.describe()
    screen.check_centred_picture(shown)
    assert closed and isinstance(closed[0], screen.Screenshot), closed
    left = [xy for xy in ((512, 300), (400, 400), (650, 400)) if closed[0].at(*xy) in (screen.RED, screen.GREEN,
                                                                                      screen.BLUE)]
    assert not left, "the picture is still on the screen after close() at %s" % left


# ---- the tray: real clicks with xdotool on Wine's notification area ------------------------
class Desktop:
    def __init__(self, wine, log, shot):
        self.wine, self.log, self.shot = wine, log, shot
        self.env = {"DISPLAY": wine.display, "PATH": "/usr/bin:/bin"}

    def xdotool(self, *args):
        try:
            return subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True, text=True,
                                  timeout=30).stdout
        except FileNotFoundError:
            pytest.fail("xdotool is not installed (run tools/bootstrap)", pytrace=False)

    def windows(self):
        found = []
        for wid in self.xdotool("search", "--onlyvisible", "--name", "").split():
            g = dict(re.findall(r"(\w+)=(-?\d+)", self.xdotool("getwindowgeometry", "--shell", wid)))
            if g:
                found.append((self.xdotool("getwindowname", wid).strip(), int(g["X"]), int(g["Y"]), int(g["WIDTH"]),
                              int(g["HEIGHT"])))
        return found

    def icon_centre(self, seconds=30):
        """Where the shell drew the red icon inside its tray window."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            for name, x0, y0, w, h in self.windows():
                if name != "Wine System Tray":
                    continue
                shot = screen.Screenshot(self.wine.display, self.shot)
                hits = [(x, y) for y in range(max(y0, 0), y0 + h) for x in range(max(x0, 0), x0 + w)
                        if shot.at(x, y) == RED_RGB]
                if len(hits) >= 100:
                    return (min(p[0] for p in hits) + max(p[0] for p in hits)) // 2, \
                           (min(p[1] for p in hits) + max(p[1] for p in hits)) // 2
            time.sleep(0.3)
        raise AssertionError("no red icon in the tray: %s" % self.windows())

    def lines(self):
        return self.log.read_text(encoding="utf-8").splitlines() if self.log.exists() else []

    def wait_for(self, prefix, count=1, seconds=40):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if sum(1 for l in self.lines() if l.startswith(prefix)) >= count:
                return True
            time.sleep(0.1)
        return False

    def click(self, button, prefix, count):
        """Clicks the icon until `prefix` has been logged `count` times (a loaded desktop may
        lose a click); the icon's position."""
        for _ in range(3):
            x, y = self.icon_centre()
            self.xdotool("mousemove", x, y, "click", button)
            if self.wait_for(prefix, count, seconds=15):
                return x, y
        raise AssertionError("no %r after three clicks\n%s" % (prefix, "\n".join(self.lines())))

    def menu_item(self, x, y, where):
        """Clicks the popup menu that opened at (x, y): its first or its last item."""
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            for name, mx, my, mw, mh in self.windows():
                if (mx, my) == (x, y) and name != "Wine System Tray":
                    self.xdotool("mousemove", mx + mw // 2, my + 8 if where == "first" else my + mh - 8, "click", 1)
                    return
            time.sleep(0.1)
        raise AssertionError("no popup menu at (%d, %d): %s" % (x, y, self.windows()))


def test_tray_click_menu_and_exit_from_a_menu_item(pack, launch, wine, runtime, tmp_path):
    log = tmp_path / "tray.log"
    exe = pack("tray.exe", jvmdll=winpath(runtime("jdk21").jvm_dll), jre_order="c", tray_icon="1=%s" % RED_ICON,
               property="probe.log=" + winpath(log))
    desk = Desktop(wine, log, tmp_path / "shot.ppm")
    errors = []

    def drive():
        try:
            assert desk.wait_for("tray.shown=", seconds=90), "the icon was never shown\n" + "\n".join(desk.lines())
            desk.click(1, "click=514 ", 1)
            x, y = desk.click(3, "click=517 ", 1)
            desk.menu_item(x, y, "first")
            assert desk.wait_for("popup.closed=", 1), "\n".join(desk.lines())
            x, y = desk.click(3, "click=517 ", 2)
            desk.menu_item(x, y, "last")
        except BaseException as e:  # reported by the test
            errors.append(e)

    driver = threading.Thread(target=drive)
    driver.start()
    run = launch(exe, ["tray"], timeout=180, debug="-all,trace+msgbox,trace+systray")
    driver.join()
    if errors:
        raise AssertionError("%s\n%s" % (errors[0], run.describe()))
    lines = desk.lines()
    # The callbacks ran on the tray's own thread, the first command reached OnMenuCommand and
    # the second's System.exit ended the process with its code.
    assert run.returncode == 9, run.describe()
    clicks = [l for l in lines if l.startswith("click=")]
    assert clicks and all(l.split(" ", 1)[1] != "main" for l in clicks), lines
    assert [l for l in lines if l.startswith("menu=")] == ["menu=11", "menu=12"], lines
    # Shown (NIM_ADD) and removed (NIM_DELETE) though Java ended the process itself.
    messages = [int(m) for m in re.findall(r"Shell_NotifyIconW dwMessage = (\d+)", run.run.stderr)]
    assert messages[:1] == [0] and messages[-1:] == [2], (messages, run.describe())
