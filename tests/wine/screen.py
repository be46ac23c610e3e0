"""What the Xvfb screen shows: screenshots (ImageMagick `import`, read as binary PPM), taken
the moment the test JVM's log reaches a line, and pixel checks of the 400 x 300 test picture
(tests/wine/stubs/make_pictures.py) centred on the 1024 x 768 screen."""
import threading
import time

from kvx_support import Screenshot  # noqa: F401  (one screenshot maker for every suite)

RED, GREEN, BLUE = (255, 0, 0), (0, 255, 0), (0, 0, 255)


def wait_for_line(log, prefix, seconds=40):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if log.exists() and any(l.startswith(prefix) for l in log.read_text(encoding="utf-8").splitlines()):
            return True
        time.sleep(0.05)
    return False


def shoot_when(log, prefix, display, path, holder):
    """In a thread: a screenshot as soon as the log has a line starting with `prefix`."""
    def run():
        if not wait_for_line(log, prefix):
            holder.append("the log never had a line starting with %r" % prefix)
            return
        try:
            holder.append(Screenshot(display, path))
        except BaseException as e:  # reported by the test, not lost in the thread
            holder.append("screenshot failed: %r" % e)

    thread = threading.Thread(target=run)
    thread.start()
    return thread


def check_pixels(shot, expected):
    wrong = ["(%d, %d) is %s, expected %s" % (x, y, shot.at(x, y), colour) for (x, y), colour in expected.items()
             if shot.at(x, y) != colour]
    assert not wrong, "\n".join(wrong)


def check_centred_picture(shots):
    """The one screenshot in `shots` shows the 400 x 300 picture at (312, 234)-(711, 533), upright
    and not mirrored, and nothing of it beyond."""
    assert shots and isinstance(shots[0], Screenshot), "no screenshot: %s" % shots
    shot = shots[0]
    assert (shot.width, shot.height) == (1024, 768)
    check_pixels(shot, {
        (312, 234): RED, (711, 234): RED, (512, 300): RED,       # the top band at the top
        (312, 533): GREEN, (511, 533): GREEN, (400, 400): GREEN,  # green at the bottom left
        (512, 533): BLUE, (711, 533): BLUE, (650, 400): BLUE,     # blue at the bottom right
    })
    outside = [shot.at(x, y) for x, y in ((311, 234), (312, 233), (712, 533), (711, 534))]
    assert not set(outside) & {RED, GREEN, BLUE}, "the picture reaches beyond (312, 234)-(711, 533): %s" % outside
