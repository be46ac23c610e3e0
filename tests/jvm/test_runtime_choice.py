"""Which runtime the Linux launcher takes beyond the classic methods (bundled, package
managers' folders), what KVX_TRACE tells about it, and the exit codes scripts rely on."""
import os

from conftest import JDK, clean_env

LIBJVM = os.path.join(JDK, "lib", "server", "libjvm.so")


def fake_home(path, version, real=True):
    """A Java home whose `release` file says `version`; its libjvm.so is a link to the real
    one (the runtime finds its own files through that link) or, with real=False, missing."""
    os.makedirs(os.path.join(path, "lib", "server"), exist_ok=True)
    with open(os.path.join(path, "release"), "w") as f:
        f.write('IMPLEMENTOR="test"\nJAVA_VERSION="%s"\n' % version)
    if real:
        os.symlink(LIBJVM, os.path.join(path, "lib", "server", "libjvm.so"))
    return path


def traced(pack, run, tmp_path, name, *args, env=None, **options):
    """Runs a packed app with KVX_TRACE to a file; (result, trace lines)."""
    exe = pack(name=name, **options)
    trace = tmp_path / (name + ".trace")
    result = run(exe, *args, env=clean_env(KVX_TRACE=str(trace), **(env or {})))
    return result, trace.read_text().splitlines() if trace.exists() else []


def chosen(lines):
    return [l[len("kvx: chose "):] for l in lines if l.startswith("kvx: chose ")]


def test_sdkman_runtimes_are_chosen_by_version_and_minjre(pack, run, tmp_path):
    home = tmp_path / "home"
    candidates = home / ".sdkman" / "candidates" / "java"
    fake_home(str(candidates / "99.0.1-fake"), "99.0.1")
    fake_home(str(candidates / "98.0.0-fake"), "98.0.0")
    fake_home(str(candidates / "100.0.0-nolib"), "100.0.0", real=False)
    result, lines = traced(pack, run, tmp_path, "sdk", env={"HOME": str(home)}, jre_order="v")
    assert result.returncode == 0, result.stderr
    assert "argc=0" in result.stdout
    # 100 has no library; 99 beats 98 and every runtime in /usr/lib/jvm.
    assert chosen(lines) == [str(candidates / "99.0.1-fake") + "/lib/server/libjvm.so"], lines
    assert any("100.0.0-nolib" in l and "no usable libjvm.so" in l for l in lines), lines

    # Above every runtime there is: the highest one is still taken, and the version check
    # after start-up names its real version instead of "not found".
    result, lines = traced(pack, run, tmp_path, "sdk-high", env={"HOME": str(home)}, jre_order="v", minjre="101")
    assert result.returncode == 6, result.stderr
    assert "is too low, require 101.0 or higher." in result.stderr
    assert any("rejected, too old (99.0, minjre 101.0)" in l for l in lines), lines


def test_packaged_runtimes_include_the_real_openjdk(pack, run, tmp_path):
    # No SDKMAN tree: /usr/lib/jvm alone, where the system's OpenJDK lives.
    result, lines = traced(pack, run, tmp_path, "usrlib", env={"HOME": str(tmp_path / "nobody")}, jre_order="v",
                           minjre="17")
    assert result.returncode == 0, result.stderr
    assert "argc=0" in result.stdout
    assert chosen(lines) and chosen(lines)[0].startswith("/usr/lib/jvm/"), lines


def test_bundled_runtime_needs_no_configuration(pack, run, tmp_path):
    app = tmp_path / "shipped"
    os.makedirs(app)
    os.symlink(JDK, str(app / "runtime"))
    # kvxpack's own default order (bundled right after the configured path).
    exe = pack(name="app", directory=str(app), jre_order="cbjvsie")
    trace = tmp_path / "bundled.trace"
    result = run(exe, env=clean_env(KVX_TRACE=str(trace), HOME=str(tmp_path)))
    assert result.returncode == 0, result.stderr
    lines = trace.read_text().splitlines()
    assert chosen(lines) == [str(app) + "/runtime/lib/server/libjvm.so"], lines


def test_trace_shows_steps_rejections_and_options(pack, run, tmp_path):
    missing = str(tmp_path / "nowhere" / "libjvm.so")
    result, lines = traced(pack, run, tmp_path, "steps", "x", jre_order="cs", jvmdll=missing, option="-Xmx64m",
                           property="a.b=c")
    assert result.returncode == 0, result.stderr
    text = "\n".join(lines)
    for expected in ("kvx: no side file beside " + str(tmp_path / "steps"),
                     "kvx: search order: cs",
                     "kvx: candidate %s: rejected, missing" % missing,
                     "kvx: option -Xmx64m",
                     "kvx: option -Da.b=c",
                     "kvx: option -Dkvx.app.path=" + str(tmp_path / "steps"),
                     "kvx: main class app.Props",
                     "kvx: outcome 0, exit code 0"):
        assert expected in lines, "%r missing from\n%s" % (expected, text)
    assert lines.index("kvx: search order: cs") < lines.index("kvx: option -Xmx64m") < lines.index(
        "kvx: main class app.Props")

    # To standard error with "-"; unset, nothing is written and no file appears.
    exe = pack(name="stderr", jre_order="")
    dash = run(exe, env=clean_env(KVX_TRACE="-"))
    assert "kvx: search order: csie (default)" in dash.stderr
    before = sorted(os.listdir(tmp_path))
    quiet = run(exe, env=clean_env())
    assert "kvx:" not in quiet.stderr and sorted(os.listdir(tmp_path)) == before


def test_exit_codes(pack, run, tmp_path):
    assert run(pack(name="ok")).returncode == 0
    assert run(pack(name="exit3", main="app.Exit3")).returncode == 3
    assert run(pack(name="throws", main="app.Throws")).returncode == 1
    assert run(pack(name="nomain", main="app.NoMain")).returncode == 8
    assert run(pack(name="noclass", main="app.Missing")).returncode == 7
    assert run(pack(name="nojre", jre_order="c", jvmdll=str(tmp_path / "none.so"))).returncode == 1


def test_version_query_leaves_no_unchecked_exception_state(pack, run):
    # With -Xcheck:jni the runtime warns about every JNI call made before an exception check.
    result = run(pack(name="checked", minjre="1.8", option="-Xcheck:jni"))
    assert result.returncode == 0, result.stderr
    assert "WARNING" not in result.stdout + result.stderr, result.stdout + result.stderr
