package com.quorvane.kvx.maven;

import java.io.BufferedReader;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Comparator;
import java.util.List;
import java.util.Locale;
import java.util.stream.Stream;

import org.apache.maven.plugin.MojoExecutionException;

/**
 * kvxpack and the launchers that this plugin jar carries, unpacked once per plugin version and
 * content into a per-user cache folder. The folder is filled under a temporary name and then
 * renamed, so builds running at the same time (threads or processes) never see half of it.
 */
final class PackTools {
    /** Where the binaries lie inside the plugin jar, with tools.list naming them. */
    private static final String RESOURCES = "/com/quorvane/kvx/maven/tools/";
    private static final String LIST = "tools.list";
    static final String SUPPORTED_HOSTS = "Linux x86-64 and Windows x64";

    private final Path folder;
    private final boolean windowsHost;

    private PackTools(Path folder, boolean windowsHost) {
        this.folder = folder;
        this.windowsHost = windowsHost;
    }

    /** The host's kvxpack, unpacked when the cache does not hold this version yet. */
    static PackTools prepare(String pluginVersion, File cacheRoot) throws MojoExecutionException {
        String os = System.getProperty("os.name", "");
        String arch = System.getProperty("os.arch", "");
        boolean x64 = arch.equals("amd64") || arch.equals("x86_64");
        boolean windows = os.startsWith("Windows");
        if (!x64 || !(windows || os.equals("Linux"))) {
            throw new MojoExecutionException("kvx: the plugin runs kvxpack on " + SUPPORTED_HOSTS
                    + " only; this host is " + os + " " + arch);
        }
        byte[] list = resource(LIST);
        List<String[]> entries = parseList(list);
        Path root = (cacheRoot != null ? cacheRoot.toPath() : defaultCacheRoot(windows)).resolve("maven-plugin");
        // The version alone would let two builds of one snapshot version share a folder.
        Path folder = root.resolve(pluginVersion + "-" + hex(sha256(list)).substring(0, 12));
        PackTools tools = new PackTools(folder, windows);
        if (!complete(folder, entries)) {
            // A folder emptied by hand (a cache cleaner) is unpacked afresh.
            if (Files.exists(folder)) {
                deleteTree(folder);
            }
            unpack(root, folder, entries);
        }
        return tools;
    }

    /** The kvxpack that runs on this host. */
    Path kvxpack() {
        return folder.resolve(windowsHost ? "win64/kvxpack.exe" : "host/kvxpack");
    }

    /**
     * The arguments that select the launcher of {@code arch}. Today the launchers lie beside
     * kvxpack in the cache and are named by path; a kvxpack that carries them itself needs
     * only the --arch and --console flags here, and tools.list loses the launchers.
     */
    List<String> stubArguments(PackArch arch) {
        List<String> arguments = new ArrayList<>();
        arguments.add("--stub");
        arguments.add(folder.resolve(arch.stubPath).toString());
        arguments.add("--arch");
        arguments.add(arch.kvxpackArch);
        if (arch.console) {
            arguments.add("--console");
        }
        return arguments;
    }

    private static boolean complete(Path folder, List<String[]> entries) {
        for (String[] entry : entries) {
            if (!Files.isRegularFile(folder.resolve(entry[1]))) {
                return false;
            }
        }
        return true;
    }

    private static Path defaultCacheRoot(boolean windows) {
        String home = System.getProperty("user.home");
        if (windows) {
            String local = System.getenv("LOCALAPPDATA");
            return local != null && !local.isEmpty() ? new File(local, "kvx").toPath()
                    : new File(home, "AppData/Local/kvx").toPath();
        }
        String xdg = System.getenv("XDG_CACHE_HOME");
        return xdg != null && xdg.startsWith("/") ? new File(xdg, "kvx").toPath() : new File(home, ".cache/kvx").toPath();
    }

    private static void unpack(Path root, Path folder, List<String[]> entries) throws MojoExecutionException {
        Path temporary = null;
        try {
            Files.createDirectories(root);
            temporary = Files.createTempDirectory(root, ".unpack-");
            for (String[] entry : entries) {
                Path target = temporary.resolve(entry[1]);
                Files.createDirectories(target.getParent());
                byte[] bytes = resource(entry[1]);
                if (!hex(sha256(bytes)).equals(entry[0])) {
                    throw new MojoExecutionException("kvx: " + entry[1] + " in the plugin jar does not match "
                            + LIST + "; the plugin jar is damaged");
                }
                try (OutputStream out = Files.newOutputStream(target)) {
                    out.write(bytes);
                }
                if (!target.toFile().setExecutable(true, false)) {
                    throw new IOException("cannot mark " + target + " executable");
                }
            }
            try {
                Files.move(temporary, folder, StandardCopyOption.ATOMIC_MOVE);
                temporary = null;
            } catch (IOException e) {
                // Another build unpacked the same content first: use its folder.
                if (!complete(folder, entries)) {
                    throw e;
                }
            }
        } catch (IOException e) {
            throw new MojoExecutionException("kvx: cannot unpack kvxpack into " + folder + ": " + e, e);
        } finally {
            if (temporary != null) {
                deleteTree(temporary);
            }
        }
    }

    private static void deleteTree(Path path) {
        try (Stream<Path> walk = Files.walk(path)) {
            List<Path> paths = new ArrayList<>();
            walk.forEach(paths::add);
            Collections.sort(paths, Comparator.reverseOrder());
            for (Path p : paths) {
                Files.deleteIfExists(p);
            }
        } catch (IOException ignored) {
            // A leftover temporary folder in the cache does no harm.
        }
    }

    /** Lines "SHA256  PATH" as sha256sum writes them. */
    private static List<String[]> parseList(byte[] list) throws MojoExecutionException {
        List<String[]> entries = new ArrayList<>();
        try (BufferedReader reader = new BufferedReader(
                new InputStreamReader(new java.io.ByteArrayInputStream(list), StandardCharsets.UTF_8))) {
            String line;
            while ((line = reader.readLine()) != null) {
                line = line.trim();
                if (line.isEmpty()) {
                    continue;
                }
                String[] parts = line.split("\\s+\\*?", 2);
                if (parts.length != 2 || parts[1].contains("..")) {
                    throw new MojoExecutionException("kvx: bad line in " + LIST + ": " + line);
                }
                entries.add(new String[] {parts[0].toLowerCase(Locale.ROOT), parts[1]});
            }
        } catch (IOException e) {
            throw new MojoExecutionException("kvx: cannot read " + LIST, e);
        }
        if (entries.isEmpty()) {
            throw new MojoExecutionException("kvx: the plugin jar carries no kvxpack (" + LIST + " is empty)");
        }
        return entries;
    }

    private static byte[] resource(String name) throws MojoExecutionException {
        try (InputStream in = PackTools.class.getResourceAsStream(RESOURCES + name)) {
            if (in == null) {
                throw new MojoExecutionException("kvx: the plugin jar lacks " + RESOURCES + name
                        + "; it was built without kvxpack");
            }
            java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
            byte[] buffer = new byte[65536];
            int n;
            while ((n = in.read(buffer)) > 0) {
                out.write(buffer, 0, n);
            }
            return out.toByteArray();
        } catch (IOException e) {
            throw new MojoExecutionException("kvx: cannot read " + RESOURCES + name, e);
        }
    }

    private static byte[] sha256(byte[] bytes) {
        try {
            return MessageDigest.getInstance("SHA-256").digest(bytes);
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every Java runtime has SHA-256", e);
        }
    }

    private static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder(bytes.length * 2);
        for (byte b : bytes) {
            text.append(String.format(Locale.ROOT, "%02x", b & 0xff));
        }
        return text.toString();
    }
}
