"""The Linux launcher runs Java for real: what main receives, the properties the launcher
passes, the class path, the runtime's life cycle and every failure message."""
import os
import subprocess
import zipfile

from conftest import JDK, KVXPACK, STUB, clean_env, properties, require

NOT_FOUND = "Java Runtime Environment not found."


def test_main_receives_every_argument_in_order(pack, run):
    exe = pack()
    args = ["plain", "with space", 'a "quoted" one', "", "\u00e9t\u00e9 \u4e2d\u6587"]
    result = run(exe, *args)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert "argc=5" in lines
    for i, arg in enumerate(args):
        assert f"arg{i}=[{arg}]" in lines
    assert run(exe).stdout.splitlines()[0] == "argc=0"


def test_launcher_properties_and_class_path_begin_with_the_executable(pack, run, tmp_path):
    exe = pack()
    other = tmp_path / "elsewhere"
    other.mkdir()
    values = properties(run(exe, cwd=str(other)).stdout)
    assert values["kvx.app.path"] == exe
    assert values["application.home"] == str(tmp_path) + "/"
    assert values["java.class.path"].split(":")[0] == exe
    assert values["user.dir"] == str(other)


def test_the_input_arguments_hold_only_what_the_configuration_gives(pack, run, tmp_path):
    """Applications that restart themselves pass their input arguments on to `java`: none of
    the launcher's own may be among them, and System.exit still ends with its code."""
    exe = pack(main="app.InputArgs", option=["-Xmx64m"], property=["x=1"])
    result = run(exe, "7")
    assert result.returncode == 7, result.stderr
    inputs = [l[len("input="):] for l in result.stdout.splitlines() if l.startswith("input=")]
    assert inputs == ["-Xmx64m", "-Dx=1", "-Dkvx.app.path=" + exe, "-Dapplication.home=" + str(tmp_path) + "/"], \
        result.stdout


def test_options_and_properties_reach_the_runtime(pack, run):
    exe = pack(option=["-Xmx64m", "-Xss32m"], property=["x=1", "a.b=c=d", "depth=1"])
    values = properties(run(exe).stdout)
    assert values["x"] == "1"
    assert values["a.b"] == "c=d"
    assert int(values["maxMemory"]) <= 64 * 1024 * 1024
    # -Xss holds for main's thread as for every other (java's own rule): main reaches about
    # as deep as a new thread, far deeper than the 8 MB a process's first thread gets.
    assert int(values["depth.main"]) * 2 > int(values["depth.thread"]) > 0, values


def test_side_file_overrides_and_adds_but_cannot_change_the_main_class(pack, run, tmp_path):
    exe = pack(minjre="99.0", property="x=embedded")
    with open(exe + ".cfg", "wb") as f:
        f.write(b"minjre 1.6\r\nproperty a.b=side\r\nmainclass app.Throws")  # no final line end
    result = run(exe)
    values = properties(result.stdout)
    assert values["a.b"] == "side" and values["x"] == "embedded"
    assert "argc=0" in result.stdout  # still app.Props
    os.remove(exe + ".cfg")
    with open(exe + ".config", "wb") as f:
        f.write(b"property x=config\n")
    assert "too low" in run(exe).stderr  # the .config file adds, but minjre 99.0 stands
    with open(exe + ".cfg", "wb") as f:
        f.write(b"minjre 1.6\n")
    values = properties(run(exe).stdout)
    assert values["x"] == "embedded"  # .cfg wins: .config was not read


def test_archives_found_through_libs_and_classpath_load(pack, run, jars, tmp_path):
    deep = tmp_path / "ext" / "sub"
    deep.mkdir(parents=True)
    (deep / "LIB.JAR").write_bytes(open(jars["lib"], "rb").read())
    (tmp_path / "ext" / "old.jar.old").write_bytes(b"not an archive")
    exe = pack(main="app.UsesLib", libs="ext")
    result = run(exe)
    assert "lib says hello from lib" in result.stdout, result.stderr
    cp = properties(run(pack(name="props", libs="ext")).stdout)["java.class.path"]
    assert cp.endswith("ext/sub/LIB.JAR") and "old.jar.old" not in cp

    beside = pack(name="beside", main="app.UsesLib", classpath=";;lib.jar;")
    (tmp_path / "lib.jar").write_bytes(open(jars["lib"], "rb").read())
    assert "lib says hello from lib" in run(beside).stdout


def test_environment_class_path_variables_add_only_their_non_empty_entries(pack, run):
    exe = pack()
    # An empty entry would put the current directory on the class path.
    cp = properties(run(exe, env=clean_env(CLASSPATH="/x/a.jar::", CLASS_PATH="")).stdout)["java.class.path"]
    assert cp == exe + ":/x/a.jar"


def test_process_waits_for_non_daemon_threads(pack, run, tmp_path):
    marker = tmp_path / "written-last"
    exe = pack(main="app.Worker")
    result = run(exe, str(marker))
    assert "main returns" in result.stdout
    assert marker.read_text() == "done"


def test_system_exit_code_is_the_process_exit_code(pack, run):
    assert run(pack(main="app.Exit3")).returncode == 3


def test_exception_out_of_main_is_described_and_exits_with_1(pack, run):
    result = run(pack(main="app.Throws"))
    assert result.returncode == 1
    assert "java.lang.IllegalStateException: thrown out of main" in result.stderr
    assert "Error" not in result.stderr.replace("IllegalStateException", "")


def test_missing_main_class_and_missing_main_method(pack, run):
    missing = run(pack(name="missing", main="app.DoesNotExist"))
    assert missing.returncode == 7
    assert "NoClassDefFoundError: app/DoesNotExist" in missing.stderr
    assert "The main startup class could not be found." in missing.stderr

    nomain = run(pack(name="nomain", main="app.NoMain"))
    assert nomain.returncode == 8
    assert "NoSuchMethodError" in nomain.stderr
    assert "The main startup class is not valid, main method missing." in nomain.stderr

    # kvxpack refuses an executable without a main class: the line is blanked afterwards.
    nothing = pack(name="nothing", main="app.Props")
    with open(nothing, "r+b") as f:
        data = f.read()
        line = data.rfind(b"mainclass app.Props\r\n")
        assert line > len(data) - 64 and data.endswith(b"\r\n\0")
        f.seek(line)
        f.write(b"#" * 19 + b"\r\n")
    assert "The main startup class could not be found." in run(nothing).stderr


def test_minimum_version(pack, run):
    too_low = run(pack(name="low", minjre="99.1"))
    assert too_low.returncode == 6
    assert "Java virtual machine version 17.0 is too low, require 99.1 or higher." in too_low.stderr
    assert too_low.stdout == ""
    assert "argc=0" in run(pack(name="ok", minjre="1.6")).stdout
    assert "argc=0" in run(pack(name="same", minjre="17.0")).stdout
    # Java's own version counts (17.0.x), in either numbering; 18 is too high for it.
    assert "argc=0" in run(pack(name="bare", minjre="17")).stdout
    assert "argc=0" in run(pack(name="eight", minjre="8")).stdout
    assert "is too low, require 18.0 or higher." in run(pack(name="high", minjre="18")).stderr


def test_runtime_not_found_is_reported_in_the_users_language(pack, run):
    exe = pack(jre_order="e")
    result = run(exe)
    assert result.returncode == 1
    assert NOT_FOUND in result.stderr and result.stdout == ""
    chinese = run(exe, env=clean_env(LC_ALL="", LANG="zh_CN.UTF-8"))
    assert "Java \u8fd0\u884c\u73af\u5883\u672a\u627e\u5230\u3002" in chinese.stderr
    taiwan = run(exe, env=clean_env(LC_ALL="zh_TW.UTF-8"))
    assert "Java \u904b\u884c\u74b0\u5883\u672a\u627e\u5230\u3002" in taiwan.stderr


def test_discovery_through_java_home_and_configured_path(pack, run, tmp_path):
    exe = pack(jre_order="e")
    assert "argc=0" in run(exe, env=clean_env(JRE_HOME="", JAVA_HOME=JDK)).stdout
    configured = pack(name="configured", jre_order="c", jvmdll=f"{JDK}/lib/server/libjvm.so")
    assert "argc=0" in run(configured).stdout
    unset = pack(name="unset", jre_order="c", jvmdll="%KVX_UNSET_VARIABLE%/libjvm.so")
    assert NOT_FOUND in run(unset).stderr


def test_bad_runtime_libraries(pack, run, tmp_path):
    (tmp_path / "random.so").write_bytes(os.urandom(4096))
    for name, value in (("dir", str(tmp_path)), ("random", str(tmp_path / "random.so"))):
        result = run(pack(name=name, jre_order="c", jvmdll=value))
        assert NOT_FOUND in result.stderr, name
    libz = next(p for p in ("/lib/x86_64-linux-gnu/libz.so.1", "/usr/lib/x86_64-linux-gnu/libz.so.1")
                if os.path.exists(p))
    invalid = run(pack(name="invalid", jre_order="c", jvmdll=libz))
    assert "Java Runtime Environment not valid." in invalid.stderr


def test_many_options_and_a_long_class_path(pack, run, tmp_path):
    config = tmp_path / "many.cfg"
    with open(config, "w") as f:
        for i in range(10000):
            f.write(f"option -Dkey{i}=value{i}\n")
        f.write("classpath " + ";".join(f"/nonexistent/dir{i:05d}/x.jar" for i in range(4000)) + "\n")
    exe = pack(name="many")
    os.replace(config, exe + ".cfg")  # the side file has no 51200-byte limit
    result = run(exe, timeout=120)
    assert result.returncode == 0, result.stderr
    values = properties(result.stdout)
    assert len(values["java.class.path"]) > 100000


def test_forcecwd_is_relative_to_the_executable(pack, run, tmp_path):
    (tmp_path / "data").mkdir()
    start = tmp_path / "start"
    start.mkdir()
    (start / "data").mkdir()
    assert properties(run(pack(name="rel", forcecwd="data"), cwd=str(start)).stdout)["user.dir"] == str(tmp_path / "data")
    assert properties(run(pack(name="up", forcecwd=".."), cwd=str(start)).stdout)["user.dir"] == str(tmp_path.parent)
    missing = run(pack(name="missing", forcecwd="no-such-dir"), cwd=str(start))
    assert properties(missing.stdout)["user.dir"] == str(start)
    env = clean_env(KVX_TEST_DIR=str(tmp_path / "data"))
    assert properties(run(pack(name="env", forcecwd="%KVX_TEST_DIR%"), env=env).stdout)["user.dir"] == str(tmp_path / "data")


def test_libs_symbolic_link_loop_finishes(pack, run, tmp_path, jars):
    loop = tmp_path / "loop" / "inner"
    loop.mkdir(parents=True)
    os.symlink("..", loop / "back")
    (loop / "a.jar").write_bytes(open(jars["lib"], "rb").read())
    result = run(pack(name="looper", libs="loop"), timeout=60)
    cp = properties(result.stdout)["java.class.path"]
    assert cp.count("a.jar") >= 1


def test_java_reads_classes_from_the_packed_executable_directly(pack, tmp_path):
    exe = pack()
    result = subprocess.run([f"{JDK}/bin/java", "-cp", exe, "app.Props", "x"], capture_output=True, text=True,
                            timeout=60, env=clean_env())
    assert "arg0=[x]" in result.stdout


def test_jars_merged_by_kvxpack_run_as_one_application(run, jars, tmp_path):
    # app.jar needs lib.jar's classes: merged into the executable, no class path line is needed,
    # and the runtime classes come along.
    with zipfile.ZipFile(jars["app"]) as app:
        manifest_jar = tmp_path / "main.jar"
        with zipfile.ZipFile(manifest_jar, "w") as out:
            out.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: app.UsesLib\r\n\r\n")
            for name in app.namelist():
                if name != "META-INF/MANIFEST.MF":
                    out.writestr(name, app.read(name))
    exe = str(tmp_path / "merged")
    subprocess.run([require(KVXPACK), "--stub", require(STUB), "--jar", str(manifest_jar), "--jar", jars["lib"],
                    "-o", exe], check=True, timeout=60)
    result = run(exe)
    assert result.returncode == 0, result.stderr
    assert "lib says hello from lib" in result.stdout, result.stderr
    with zipfile.ZipFile(exe) as packed:
        assert "com/quorvane/kvx/SystemTray.class" in packed.namelist()
