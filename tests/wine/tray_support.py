"""Java's tray calls as test JVM script lines (tests/testjvm/README.md), and the shell calls the
test JVM saw (KVX_TESTJVM_WATCH_SHELL: each record's icon as WxH#RRGGBB of its centre pixel).
The colours are those of the 16 x 16 images of tests/wine/tray/red.ico and blue.ico, which
also hold 24 and 32 pixel images of other colours."""

TRAY = "com/quorvane/kvx/SystemTray"
MENU = "com/quorvane/kvx/SystemTrayMenu"
CALLBACK = "app/Callback"
S = "Ljava/lang/String;"
FIVE = "(I%s%s%sI)V" % (S, S, S)
RED, BLUE = "16x16#dc1e1e", "16x16#1e1edc"
RED_RGB, BLUE_RGB = (0xdc, 0x1e, 0x1e), (0x1e, 0x1e, 0xdc)
# The launch environment that records the shell calls (and Wine's trace of them).
WATCH_SHELL = {"KVX_TESTJVM_WATCH_SHELL": "1", "WINEDEBUG": "-all,trace+msgbox,trace+systray"}


def arg(value):
    if value is None:
        return "null"
    if isinstance(value, int):
        return str(value)
    return '"%s"' % value.replace("\\", "\\\\").replace('"', '\\"')


def icon(var, resource, tip, info=None, title=None, kind=0):
    return ["main new %s %s" % (var, TRAY),
            "main native %s.init %s %s %s" % (TRAY, FIVE, var, " ".join(map(arg, (resource, tip, info, title, kind)))),
            "main get-field %s h" % var]


# The public methods that the Java class forwards to a private native of another name.
NATIVE_OF = {"Change": "nativeChange", "Show": "nativeShow", "Hide": "nativeHide"}


def call(var, method, *args, where="main"):
    sig = FIVE if method == "Change" else "()V"
    return "%s native %s.%s %s %s%s" % (where, TRAY, NATIVE_OF.get(method, method), sig, var,
                                        "".join(" " + arg(a) for a in args))


def set_callback(var, where="main"):
    return "%s native %s.nativeSetSystemTrayCallback (Lcom/quorvane/kvx/SystemTrayCallback;)V static %s" % (
        where, TRAY, var or "null")


def classes(mouse_routine=None):
    return ["class " + TRAY, "field h I",
            "class " + MENU, "field h I", "field popups Ljava/util/HashSet;",
            "class " + CALLBACK,
            "method OnMouseClick (L%s;I)V%s" % (TRAY, " runs " + mouse_routine if mouse_routine else ""),
            "method OnMenuCommand (I)V",
            "class app/Main"]


def shell_lines(launch):
    return [l for l in launch.lines if l.startswith("shell ")]
