"""The build's outputs: GUI-subsystem static executables that import system DLLs only,
and the Java API classes as the natives expect them."""
import os
import re
import shutil
import struct
import subprocess
import sys
import zipfile

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "shared"))
from kvx_support import tool  # noqa: E402
JDK = "/usr/lib/jvm/java-17-openjdk-amd64"
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "advapi32.dll", "msvcrt.dll",
               "comctl32.dll", "shlwapi.dll", "ole32.dll"}


def pe_header(path, objdump):
    assert os.path.exists(path), f"{path} was not built"
    return subprocess.run([tool(objdump), "-p", path], capture_output=True, text=True, check=True, timeout=60).stdout


@pytest.mark.parametrize("arch,objdump,magic", [
    ("win32", "i686-w64-mingw32-objdump", "PE32"),
    ("win64", "x86_64-w64-mingw32-objdump", "PE32+"),
])
def test_launcher_is_gui_static_and_imports_only_system_dlls(arch, objdump, magic):
    path = os.path.join(ROOT, "build", arch, "kvx.exe")
    header = pe_header(path, objdump)
    assert re.search(r"Subsystem\s+00000002\s+\(Windows GUI\)", header)
    assert re.search(rf"Magic\s+\S+\s+\({re.escape(magic)}\)", header)
    imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", header)}
    assert imports, "no import table"
    assert imports <= SYSTEM_DLLS, f"non-system imports: {sorted(imports - SYSTEM_DLLS)}"


def test_host_launcher_is_linux_x86_64():
    path = os.path.join(ROOT, "build", "host", "kvx")
    with open(path, "rb") as f:
        head = f.read(20)
    assert head[:4] == b"\x7fELF" and head[4] == 2  # 64-bit ELF
    assert int.from_bytes(head[18:20], "little") == 62  # x86-64


def javap(cls):
    jar = os.path.join(ROOT, "build", "java", "kvx-runtime.jar")
    return subprocess.run([f"{JDK}/bin/javap", "-p", "-s", "-constants", "-cp", jar, cls],
                          capture_output=True, text=True, check=True, timeout=60).stdout


def test_runtime_jar_holds_the_four_classes_for_java_8():
    jar = os.path.join(ROOT, "build", "java", "kvx-runtime.jar")
    with zipfile.ZipFile(jar) as z:
        names = set(z.namelist())
        for cls in ("SplashScreen", "SystemTray", "SystemTrayCallback", "SystemTrayMenu"):
            entry = f"com/quorvane/kvx/{cls}.class"
            assert entry in names
            data = z.read(entry)
            assert int.from_bytes(data[6:8], "big") == 52  # class file version of Java 8


def test_native_declarations_match_the_exported_names():
    tray = javap("com.quorvane.kvx.SystemTray")
    for decl in ("public void Change(int, java.lang.String, java.lang.String, java.lang.String, int);",
                 "private native void nativeChange(int, java.lang.String, java.lang.String, java.lang.String, int);",
                 "public void Show();", "private native void nativeShow();", "private native void nativeHide();",
                 "public static void setSystemTrayCallback(com.quorvane.kvx.SystemTrayCallback);",
                 "private static native void nativeSetSystemTrayCallback(com.quorvane.kvx.SystemTrayCallback);",
                 "protected native void init(int, java.lang.String, java.lang.String, java.lang.String, int);",
                 "protected native void finalize();", "protected int h;",
                 "public static final int LEFT_CLICK = 514;", "public static final int MIDDLE_DOUBLE_CLICK = 521;",
                 "public static final int INFOTYPE_ERROR = 3;"):
        assert decl in tray
    menu = javap("com.quorvane.kvx.SystemTrayMenu")
    assert "protected java.util.HashSet popups;" in menu
    assert "descriptor: Ljava/util/HashSet;" in menu
    assert "public void Append(java.lang.String, com.quorvane.kvx.SystemTrayMenu);" in menu
    assert "private native void nativeAppendSubmenu(java.lang.String, com.quorvane.kvx.SystemTrayMenu);" in menu
    assert "private native void nativeAppendItem(java.lang.String, int);" in menu
    assert "public java.util.HashSet getSubmenu();" in menu
    splash = javap("com.quorvane.kvx.SplashScreen")
    assert "protected static native com.quorvane.kvx.SplashScreen nativeGetSplashScreen();" in splash
    assert "protected native void nativeAutoClose(int);" in splash
    callback = javap("com.quorvane.kvx.SystemTrayCallback")
    assert "descriptor: (Lcom/quorvane/kvx/SystemTray;I)V" in callback
    assert "public abstract void OnMenuCommand(int);" in callback


SPLASH_NATIVES = {
    "Java_com_quorvane_kvx_SplashScreen_nativeGetSplashScreen": 8,
    "Java_com_quorvane_kvx_SplashScreen_nativeAutoClose": 12,
    "Java_com_quorvane_kvx_SplashScreen_nativeClose": 8,
}


def exported_names(header):
    table = header.split("[Ordinal/Name Pointer] Table", 1)
    assert len(table) == 2, "no export table"
    return [m.group(1) for m in re.finditer(r"^\s*\[\s*\d+\]\s+(\S+)\s*$", table[1].split("\n\n", 1)[0], re.M)]


def listed_exports():
    """The export list of the sources: name -> argument byte count."""
    listed = {}
    with open(os.path.join(ROOT, "src", "natives", "jni", "exports.txt")) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                name, count = line.split()
                listed[name] = int(count)
    return listed


@pytest.mark.parametrize("arch,objdump", [("win32", "i686-w64-mingw32-objdump"),
                                          ("win64", "x86_64-w64-mingw32-objdump")])
def test_launcher_exports_exactly_the_listed_natives(arch, objdump):
    listed = listed_exports()
    for name, count in SPLASH_NATIVES.items():
        assert listed.get(name) == count, f"{name} is not listed with {count} bytes"
    names = exported_names(pe_header(os.path.join(ROOT, "build", arch, "kvx.exe"), objdump))
    if arch == "win32":
        # The 32-bit runtime looks natives up in their stdcall form only.
        expected = sorted(f"_{name}@{count}" for name, count in listed.items())
    else:
        expected = sorted(listed)
    assert sorted(names) == expected


TRAY_NATIVES = {
    "Java_com_quorvane_kvx_SystemTray_init": 28,
    "Java_com_quorvane_kvx_SystemTray_nativeChange": 28,
    "Java_com_quorvane_kvx_SystemTray_nativeShow": 8,
    "Java_com_quorvane_kvx_SystemTray_nativeHide": 8,
    "Java_com_quorvane_kvx_SystemTray_nativeSetSystemTrayCallback": 12,
    "Java_com_quorvane_kvx_SystemTray_finalize": 8,
    "Java_com_quorvane_kvx_SystemTrayMenu_init": 8,
    "Java_com_quorvane_kvx_SystemTrayMenu_nativeAppendItem": 16,
    "Java_com_quorvane_kvx_SystemTrayMenu_nativeAppendSubmenu": 16,
    "Java_com_quorvane_kvx_SystemTrayMenu_nativeAppendSeparator": 8,
    "Java_com_quorvane_kvx_SystemTrayMenu_nativePopup": 8,
    "Java_com_quorvane_kvx_SystemTrayMenu_finalize": 8,
}


@pytest.mark.parametrize("arch,objdump", [("win32", "i686-w64-mingw32-objdump"),
                                          ("win64", "x86_64-w64-mingw32-objdump")])
def test_launcher_exports_every_tray_and_menu_native(arch, objdump):
    names = set(exported_names(pe_header(os.path.join(ROOT, "build", arch, "kvx.exe"), objdump)))
    for name, count in TRAY_NATIVES.items():
        exported = f"_{name}@{count}" if arch == "win32" else name
        assert exported in names, f"{exported} is not exported by {arch}/kvx.exe"


def elf_section_names(path):
    """The section names of a 64-bit little-endian ELF file, read from its section headers."""
    with open(path, "rb") as f:
        data = f.read()
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum, shstrndx = struct.unpack_from("<HHH", data, 0x3A)
    strings_at, = struct.unpack_from("<Q", data, shoff + shstrndx * shentsize + 0x18)
    names = []
    for i in range(shnum):
        name_at, = struct.unpack_from("<I", data, shoff + i * shentsize)
        start = strings_at + name_at
        names.append(data[start:data.index(b"\0", start)].decode())
    return names


def test_linux_launcher_is_a_stripped_release_build_with_its_symbols_beside_it():
    path = os.path.join(ROOT, "build", "host", "kvx")
    sections = elf_section_names(path)
    assert not [s for s in sections if s.startswith(".debug") or s == ".symtab"], sections
    with open(path, "rb") as f:
        data = f.read()
    # The shipped launcher: the plain core, not the sanitized one the unit tests link.
    assert b"__asan_init" not in data and b"__ubsan_handle" not in data
    debug = os.path.join(ROOT, "build", "host", "kvx.debug")
    assert ".debug_info" in elf_section_names(debug) and ".symtab" in elf_section_names(debug)


STUBS = [("host", [], "host/kvx"), ("x86", [], "win32/kvx.exe"), ("x86", ["--console"], "win32/kvxc.exe"),
         ("x64", [], "win64/kvx.exe"), ("x64", ["--console"], "win64/kvxc.exe")]


def test_a_copied_kvxpack_carries_every_launcher(tmp_path):
    """kvxpack copied alone into an empty folder packs for every target, and the launcher it
    carries is the one built: equal bytes to packing with that file as --stub."""
    alone = tmp_path / "alone"
    alone.mkdir()
    shutil.copy2(os.path.join(ROOT, "build", "host", "kvxpack"), alone / "kvxpack")
    with zipfile.ZipFile(tmp_path / "app.jar", "w") as archive:
        archive.writestr("app/Main.class", b"\xca\xfe\xba\xbe")
    for arch, extra, built in STUBS:
        base = ["--jar", str(tmp_path / "app.jar"), "--main", "app.Main", *extra]
        carried = subprocess.run([str(alone / "kvxpack"), "--arch", arch, *base, "-o", str(tmp_path / "carried")],
                                 capture_output=True, timeout=60)
        assert carried.returncode == 0, (arch, extra, carried.stderr)
        given = subprocess.run([str(alone / "kvxpack"), "--stub", os.path.join(ROOT, "build", built), *base,
                                "-o", str(tmp_path / "given")], capture_output=True, timeout=60)
        assert given.returncode == 0, (built, given.stderr)
        assert (tmp_path / "carried").read_bytes() == (tmp_path / "given").read_bytes(), built
    assert sorted(p.name for p in alone.iterdir()) == ["kvxpack"]
    # Nor does it need libraries beyond the C library's.
    header = subprocess.run([tool("objdump"), "-p", str(alone / "kvxpack")], capture_output=True, text=True,
                            check=True, timeout=60).stdout
    assert set(re.findall(r"NEEDED\s+(\S+)", header)) <= {"libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2"}, header
