"""Tray icons and popup menus: Java (played by the test JVM) calls the launcher's SystemTray
and SystemTrayMenu natives; the test JVM records every call the shell receives from the
launcher (KVX_TESTJVM_WATCH_SHELL, byte for byte) and Wine's own systray trace counts them.
Clicks are real: xdotool presses the mouse on the icons in Wine's "Wine System Tray" window
and on the popup menus, so the shell itself sends the notifications.

The launcher is kvx-trayicons.exe, built with icons 101 (red) and 102 (blue)."""
import re
import subprocess
import threading
import time

import pytest

from conftest import finish, outputs, spawn
from kvx_support import Screenshot
from tray_support import (BLUE, BLUE_RGB, CALLBACK, FIVE, MENU, RED, RED_RGB, S, TRAY, arg, call, classes, icon,
                          WATCH_SHELL, set_callback, shell_lines)
from vm_support import java_app, winpath  # noqa: F401  (java_app is a fixture)

SIZES = {"win32": (88, 488), "win64": (104, 504)}
ON_MOUSE = "call %s.OnMouseClick(L%s;I)V" % (CALLBACK, TRAY)
ON_COMMAND = "call %s.OnMenuCommand(I)V" % CALLBACK
WAIT_MS = 90000


def hexa(text, encoding="ascii"):
    return text.encode(encoding).hex() if text else "-"


def field(launch, var):
    found = launch.starting("field %s.h = " % var)
    assert found, launch.describe()
    return int(found[0])


def object_of(launch, var):
    found = launch.starting("new %s = " % var)
    assert found, launch.describe()
    return found[0]


def traced_messages(run):
    """Wine's in-process systray trace: the Shell_NotifyIcon message of every call, in order."""
    return [int(m.group(1)) for m in re.finditer(r"Shell_NotifyIconW dwMessage = (\d+)", run.stderr)]


def destroyed_refs(launch):
    found = [l for l in launch.lines if l.startswith("destroyed ")]
    assert found, launch.describe()
    return found[0]


def tray_stub(builds, arch):
    return builds.need(builds.dir(arch) / "tests" / "wine" / "tray" / "kvx-trayicons.exe",
                       "the %s tray test launcher" % arch)


def tray_app(java_app, builds, arch, extra=()):
    return java_app(arch, stub=tray_stub(builds, arch), extra=list(extra))


def launch(app, script, locale="en_US", timeout=180):
    return app.launch(script=script, locale=locale, timeout=timeout,
                      env=WATCH_SHELL)


# ---- the desktop: xdotool and posted messages ------------------------------------------

class Desktop:
    def __init__(self, wine, builds, log, shot_path):
        self.shot_path = shot_path
        self.wine = wine
        self.builds = builds
        self.log = log
        self.env = {"DISPLAY": wine.display, "PATH": "/usr/bin:/bin"}

    def xdotool(self, *args):
        try:
            done = subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True, text=True,
                                  timeout=30)
        except FileNotFoundError:
            pytest.fail("xdotool is not installed (run tools/bootstrap)", pytrace=False)
        return done.stdout

    def windows(self):
        """Visible windows: [(id, name, x, y, width, height)]."""
        found = []
        for wid in self.xdotool("search", "--onlyvisible", "--name", "").split():
            geometry = dict(re.findall(r"(\w+)=(-?\d+)", self.xdotool("getwindowgeometry", "--shell", wid)))
            if not geometry:
                continue
            found.append((wid, self.xdotool("getwindowname", wid).strip(), int(geometry["X"]), int(geometry["Y"]),
                          int(geometry["WIDTH"]), int(geometry["HEIGHT"])))
        return found

    def find_icon(self, rgb, seconds=30):
        """The centre of the 16 x 16 block of colour `rgb` inside the tray window, found on a
        screenshot: where the shell really drew that icon."""
        deadline = time.monotonic() + seconds
        shot = self.shot_path
        while time.monotonic() < deadline:
            trays = [w for w in self.windows() if w[1] == "Wine System Tray"]
            if trays:
                _, _, x0, y0, w, h = trays[0]
                screen = Screenshot(self.wine.display, shot)
                hits = [(x, y) for y in range(max(y0, 0), y0 + h) for x in range(max(x0, 0), x0 + w)
                        if screen.at(x, y) == rgb]
                if len(hits) >= 100:
                    xs, ys = [p[0] for p in hits], [p[1] for p in hits]
                    return (min(xs) + max(xs)) // 2, (min(ys) + max(ys)) // 2
            time.sleep(0.3)
        raise AssertionError("no icon of colour %s in the tray: %s" % (rgb, self.windows()))

    def click_icon(self, rgb, button):
        x, y = self.find_icon(rgb)
        self.xdotool("mousemove", x, y, "click", button)
        return x, y

    def lines(self):
        return self.log.read_text(encoding="utf-8").splitlines() if self.log.exists() else []

    def wait_for(self, predicate, what, seconds=40):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if predicate(self.lines()):
                return
            time.sleep(0.1)
        raise AssertionError("waited in vain for %s\nwindows: %s\n%s" % (what, self.windows(),
                                                                          "\n".join(self.lines()[-40:])))

    def count(self, prefix):
        return lambda lines: sum(1 for l in lines if l.startswith(prefix))

    def post(self, *triples):
        args = [str(v) for t in triples for v in t]
        proc = spawn(["wine", str(self.builds.need(self.builds.dir("win32") / "tests" / "postmsg.exe",
                                                   "the message-posting helper")), "KVXMESSAGE", *args],
                     self.wine.env())
        ended = finish(proc, 60)
        out, err = outputs(proc)
        assert ended and proc.returncode == 0, "postmsg failed\n%s%s" % (out, err)

    def popup_window(self, x, y, seconds=20):
        """The popup menu that opened at the pointer (x, y)."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            for w in self.windows():
                if (w[2], w[3]) == (x, y) and w[1] != "Wine System Tray":
                    return w
            time.sleep(0.1)
        raise AssertionError("no popup menu at (%d, %d): %s" % (x, y, self.windows()))


class Driver(threading.Thread):
    """Runs `body(desktop)` beside the launcher; then (even when it failed) creates the file on
    which the Java main waits, so the launch ends either way."""

    def __init__(self, desktop, go_file, body):
        super().__init__()
        self.desktop, self.go_file, self.body, self.error = desktop, go_file, body, None

    def run(self):
        try:
            self.body(self.desktop)
        except BaseException as e:  # reported by the test
            self.error = e
        finally:
            self.go_file.write_text("go")

    def check(self):
        self.join()
        if self.error:
            raise self.error


def shell(op, arch, cb, uid, icon_desc, tip, info=None, title=None, infoflags=None, encoding="ascii", flags=23):
    line = "shell %s cb=%d id=%d flags=%d msg=1124 owner=KVXMESSAGE icon=%s tip=%s" % (
        op, cb, uid, flags, icon_desc, hexa(tip, encoding))
    if cb == SIZES[arch][1]:
        line += " info=%s title=%s infoflags=%d" % (hexa(info, encoding), hexa(title, encoding), infoflags)
    return line


def check_ran(launch, global_refs):
    """main ran and returned, the machine went down with `global_refs` references still held
    (the shown icons' and the callback's: the launcher releases none of them after the machine)."""
    assert launch.run.returncode == 0, launch.describe()
    assert launch.run.traced_texts == [], launch.describe()
    assert launch.main_args is not None, launch.describe()
    assert destroyed_refs(launch) == "destroyed global-refs=%d pinned-strings=0" % global_refs, launch.describe()


# ---- tests ---------------------------------------------------------------------------------

@pytest.mark.parametrize("arch", ("win32", "win64"))
def test_icon_lifecycle_reaches_the_shell_as_it_should(java_app, builds, arch):
    small, big = SIZES[arch]
    app = tray_app(java_app, builds, arch)
    script = (classes()
              + icon("t1", 101, "first tip")
              + icon("t2", 102, "second", "balloon text", "balloon title", 1)
              + [call("t1", "Show"), call("t1", "Show"), call("t2", "Show"),
                 call("t1", "Change", 0, None, None, None, -1),
                 call("t2", "Change", 101, "changed", None, "new title", 2),
                 # The two-argument Change: a tooltip without the balloon, which must not pop again.
                 call("t2", "Change", 0, "changed", None, None, -1),
                 call("t2", "Hide"), call("t2", "Hide"),
                 call("t2", "Change", 102, "ignored", "x", "y", 3),
                 call("t2", "Show"), call("t2", "Hide"), call("t2", "finalize")]
              + icon("t3", 101, "third")
              + icon("t4", 102, "x" * 100) + [call("t4", "Show")]
              + icon("t5", 999, "no such icon") + [call("t5", "Show")]
              + icon("t6", 101, "", "", "", 0)
              # A finalized icon's handle and a forged one reach no record.
              + [call("t2", "Show"), call("t2", "Change", 101, "gone", None, None, 0), call("t2", "finalize"),
                 "main new forged " + TRAY, "main set-field forged h 77", call("forged", "Show"),
                 call("forged", "Hide"), call("forged", "finalize")]
              # Replacing the callback releases the previous one's reference (the count below).
              + ["main new cb1 " + CALLBACK, "main new cb2 " + CALLBACK, set_callback("cb1"), set_callback("cb2"),
                 set_callback(None)])
    result = launch(app, script)
    check_ran(result, 3)
    assert [field(result, v) for v in ("t1", "t2", "t3", "t4", "t5", "t6")] == [1, 2, 3, 4, 5, 6]
    after_change = dict(info="balloon text", title="new title", infoflags=2)
    expected = [
        shell("ADD", arch, small, 1, RED, "first tip"),
        shell("ADD", arch, big, 2, BLUE, "second", "balloon text", "balloon title", 1),
        shell("MODIFY", arch, small, 1, RED, "", flags=7),             # icon kept, tooltip cleared
        shell("MODIFY", arch, big, 2, RED, "changed", **after_change),  # balloon text kept
        shell("MODIFY", arch, big, 2, RED, "changed", flags=7, **after_change),  # no balloon, type kept
        shell("DELETE", arch, big, 2, RED, "changed", **after_change),
        shell("ADD", arch, big, 2, RED, "changed", **after_change),     # the hidden Change left nothing
        shell("DELETE", arch, big, 2, RED, "changed", **after_change),
        shell("ADD", arch, small, 4, BLUE, "x" * 63),
        shell("ADD", arch, small, 5, "none", "no such icon"),
        # at exit, after the machine: last created first
        shell("DELETE", arch, small, 5, "none", "no such icon"),
        shell("DELETE", arch, small, 4, BLUE, "x" * 63),
        shell("DELETE", arch, small, 1, RED, ""),
    ]
    assert shell_lines(result) == expected, result.describe()
    destroyed = result.lines.index(destroyed_refs(result))
    assert all(result.lines.index(l) > destroyed for l in expected[-3:]), result.describe()
    ops = {"ADD": 0, "MODIFY": 1, "DELETE": 2}
    assert traced_messages(result.run) == [ops[l.split()[1]] for l in expected], result.run.stderr[-3000:]


def test_icons_load_at_the_small_icon_size_of_the_screen(java_app, wine, builds):
    """At 96 DPI the small-icon size is 16 pixels, at 144 DPI 24: the shell gets the icon's
    image of that size (the fixtures' 24 and 32 pixel images have colours of their own)."""
    desktop = r"HKCU\Control Panel\Desktop"
    app = tray_app(java_app, builds, "win32")
    script = classes() + icon("t1", 101, "red") + icon("t2", 102, "blue") + [call("t1", "Show"), call("t2", "Show")]
    result = launch(app, script)
    check_ran(result, 2)
    assert [l.split(" icon=")[1].split()[0] for l in shell_lines(result)[:2]] == [RED, BLUE], result.describe()
    # The screen's DPI as winecfg sets it; the prefix's own value comes back afterwards.
    before = re.search(r"LogPixels\s+REG_DWORD\s+0x([0-9a-fA-F]+)",
                       wine.command(["reg", "query", desktop, "/v", "LogPixels"])[1])
    code, out, err = wine.command(["reg", "add", desktop, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f"])
    assert code == 0, out + err
    try:
        result = launch(app, script)
    finally:
        restore = (["add", desktop, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(int(before.group(1), 16)), "/f"]
                   if before else ["delete", desktop, "/v", "LogPixels", "/f"])
        code, out, err = wine.command(["reg"] + restore)
    assert code == 0, out + err
    check_ran(result, 2)
    assert [l.split(" icon=")[1].split()[0] for l in shell_lines(result)[:2]] == [
        "24x24#dc8c1e", "24x24#1e8cdc"], result.describe()


def test_texts_are_never_cut_inside_a_character(java_app, builds):
    app = tray_app(java_app, builds, "win32")
    han = "\u4e2d" * 40          # 80 bytes in code page 936
    mixed = "a" + "\u6587" * 40  # 81 bytes; 63 end exactly after a whole character
    info = "\u7ec6" * 200        # 400 bytes
    script = (classes() + icon("t1", 101, han, info, han, 1) + [call("t1", "Show")]
              + icon("t2", 102, mixed) + [call("t2", "Show")])
    result = launch(app, script, locale="zh_CN")
    check_ran(result, 2)
    lines = shell_lines(result)
    assert lines[0] == shell("ADD", "win32", 488, 1, RED, "\u4e2d" * 31, "\u7ec6" * 127, "\u4e2d" * 31, 1,
                             encoding="gbk"), result.describe()
    assert lines[1] == shell("ADD", "win32", 88, 2, BLUE, "a" + "\u6587" * 31, encoding="gbk"), result.describe()

    # A launcher whose manifest sets the UTF-8 code page: characters of 2 and 3 bytes, and
    # limits that fall inside one of them.
    app = tray_app(java_app, builds, "win32", extra=["--utf8"])
    tip, info, title = "a" + "\u20ac" * 30, "\u00e9" * 200, "ab" + "\u20ac" * 30
    result = launch(app, classes() + icon("t1", 101, tip, info, title, 2) + [call("t1", "Show")])
    check_ran(result, 1)
    assert shell_lines(result)[0] == shell("ADD", "win32", 488, 1, RED, "a" + "\u20ac" * 20, "\u00e9" * 127,
                                           "ab" + "\u20ac" * 20, 2, encoding="utf-8"), result.describe()


@pytest.mark.parametrize("arch", ("win32", "win64"))
def test_real_clicks_reach_the_callback_on_the_tray_thread(java_app, wine, builds, tmp_path, arch):
    app = tray_app(java_app, builds, arch)
    go1, go2 = tmp_path / "go1", tmp_path / "go2"
    script = (classes() + icon("t1", 101, "one") + icon("t2", 102, "two")
              + ["main new cb " + CALLBACK, set_callback("cb"), call("t1", "Show"), call("t2", "Show"),
                 "main waits-file %s %d" % (winpath(go1), WAIT_MS),
                 set_callback(None),
                 "main waits-file %s %d" % (winpath(go2), WAIT_MS)])

    def drive(desk):
        desk.wait_for(lambda ls: desk.count("native-return %s.nativeShow" % TRAY)(ls) == 2, "both icons shown")
        desk.click_icon(RED_RGB, 1)
        desk.wait_for(lambda ls: any(l.startswith(ON_MOUSE) and " 514 " in l for l in ls), "the left click")
        desk.click_icon(BLUE_RGB, 3)
        desk.wait_for(lambda ls: any(l.startswith(ON_MOUSE) and " 517 " in l for l in ls), "the right click")
        # Posted notifications: an id no icon has, and a button press of the first icon.
        desk.post((1124, 99, 514), (1124, 1, 519))
        desk.wait_for(lambda ls: any(l.startswith(ON_MOUSE) and " 519 " in l for l in ls), "the posted 519")
        go1.write_text("go")
        desk.wait_for(lambda ls: desk.count("native-return %s.nativeSetSystemTrayCallback" % TRAY)(ls) == 2,
                      "the callback cleared")
        desk.click_icon(RED_RGB, 1)
        # Sent, not posted: once postmsg returns, the window has handled it.
        desk.post(("send:1124", 1, 514))

    desktop = Desktop(wine, builds, app.jvm.log, tmp_path / "shot.ppm")
    driver = Driver(desktop, go2, drive)
    driver.start()
    result = launch(app, script)
    driver.check()
    check_ran(result, 2)
    t1, t2, cb = object_of(result, "t1"), object_of(result, "t2"), object_of(result, "cb")
    calls = [l for l in result.lines if l.startswith(ON_MOUSE)]
    events = [(l.split()[4], int(l.split()[5])) for l in calls]
    assert all(l.split()[3] == cb for l in calls), result.describe()
    assert (t1, 514) in events and (t1, 513) in events, result.describe()
    assert (t2, 517) in events and (t2, 516) in events, result.describe()
    assert (t1, 519) in events, result.describe()
    assert {o for o, _ in events} <= {t1, t2}, result.describe()  # the unknown id 99 called nothing
    assert {v for _, v in events} <= {512, 513, 514, 516, 517, 519}, result.describe()
    # Every delivery on a thread the runtime did not start, attached for that call only.
    threads = [l.rsplit("thread=", 1)[1] for l in calls]
    assert all(t.startswith("Thread-") for t in threads) and len(set(threads)) == len(threads), result.describe()
    # Nothing after the callback was cleared.
    cleared = max(i for i, l in enumerate(result.lines) if l.startswith("native-return %s.nativeSetSystemTrayCallback" % TRAY))
    assert not [l for l in result.lines[cleared:] if l.startswith(ON_MOUSE)], result.describe()


def test_icons_come_back_when_the_taskbar_is_created_again(java_app, wine, builds, tmp_path):
    """Explorer restarts: the shell lost every icon and broadcasts TaskbarCreated. Each shown
    icon comes back with its tooltip and without its balloon, hidden ones stay away; an add
    the shell refuses counts as not shown, so the next Show tries again. The tray window comes
    with the first icon: main runs without it."""
    app = tray_app(java_app, builds, "win32")
    go0, go1, go2 = tmp_path / "go0", tmp_path / "go1", tmp_path / "go2"
    script = (classes() + ["main waits-file %s %d" % (winpath(go0), WAIT_MS)]
              + icon("t1", 101, "one", "balloon", "title", 1) + icon("t2", 102, "two")
              + icon("t3", 101, "three") + icon("t4", 102, "four")
              + [call("t1", "Show"), call("t2", "Show"), call("t3", "Show"), call("t2", "Hide"),
                 "main waits-file %s %d" % (winpath(go1), WAIT_MS), call("t4", "Show"),
                 "main waits-file %s %d" % (winpath(go2), WAIT_MS), call("t4", "Show"), call("t4", "Show")])

    def drive(desk):
        desk.wait_for(desk.count("main app/Main"), "main")
        helper = str(builds.need(builds.dir("win32") / "tests" / "postmsg.exe", "the message-posting helper"))
        proc = spawn(["wine", helper, "KVXMESSAGE", "1124", "1", "512"], wine.env())
        assert finish(proc, 60), "postmsg hung"
        assert outputs(proc)[0].strip() == "no window of class KVXMESSAGE", outputs(proc)
        go0.write_text("go")
        desk.wait_for(desk.count("native-return %s.nativeHide" % TRAY), "three icons shown, one hidden")
        # The shell forgets the two shown icons and holds the place of the fourth (not shown
        # yet), then announces a new taskbar.
        desk.post(("shell-delete", 1, 0), ("shell-delete", 3, 0), ("shell-add", 4, 0), ("TaskbarCreated", 0, 0))
        desk.wait_for(lambda ls: desk.count("shell ADD")(ls) == 5, "the two icons added again")
        go1.write_text("go")
        desk.wait_for(lambda ls: desk.count("shell ADD")(ls) == 6, "the refused add of the fourth")
        desk.wait_for(lambda ls: desk.count("native-return %s.nativeShow" % TRAY)(ls) == 4, "the fourth Show")
        desk.post(("shell-delete", 4, 0))

    desktop = Desktop(wine, builds, app.jvm.log, tmp_path / "shot.ppm")
    driver = Driver(desktop, go2, drive)
    driver.start()
    result = launch(app, script)
    driver.check()
    check_ran(result, 3)  # t1, t3 and t4 shown at the end
    big, small = SIZES["win32"][1], SIZES["win32"][0]
    balloon = dict(info="balloon", title="title", infoflags=1)
    assert shell_lines(result) == [
        shell("ADD", "win32", big, 1, RED, "one", **balloon),
        shell("ADD", "win32", small, 2, BLUE, "two"),
        shell("ADD", "win32", small, 3, RED, "three"),
        shell("DELETE", "win32", small, 2, BLUE, "two"),
        shell("ADD", "win32", big, 1, RED, "one", flags=7, **balloon),  # no balloon again
        shell("ADD", "win32", small, 3, RED, "three", flags=7),
        shell("ADD", "win32", small, 4, BLUE, "four"),  # refused: the place is taken
        shell("ADD", "win32", small, 4, BLUE, "four"),  # the next Show tries again; the third does nothing
        shell("DELETE", "win32", small, 4, BLUE, "four"),
        shell("DELETE", "win32", small, 3, RED, "three"),
        shell("DELETE", "win32", big, 1, RED, "one", **balloon),
    ], result.describe()


def menu(var):
    return ["main new %s %s" % (var, MENU), "main new %s_set java/util/HashSet" % var,
            "main set-field %s popups %s_set" % (var, var), "main native %s.init ()V %s" % (MENU, var),
            "main get-field %s h" % var]


def append(var, text, item):
    if isinstance(item, int):
        return "main native %s.nativeAppendItem (%sI)V %s %s %d" % (MENU, S, var, arg(text), item)
    return "main native %s.nativeAppendSubmenu (%sL%s;)V %s %s %s" % (MENU, S, MENU, var, arg(text), item)


@pytest.mark.parametrize("arch", ("win32", "win64"))
def test_popup_menu_from_a_real_right_click(java_app, wine, builds, tmp_path, arch):
    app = tray_app(java_app, builds, arch)
    go = tmp_path / "go"
    items = [("Zero", 0), ("Thousand", 1000), ("Over", 1001), ("Minus", -1)]
    script = (classes(mouse_routine="popup") + icon("t1", 101, "menu") + menu("m")
              + [append("m", text, item) for text, item in items]
              + [append("m", "No submenu", "null")]  # adds nothing (the clicks below would miss)
              # A submenu appended to two parents, behind separators.
              + menu("other") + menu("third") + menu("sub") + [append("sub", "Inner", 7)]
              + ["main native %s.nativeAppendSeparator ()V other" % MENU, append("other", "More", "sub"),
                 append("third", "Also", "sub"), append("third", "Again", "sub")]
              + ["main new cb " + CALLBACK, set_callback("cb"), call("t1", "Show"),
                 "main waits-file %s %d" % (winpath(go), WAIT_MS),
                 # A parent's end leaves the submenu that another parent still holds usable.
                 "main native %s.finalize ()V other" % MENU, "main native %s.nativePopup ()V sub" % MENU,
                 # Popup from main and from another Java thread runs on the tray thread too.
                 "main start popper", "main join popper",
                 "main native %s.finalize ()V third" % MENU, "main native %s.finalize ()V sub" % MENU,
                 "routine popup", "step only-if-arg 1 517", "step native %s.nativePopup ()V m" % MENU,
                 "routine popper", "step native %s.nativePopup ()V sub" % MENU])
    popups = "native-return %s.nativePopup()V" % MENU

    def drive(desk):
        desk.go_file = go
        desk.wait_for(desk.count("native-return %s.nativeShow" % TRAY), "the icon shown")
        for round_, choice in enumerate(list(range(len(items))) + [None]):
            x, y = desk.click_icon(RED_RGB, 3)
            _, _, mx, my, mw, mh = desk.popup_window(x, y)
            if choice is None:
                # A notification while the menu is open is delivered inside the open callback;
                # then the menu is dismissed with a click beside it.
                desk.post((1124, 1, 600))
                desk.wait_for(lambda ls: any(l.startswith(ON_MOUSE) and " 600 " in l for l in ls), "a nested call")
                desk.xdotool("mousemove", 700, 600, "click", 1)
            else:
                desk.xdotool("mousemove", mx + mw // 2, my + (2 * choice + 1) * mh // (2 * len(items)), "click", 1)
            desk.wait_for(lambda ls: desk.count(popups)(ls) == round_ + 1, "Popup to return (round %d)" % round_)
        # Commands from elsewhere: below, above, with a high word, and one that counts.
        desk.post((273, 49999, 0), (273, 51001, 0), (273, 0x10000 + 50005, 0), (273, 50010, 0))
        desk.wait_for(lambda ls: any(l.startswith(ON_COMMAND) and " 10 " in l for l in ls), "the posted 50010")
        # The submenu, popped up by main after its parent `other` was finalized.
        desk.xdotool("mousemove", 300, 300)
        desk.go_file.write_text("go")
        x, y = 300, 300
        for n in (1, 2):  # from main, then from the thread `popper`, where the pointer is
            _, _, mx, my, mw, mh = desk.popup_window(x, y)
            x, y = mx + mw // 2, my + mh // 2
            desk.xdotool("mousemove", x, y, "click", 1)
            desk.wait_for(lambda ls: sum(1 for l in ls if l.startswith(ON_COMMAND) and " 7 " in l) == n,
                          "Inner chosen (%d)" % n)

    desktop = Desktop(wine, builds, app.jvm.log, tmp_path / "shot.ppm")
    driver = Driver(desktop, go, drive)
    driver.start()
    result = launch(app, script)
    driver.check()
    check_ran(result, 2)  # the shown icon and the callback
    commands = [int(l.split()[4]) for l in result.lines if l.startswith(ON_COMMAND)]
    assert commands == [0, 1000, 10, 7, 7], result.describe()  # 1001, -1, dismissal and strays: nothing
    assert all(l.rsplit("thread=", 1)[1].startswith("Thread-")
               for l in result.lines if l.startswith(ON_COMMAND)), result.describe()
    # Popup ran inside OnMouseClick, on the tray thread, only for the button release.
    pops = [l for l in result.lines if l.startswith(popups)]
    assert len(pops) == 7 and all("thread=Thread-" in l for l in pops[:5]), result.describe()
    assert pops[5].endswith("thread=main") and pops[6].endswith("thread=popper"), result.describe()
    # Every menu ran on the thread of its owner, the tray window, whoever called Popup.
    assert [l for l in result.lines if l.startswith("menu-track ")] == \
        ["menu-track owner=KVXMESSAGE same-thread=1"] * 7, result.describe()
    # The notification that came while the menu was open ran inside that callback, on the same
    # attachment of the tray thread, which stayed attached until the outer callback ended.
    nested = next(i for i, l in enumerate(result.lines) if l.startswith(ON_MOUSE) and " 600 " in l)
    opened = max(i for i, l in enumerate(result.lines[:nested]) if l.startswith("native-call %s.nativePopup" % MENU))
    thread = result.lines[opened].rsplit("thread=", 1)[1]
    assert result.lines[nested].endswith("thread=" + thread), result.describe()
    assert "detach" not in result.lines[opened:nested + 1], result.describe()
    sub, other_set, third_set = object_of(result, "sub"), object_of(result, "other_set"), object_of(result, "third_set")
    assert result.has("hashset-add %s %s added" % (other_set, sub)), result.describe()
    assert result.has("hashset-add %s %s added" % (third_set, sub)), result.describe()
    assert result.has("hashset-add %s %s present" % (third_set, sub)), result.describe()  # held once
    assert [field(result, v) != 0 for v in ("m", "other", "third", "sub")] == [True] * 4, result.describe()


def test_threads_notifications_and_callbacks_at_once(java_app, wine, builds, tmp_path):
    app = tray_app(java_app, builds, "win32")
    rounds = 300
    script = classes(mouse_routine="touch") + icon("t1", 101, "first") + ["main new cb " + CALLBACK]
    for n in (2, 3, 4):
        script += icon("t%d" % n, 102, "worker %d" % n)
    script += [set_callback("cb"), call("t1", "Show")]
    script += ["main start work%d" % n for n in (2, 3, 4)] + ["main start churn"]
    script += ["main join work%d" % n for n in (2, 3, 4)] + ["main join churn"]
    script += ["main waits-file %s %d" % (winpath(tmp_path / "go"), WAIT_MS),
               set_callback(None), call("t1", "Hide")]
    for n in (2, 3, 4):
        script.append("routine work%d" % n)
        for i in range(rounds):
            script += [call("t%d" % n, "Show", where="step"),
                       call("t%d" % n, "Change", 102 if i % 2 else 101, "round %d" % i, None, None, -1, where="step"),
                       call("t%d" % n, "Hide", where="step")]
    script += ["routine touch", call("t1", "Change", 0, "touched", None, None, -1, where="step")]
    # Icons made and finalized while notifications for their ids arrive (ids 5 to 304).
    script.append("routine churn")
    for i in range(rounds):
        script += ["step new c " + TRAY,
                   "step native %s.init %s c 101 \"churn\" null null 0" % (TRAY, FIVE),
                   call("c", "finalize", where="step")]

    def drive(desk):
        desk.wait_for(lambda ls: any(l.startswith("thread-start work") for l in ls), "the workers")
        for _ in range(6):
            desk.post(*[(1124, 1 + i % 310, 512 + i % 10) for i in range(400)])
        desk.wait_for(lambda ls: sum(1 for l in ls if l.startswith("joined ")) == 4, "the workers' end", 300)
        # The queue drains: the last notification posted now arrives last.
        desk.post((1124, 1, 777))
        desk.wait_for(lambda ls: any(l.startswith(ON_MOUSE) and " 777 " in l for l in ls), "the last notification", 120)

    desktop = Desktop(wine, builds, app.jvm.log, tmp_path / "shot.ppm")
    driver = Driver(desktop, tmp_path / "go", drive)
    driver.start()
    result = launch(app, script, timeout=600)
    driver.check()
    check_ran(result, 0)  # every icon hidden, the callback cleared: nothing left over
    delivered = [(l.split()[4], int(l.split()[5])) for l in result.lines if l.startswith(ON_MOUSE)]
    # Only shown icons' notifications reach Java, each with its own object: the first icon's
    # every time (ids 1 + i % 310 with 512 + i % 10: twice a batch, always 512), the workers'
    # while shown; churned icons (never shown) and unknown ids never.
    t1, t2, t3, t4 = (object_of(result, "t%d" % n) for n in (1, 2, 3, 4))
    assert delivered.count((t1, 512)) == 12 and delivered.count((t1, 777)) == 1, delivered
    assert set(delivered) <= {(t1, 512), (t1, 777), (t2, 513), (t3, 514), (t4, 515)}, delivered
    assert all(delivered.count(pair) <= 12 for pair in ((t2, 513), (t3, 514), (t4, 515))), delivered
    # Each delivery with an attach and a detach of its own (the one more detach is the main
    # thread's before the machine goes); the attach count includes notifications that found
    # no record.
    assert result.lines.count("attach") == result.lines.count("detach") - 1 >= len(delivered)
    for n in (2, 3, 4):
        ops = [l.split()[1] for l in shell_lines(result) if " id=%d " % n in l]
        assert ops == ["ADD", "MODIFY", "DELETE"] * rounds, "icon %d: %s" % (n, ops[:12])


def test_notifications_queued_at_exit_are_dropped_safely(java_app, wine, builds, tmp_path):
    """Thousands of notifications are still queued when main returns: the launcher destroys the
    machine, frees the runtime and removes the icon while the tray thread works through them."""
    app = tray_app(java_app, builds, "win32")
    go = tmp_path / "go"
    # As on HotSpot, a thread that attaches while the runtime's last phase runs never returns.
    script = (["attach-delay 5", "final-phase 200"] + classes() + icon("t1", 101, "exit")
              + ["main new cb " + CALLBACK, set_callback("cb"), call("t1", "Show"),
                 "main waits-file %s %d" % (winpath(go), WAIT_MS)])

    posters = []

    def drive(desk):
        desk.wait_for(desk.count("native-return %s.nativeShow" % TRAY), "the icon shown")
        desk.post(*[(1124, 1, 512)] * 1000)
        # Still posting while main returns and the launcher tears down.
        helper = str(builds.need(builds.dir("win32") / "tests" / "postmsg.exe", "the message-posting helper"))
        for _ in range(8):
            posters.append(spawn(["wine", helper, "KVXMESSAGE"] + ["1124", "1", "513"] * 1000, wine.env()))
        desk.wait_for(lambda ls: any(l.startswith(ON_MOUSE) and " 513 " in l for l in ls), "the posters at work", 120)

    desktop = Desktop(wine, builds, app.jvm.log, tmp_path / "shot.ppm")
    driver = Driver(desktop, go, drive)
    driver.start()
    # Without the shell watch, which would keep the runtime library loaded to the end.
    result = app.launch(script=script, timeout=180, env={"WINEDEBUG": "-all,trace+msgbox,trace+systray"})
    driver.check()
    for proc in posters:
        assert finish(proc, 60), "a poster hung"
        out, err = outputs(proc)
        # All posted while the window lived, or some lost when it went: never anything else.
        assert re.match(r"(posted \d+|no window of class KVXMESSAGE)\s*$", out), out + err
    check_ran(result, 2)
    assert result.run.returncode == 0 and "Unhandled" not in result.run.stderr, result.describe()
    # A delivery blocked in the ending runtime: the launcher went on without it and left the
    # runtime's code mapped for it.
    assert "halted AttachCurrentThread" in result.lines, result.describe()
    assert "unload" not in result.lines, result.describe()
    assert traced_messages(result.run) == [0, 2], result.run.stderr[-2000:]  # added, removed at exit


def test_system_exit_still_removes_the_icons(java_app, wine, builds, tmp_path):
    """Java ends the process itself, from main and from a mouse callback on the tray thread: the
    runtime exits through its own C library, past the entry point's clean-up, yet the icons
    leave the notification area (last created first) and the exit code is Java's. From the
    callback nothing may wait for the delivery that called System.exit."""
    # A JDK 25 runtime without its own archive, with class-data sharing: the exit hook also
    # dumps the static archive (here an empty java.exe that cannot start), which must come
    # after the icons are gone.
    app = java_app("win32", stub=tray_stub(builds, "win32"), extra=["--cds"])
    (app.jvm.home / "release").write_text('JAVA_VERSION="25.0.1"\n')
    (app.jvm.home / "bin" / "java.exe").write_bytes(b"")
    # Notifications keep coming while main calls System.exit; a runtime that ends blocks the
    # tray thread at its next JNI call, and the exit hook must still get through.
    go = tmp_path / "go-exit"
    script = (["dumps-archive", "slow-call NewGlobalRef 50"] + classes() + icon("t1", 101, "one") + icon("t2", 102, "two")
              + ["main new cb " + CALLBACK, set_callback("cb"), call("t1", "Show"), call("t2", "Show"),
                 "main waits-file %s %d" % (winpath(go), WAIT_MS), "main exit 4"])

    def flood(desk):
        desk.wait_for(lambda ls: desk.count("native-return %s.nativeShow" % TRAY)(ls) == 2, "both icons shown")
        desk.post(*[(1124, 1, 512)] * 300)
        desk.wait_for(desk.count(ON_MOUSE), "the first delivery")

    driver = Driver(Desktop(wine, builds, app.jvm.log, tmp_path / "shot.ppm"), go, flood)
    driver.start()
    result = app.launch(script=script, timeout=180,
                        env=dict(WATCH_SHELL, WINEDEBUG="-all,trace+msgbox,trace+systray,trace+process"))
    driver.check()
    assert result.run.returncode == 4, result.describe()
    # A delivery was under way when the runtime began to end (its next JNI call never returns).
    ended = result.lines.index("exit 4")
    assert result.lines[:ended].count("attach") > result.lines[:ended].count("detach"), result.describe()
    assert [l.split()[1] + " " + l.split()[3] for l in shell_lines(result)] == [
        "ADD id=1", "ADD id=2", "DELETE id=2", "DELETE id=1"], result.describe()
    assert traced_messages(result.run) == [0, 0, 2, 2], result.run.stderr[-2000:]
    assert result.lines.index("runtime-exit 4") < result.lines.index(shell_lines(result)[2]), result.describe()
    assembly = result.run.stderr.find("java.exe")
    removed = result.run.stderr.rfind("Shell_NotifyIconW dwMessage = 2")
    assert 0 <= removed < assembly, result.run.stderr[-3000:]

    go = tmp_path / "go"
    script = (classes(mouse_routine="quit") + icon("t1", 101, "quit")
              + ["main new cb " + CALLBACK, set_callback("cb"), call("t1", "Show"),
                 "main waits-file %s %d" % (winpath(go), WAIT_MS),
                 "routine quit", "step exit 5"])

    def drive(desk):
        desk.wait_for(desk.count("native-return %s.nativeShow" % TRAY), "the icon shown")
        # A real click. The subject here is the exit from the callback, not the delivery
        # (the tests above cover that), so a click lost under a loaded desktop is repeated.
        for attempt in range(3):
            desk.click_icon(RED_RGB, 1)
            try:
                desk.wait_for(desk.count("exit 5"), "System.exit in the callback", seconds=15)
                return
            except AssertionError:
                if attempt == 2:
                    raise

    desktop = Desktop(wine, builds, app.jvm.log, tmp_path / "shot.ppm")
    driver = Driver(desktop, go, drive)
    driver.start()
    result = launch(app, script, timeout=120)
    driver.check()
    assert result.run.returncode == 5, result.describe()
    assert any(l.startswith(ON_MOUSE) for l in result.lines), result.describe()
    assert traced_messages(result.run) == [0, 2], result.run.stderr[-2000:]
