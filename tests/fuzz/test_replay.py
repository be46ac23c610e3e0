"""Every fuzz target's seed corpus replays cleanly through the target's entry point (the
host build's <target>_replay: a plain driver with AddressSanitizer and UBSan). Targets are
found from their sources, so a new target is replayed without any edit here."""
import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
HERE = Path(__file__).resolve().parent
TARGETS = sorted(p.stem for p in HERE.glob("*.cpp"))


def test_there_are_targets():
    assert TARGETS, "no fuzz targets in tests/fuzz"


@pytest.mark.parametrize("target", TARGETS)
def test_seed_corpus_replays(target):
    binary = ROOT / "build" / "host" / "tests" / "fuzz" / (target + "_replay")
    assert binary.is_file(), "%s was not built (make host)" % binary
    corpus = HERE / "corpus" / target
    seeds = sorted(p for p in corpus.glob("*") if p.is_file()) if corpus.is_dir() else []
    assert seeds, "%s has no seed corpus in %s" % (target, corpus)
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=1:abort_on_error=1",
               UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1")
    try:
        done = subprocess.run([str(binary), str(corpus)], capture_output=True, text=True, errors="replace",
                              timeout=120, env=env, cwd=str(HERE))
    except subprocess.TimeoutExpired:
        pytest.fail("%s did not finish its corpus within 120 s" % target, pytrace=False)
    assert done.returncode == 0, "%s failed (exit %s)\n%s%s" % (target, done.returncode, done.stdout, done.stderr)
    assert done.stdout.strip().endswith("replayed %d inputs" % len(seeds)), done.stdout + done.stderr
