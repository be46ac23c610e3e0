package com.quorvane.kvx.maven;

import java.io.File;
import java.util.Locale;

/** The executables one execution can write, each named after {@code outfile}. */
enum PackArch {
    /** 64-bit Windows, GUI subsystem: {@code outfile} itself. */
    X64("x64", "win64/kvx.exe", "x64", false, ""),
    /** 32-bit Windows, GUI subsystem: {@code NAME-x86.exe}. */
    X86("x86", "win32/kvx.exe", "x86", false, "-x86"),
    /** 64-bit Windows, console subsystem: {@code NAME-console.exe}. */
    CONSOLE("console", "win64/kvxc.exe", "x64", true, "-console"),
    /** The Linux x86-64 launcher: {@code NAME} without extension. */
    HOST("host", "host/kvx", "host", false, null);

    final String parameterValue;
    final String stubPath;
    final String kvxpackArch;
    final boolean console;
    /** Added to the outfile's base name; null: the base name without extension. */
    private final String suffix;

    PackArch(String parameterValue, String stubPath, String kvxpackArch, boolean console, String suffix) {
        this.parameterValue = parameterValue;
        this.stubPath = stubPath;
        this.kvxpackArch = kvxpackArch;
        this.console = console;
        this.suffix = suffix;
    }

    boolean windows() {
        return this != HOST;
    }

    static PackArch parse(String value) {
        for (PackArch arch : values()) {
            if (arch.parameterValue.equals(value.trim().toLowerCase(Locale.ROOT))) {
                return arch;
            }
        }
        return null;
    }

    static String choices() {
        StringBuilder text = new StringBuilder();
        for (PackArch arch : values()) {
            text.append(text.length() == 0 ? "" : ", ").append(arch.parameterValue);
        }
        return text.toString();
    }

    /** app.exe gives app.exe, app-x86.exe, app-console.exe and app. */
    File output(File outfile) {
        String name = outfile.getName();
        String base = name.toLowerCase(Locale.ROOT).endsWith(".exe") ? name.substring(0, name.length() - 4) : name;
        String file = suffix == null ? base : suffix.isEmpty() ? name : base + suffix + ".exe";
        return new File(outfile.getParentFile(), file);
    }
}
