"""An executable installed in a folder whose name the ANSI code page cannot hold (code page
1252 has no "Ω") still reads itself and starts Java, through the folder's short name."""
import pytest

from vm_support import java_app, winpath  # noqa: F401  (java_app is a fixture)

ARCHES = ("win32", "win64")


@pytest.mark.parametrize("arch", ARCHES)
def test_folder_outside_the_code_page(java_app, arch):
    name = "app-%s.exe" % arch
    app = java_app(arch, out_name="\u03a9mega/" + name, options=("-Dembedded=1",))
    (app.dir / ("app-%s.cfg" % arch)).write_bytes(b"option -Dside=1\r\n")
    launch = app.launch(["x"], script=["class app/Main"])
    launch.check_success()
    assert launch.main_args == ["x"], launch.describe()
    # The side file beside the executable and the embedded text were both read.
    assert launch.options[:2] == ["-Dside=1", "-Dembedded=1"], launch.describe()
    path = launch.option("-Dkvx.app.path=")
    # ANSI text that names the file: the folder's short form and the file's own name.
    assert path.encode("cp1252") and "?" not in path, launch.describe()
    assert path != winpath(app.exe) and path.endswith("\\" + name), launch.describe()
    assert launch.option("-Dapplication.home=") == path[:-len(name)], launch.describe()
    assert launch.option("-Djava.class.path=").split(";")[0] == path, launch.describe()


def test_folder_inside_the_code_page_keeps_its_long_name(java_app):
    app = java_app(out_name="\u00e9t\u00e9 long folder/app.exe")
    launch = app.launch(script=["class app/Main"])
    launch.check_success()
    assert launch.option("-Dkvx.app.path=") == winpath(app.exe), launch.describe()
