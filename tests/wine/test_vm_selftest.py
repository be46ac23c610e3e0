"""The test JVM's own self-test: the stand-in runtime behaves as the other tests assume."""
import re

import pytest

from vm_support import stand_in_file


@pytest.mark.parametrize("arch", ["win32", "win64"])
def test_testjvm_selftest(wine, builds, arch):
    exe = stand_in_file(builds, arch, "driver", "testjvm_selftest.exe")
    code, out, err = wine.command([exe], timeout=180)
    summary = re.search(r"^(\d+) passed, (\d+) failed\r?$", out, re.M)
    assert code == 0 and summary and summary.group(2) == "0" and int(summary.group(1)) > 100, out + err
