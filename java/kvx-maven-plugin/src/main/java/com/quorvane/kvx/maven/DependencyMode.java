package com.quorvane.kvx.maven;

import java.util.Locale;

/** Where the project's runtime dependencies go. A new way joins here and in PackMojo#execute. */
enum DependencyMode {
    /** Every dependency's entries merged into the executable's archive (kvxpack --jar for each). */
    MERGE,
    /** The dependency jars copied into a folder beside the executable, named by the libs line. */
    LIBS,
    /**
     * Every dependency jar carried whole inside the executable (kvxpack --keep-jars): one file,
     * and each jar keeps its own copies of resources that other jars also have.
     */
    KEEP;

    static DependencyMode parse(String value) {
        for (DependencyMode mode : values()) {
            if (mode.name().toLowerCase(Locale.ROOT).equals(value.trim().toLowerCase(Locale.ROOT))) {
                return mode;
            }
        }
        return null;
    }

    static String choices() {
        StringBuilder text = new StringBuilder();
        for (DependencyMode mode : values()) {
            text.append(text.length() == 0 ? "" : ", ").append(mode.name().toLowerCase(Locale.ROOT));
        }
        return text.toString();
    }
}
