"""The harness itself: a wait never outlasts its reason, and no run can hang the suite."""
import shutil
import time

import pytest


def test_expected_box_that_never_comes(wine, builds):
    # closebox as the program: it looks for a box that does not exist and ends at once.
    run = wine.run(builds.closebox(), ["--timeout-ms", "0", "--exe", "none.exe"], expect_box=True)
    assert run.box is None and run.returncode == 1, run.describe()
    assert "without a box" in run.box_output, run.describe()
    assert run.seconds < 10, "the wait went on after the program had ended\n" + run.describe()


def test_unexpected_box_fails_at_once(wine, builds, tmp_path, no_java_registry):
    exe = tmp_path / "stub.exe"
    shutil.copy2(builds.kvx("win32"), exe)
    started = time.monotonic()
    with pytest.raises(pytest.fail.Exception, match="message box no one expected"):
        wine.run(exe)
    assert time.monotonic() - started < 15


def test_program_past_its_time_is_stopped(wine, builds):
    started = time.monotonic()
    with pytest.raises(pytest.fail.Exception, match="did not end within 2 s"):
        wine.run(builds.closebox(), ["--timeout-ms", "600000", "--exe", "none.exe"], timeout=2)
    assert time.monotonic() - started < 8
