package com.quorvane.kvx.maven;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.TimeUnit;
import java.util.jar.JarFile;
import java.util.jar.Manifest;

import org.apache.maven.artifact.Artifact;
import org.apache.maven.model.Organization;
import org.apache.maven.plugin.AbstractMojo;
import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.plugins.annotations.ResolutionScope;
import org.apache.maven.project.MavenProject;

/**
 * Packs the project's jar and its runtime dependencies into kvx executables with kvxpack.
 */
@Mojo(name = "pack", defaultPhase = LifecyclePhase.PACKAGE, threadSafe = true,
        requiresDependencyResolution = ResolutionScope.RUNTIME)
public class PackMojo extends AbstractMojo {
    private static final long KVXPACK_TIMEOUT_MINUTES = 10;
    private static final String[] VERSION_KEYS = {
        "FileVersion", "ProductVersion", "ProductName", "CompanyName", "FileDescription"};

    @Parameter(defaultValue = "${project}", readonly = true, required = true)
    private MavenProject project;

    @Parameter(defaultValue = "${plugin.version}", readonly = true, required = true)
    private String pluginVersion;

    /** Writes nothing when true. */
    @Parameter(property = "kvx.skip", defaultValue = "false")
    private boolean skip;

    /** The x64 executable; the other kinds are named after it (see {@code arch}). */
    @Parameter(property = "kvx.outfile", defaultValue = "${project.build.directory}/${project.artifactId}.exe")
    private File outfile;

    /** The executables to write: x64 (default), x86, console, host; several may be listed. */
    @Parameter(property = "kvx.arch")
    private List<String> arch;

    /** The application jar; default: the project's own artifact. */
    @Parameter(property = "kvx.jar")
    private File jar;

    /**
     * merge: the runtime dependencies join the executable's archive; libs: a folder beside it;
     * keep: each carried whole inside the executable, for frameworks that read a same-named
     * resource from every jar.
     */
    @Parameter(property = "kvx.dependencies", defaultValue = "merge")
    private String dependencies;

    /** The folder beside the executables that takes the dependency jars with dependencies=libs. */
    @Parameter(property = "kvx.libsDirectory", defaultValue = "libs")
    private String libsDirectory;

    /** The class whose main method runs; default: Main-Class of the jar's manifest. */
    @Parameter(property = "kvx.mainClass")
    private String mainClass;

    /** The application icon (.ico), Windows executables only. */
    @Parameter(property = "kvx.icon")
    private File icon;

    /** Entries ID=FILE: icon groups for com.quorvane.kvx.SystemTray. */
    @Parameter
    private List<String> trayIcons;

    /** The splash picture (BMP), Windows executables only. */
    @Parameter(property = "kvx.splash")
    private File splash;

    /** The application manifest; default: kvxpack's built-in one. */
    @Parameter(property = "kvx.manifest")
    private File manifest;

    /** The built-in manifest sets the UTF-8 code page. */
    @Parameter(property = "kvx.utf8", defaultValue = "false")
    private boolean utf8;

    /** auto or off. */
    @Parameter(property = "kvx.cds")
    private String cds;

    /** The lowest Java version, 17 or 1.8. */
    @Parameter(property = "kvx.minjre")
    private String minjre;

    /** The order of the runtime searches (letters c, b, j, v, s, i, e). */
    @Parameter(property = "kvx.jreOrder")
    private String jreOrder;

    /** JVM options, one line each. */
    @Parameter
    private List<String> options;

    /** System properties, written in name order. */
    @Parameter
    private Map<String, String> properties;

    /** A file of configuration lines, placed first. */
    @Parameter(property = "kvx.config")
    private File config;

    /** Version record entries; they replace the ones taken from the project, an empty one drops it. */
    @Parameter
    private Map<String, String> versionInfo;

    /** Where kvxpack is unpacked; default: the user's cache folder. */
    @Parameter(property = "kvx.cache")
    private File toolsCache;

    /** One kvxpack argument and the plugin parameter it came from, for messages. */
    private static final class Argument {
        final String parameter;
        final String option;
        final String value;
        final File file;

        Argument(String parameter, String option, String value, File file) {
            this.parameter = parameter;
            this.option = option;
            this.value = value;
            this.file = file;
        }
    }

    @Override
    public void execute() throws MojoExecutionException, MojoFailureException {
        if (skip) {
            getLog().info("kvx: skipped (kvx.skip)");
            return;
        }
        if ("pom".equals(project.getPackaging()) && jar == null) {
            getLog().info("kvx: nothing to pack in a project of packaging pom");
            return;
        }
        // Everything the configuration decides is checked before kvxpack runs.
        List<PackArch> kinds = archs();
        List<File> outputs = new ArrayList<>();
        for (PackArch kind : kinds) {
            File out = kind.output(outfile.getAbsoluteFile());
            if (outputs.contains(out)) {
                throw new MojoFailureException("kvx: parameter <outfile> " + outfile + ": two of the executables of <arch>"
                        + " would be " + out + "; end it with .exe");
            }
            outputs.add(out);
        }
        DependencyMode mode = DependencyMode.parse(dependencies == null ? "merge" : dependencies);
        if (mode == null) {
            throw new MojoFailureException("kvx: parameter <dependencies> '" + dependencies + "': use "
                    + DependencyMode.choices());
        }
        File application = applicationJar();
        checkMainClass(application);
        List<File> dependencyJars = dependencyJars();

        List<Argument> common = new ArrayList<>();
        common.add(new Argument("jar", "--jar", application.getPath(), application));
        if (mode == DependencyMode.MERGE || mode == DependencyMode.KEEP) {
            for (File dependency : dependencyJars) {
                common.add(new Argument("dependencies", "--jar", dependency.getPath(), dependency));
            }
        }
        // kvxpack refuses --keep-jars with one jar alone: a project without dependencies merges.
        if (mode == DependencyMode.KEEP && !dependencyJars.isEmpty()) {
            common.add(new Argument("dependencies", "--keep-jars", null, null));
        }
        configurationArguments(common);
        if (mode == DependencyMode.LIBS) {
            common.add(new Argument("libsDirectory", "--libs", libsDirectory, null));
        }
        List<Argument> windowsOnly = windowsArguments();

        PackTools tools = PackTools.prepare(pluginVersion, toolsCache);
        File outFolder = outfile.getAbsoluteFile().getParentFile();
        if (!outFolder.isDirectory() && !outFolder.mkdirs()) {
            throw new MojoExecutionException("kvx: cannot create the folder of <outfile> " + outFolder);
        }
        if (mode == DependencyMode.LIBS) {
            copyLibs(new File(outFolder, libsDirectory), dependencyJars);
        }
        for (PackArch kind : kinds) {
            List<Argument> arguments = new ArrayList<>(common);
            if (kind.windows()) {
                arguments.addAll(windowsOnly);
            }
            File out = kind.output(outfile.getAbsoluteFile());
            arguments.add(new Argument("outfile", "-o", out.getPath(), out));
            runKvxpack(tools, kind, arguments);
            getLog().info("kvx: wrote " + out + " (" + kind.parameterValue + ", " + out.length() + " bytes)");
        }
    }

    private List<PackArch> archs() throws MojoFailureException {
        List<PackArch> kinds = new ArrayList<>();
        List<String> values = arch == null || arch.isEmpty() ? Arrays.asList("x64") : arch;
        for (String value : values) {
            for (String item : value.split(",")) {
                if (item.trim().isEmpty()) {
                    continue;
                }
                PackArch kind = PackArch.parse(item);
                if (kind == null) {
                    throw new MojoFailureException("kvx: parameter <arch> '" + item.trim() + "': use " + PackArch.choices());
                }
                if (!kinds.contains(kind)) {
                    kinds.add(kind);
                }
            }
        }
        if (kinds.isEmpty()) {
            throw new MojoFailureException("kvx: parameter <arch> names no executable: use " + PackArch.choices());
        }
        return kinds;
    }

    private File applicationJar() throws MojoFailureException {
        File file = jar != null ? jar : project.getArtifact().getFile();
        if (file == null || !file.isFile()) {
            throw new MojoFailureException("kvx: the project's jar is not built"
                    + (file == null ? "" : " (" + file + ")")
                    + ": run pack in the package phase after the jar plugin, or name a jar with parameter <jar>");
        }
        return file;
    }

    /** The main class must be named somewhere, or the executable could not start. */
    private void checkMainClass(File application) throws MojoFailureException {
        if (mainClass != null && !mainClass.trim().isEmpty()) {
            return;
        }
        if (config != null && config.isFile()) {
            try {
                for (String line : Files.readAllLines(config.toPath(), StandardCharsets.ISO_8859_1)) {
                    if (line.trim().matches("mainclass[\\s=].*")) {
                        return;
                    }
                }
            } catch (IOException e) {
                throw new MojoFailureException("kvx: parameter <config> " + config + ": " + e.getMessage(), e);
            }
        }
        String found = null;
        try (JarFile file = new JarFile(application)) {
            Manifest jarManifest = file.getManifest();
            if (jarManifest != null) {
                found = jarManifest.getMainAttributes().getValue("Main-Class");
            }
        } catch (IOException e) {
            throw new MojoFailureException("kvx: parameter <jar> " + application + ": not a readable jar: " + e.getMessage(), e);
        }
        if (found == null || found.trim().isEmpty()) {
            throw new MojoFailureException("kvx: no main class: set parameter <mainClass>, a mainclass line in <config>,"
                    + " or Main-Class in the manifest of " + application);
        }
    }

    /** The runtime-scope dependency jars in resolution order, without our own API classes. */
    private List<File> dependencyJars() {
        List<File> jars = new ArrayList<>();
        for (Artifact artifact : project.getArtifacts()) {
            File file = artifact.getFile();
            if (file == null || !artifact.getArtifactHandler().isAddedToClasspath() || !file.isFile()) {
                continue;
            }
            // kvxpack always adds its own com.quorvane.kvx classes; the API jar adds nothing.
            if ("com.quorvane.kvx".equals(artifact.getGroupId()) && "kvx-runtime".equals(artifact.getArtifactId())) {
                continue;
            }
            jars.add(file);
        }
        return jars;
    }

    private void configurationArguments(List<Argument> arguments) {
        if (config != null) {
            arguments.add(new Argument("config", "--config", config.getPath(), config));
        }
        addIfSet(arguments, "mainClass", "--main", mainClass);
        addIfSet(arguments, "minjre", "--minjre", minjre);
        addIfSet(arguments, "jreOrder", "--jre-order", jreOrder);
        if (cds != null && !cds.trim().isEmpty()) {
            arguments.add(new Argument("cds", "--cds=" + cds.trim(), null, null));
        }
        if (options != null) {
            for (String option : options) {
                arguments.add(new Argument("options", "--option", option, null));
            }
        }
        if (properties != null) {
            for (Map.Entry<String, String> property : new TreeMap<>(properties).entrySet()) {
                String value = property.getValue() == null ? "" : property.getValue();
                arguments.add(new Argument("properties", "--property", property.getKey() + "=" + value, null));
            }
        }
    }

    private List<Argument> windowsArguments() {
        List<Argument> arguments = new ArrayList<>();
        if (icon != null) {
            arguments.add(new Argument("icon", "--icon", icon.getPath(), icon));
        }
        if (trayIcons != null) {
            for (String entry : trayIcons) {
                int equals = entry.indexOf('=');
                File file = equals < 0 ? null : resolve(entry.substring(equals + 1).trim());
                String value = file == null ? entry : entry.substring(0, equals).trim() + "=" + file.getPath();
                arguments.add(new Argument("trayIcons", "--tray-icon", value, file));
            }
        }
        if (splash != null) {
            arguments.add(new Argument("splash", "--splash", splash.getPath(), splash));
        }
        if (manifest != null) {
            arguments.add(new Argument("manifest", "--manifest", manifest.getPath(), manifest));
        }
        if (utf8) {
            arguments.add(new Argument("utf8", "--utf8", null, null));
        }
        for (Map.Entry<String, String> entry : versionRecord().entrySet()) {
            arguments.add(new Argument("versionInfo", "--version", entry.getKey() + "=" + entry.getValue(), null));
        }
        return arguments;
    }

    /** The project's version, name, organization and description, then the overrides. */
    private Map<String, String> versionRecord() {
        Map<String, String> record = new LinkedHashMap<>();
        Organization organization = project.getOrganization();
        String[] defaults = {project.getVersion(), project.getVersion(), project.getName(),
            organization == null ? null : organization.getName(), project.getDescription()};
        for (int i = 0; i < VERSION_KEYS.length; i++) {
            String value = oneLine(defaults[i]);
            if (!value.isEmpty()) {
                record.put(VERSION_KEYS[i], value);
            }
        }
        if (versionInfo != null) {
            for (Map.Entry<String, String> entry : new TreeMap<>(versionInfo).entrySet()) {
                String value = entry.getValue() == null ? "" : entry.getValue().trim();
                if (value.isEmpty()) {
                    record.remove(entry.getKey());
                } else {
                    record.put(entry.getKey(), value);
                }
            }
        }
        return record;
    }

    /** A POM's description may span lines; a version record value is one line. */
    private static String oneLine(String text) {
        return text == null ? "" : text.trim().replaceAll("\\s+", " ");
    }

    private static void addIfSet(List<Argument> arguments, String parameter, String option, String value) {
        if (value != null && !value.trim().isEmpty()) {
            arguments.add(new Argument(parameter, option, value.trim(), null));
        }
    }

    private File resolve(String path) {
        File file = new File(path);
        return file.isAbsolute() ? file : new File(project.getBasedir(), path);
    }

    /** The folder ends up with exactly these jars: one left from an older dependency version would join the class path. */
    private void copyLibs(File folder, List<File> jars) throws MojoExecutionException {
        try {
            Files.createDirectories(folder.toPath());
            List<String> names = new ArrayList<>();
            for (File source : jars) {
                names.add(source.getName());
                Files.copy(source.toPath(), new File(folder, source.getName()).toPath(), StandardCopyOption.REPLACE_EXISTING);
            }
            File[] present = folder.listFiles();
            for (File file : present == null ? new File[0] : present) {
                if (file.isFile() && file.getName().endsWith(".jar") && !names.contains(file.getName())) {
                    Files.delete(file.toPath());
                }
            }
        } catch (IOException e) {
            throw new MojoExecutionException("kvx: parameter <libsDirectory>: cannot copy the dependencies into "
                    + folder + ": " + e, e);
        }
    }

    private void runKvxpack(PackTools tools, PackArch kind, List<Argument> arguments)
            throws MojoExecutionException, MojoFailureException {
        List<String> command = new ArrayList<>();
        command.add(tools.kvxpack().toString());
        command.addAll(tools.stubArguments(kind));
        for (Argument argument : arguments) {
            command.add(argument.option);
            if (argument.value != null) {
                command.add(argument.value);
            }
        }
        getLog().debug("kvx: " + String.join(" ", command));
        File log = null;
        try {
            log = File.createTempFile("kvxpack", ".log");
            Process process = new ProcessBuilder(command).redirectErrorStream(true)
                    .redirectOutput(log).redirectInput(ProcessBuilder.Redirect.PIPE).start();
            process.getOutputStream().close();
            if (!process.waitFor(KVXPACK_TIMEOUT_MINUTES, TimeUnit.MINUTES)) {
                process.destroyForcibly();
                throw new MojoExecutionException("kvx: kvxpack did not finish within " + KVXPACK_TIMEOUT_MINUTES + " minutes");
            }
            String output = new String(Files.readAllBytes(log.toPath()), StandardCharsets.UTF_8).trim();
            int code = process.exitValue();
            if (code == 0) {
                for (String line : output.split("\r?\n")) {
                    if (!line.isEmpty()) {
                        getLog().warn(line);
                    }
                }
                return;
            }
            if (code == 2) {
                throw new MojoFailureException(refusal(kind, arguments, output));
            }
            throw new MojoExecutionException("kvx: kvxpack could not write " + kind.output(outfile.getAbsoluteFile())
                    + " (exit status " + code + "): " + output);
        } catch (IOException e) {
            throw new MojoExecutionException("kvx: cannot run " + tools.kvxpack() + ": " + e, e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new MojoExecutionException("kvx: interrupted while kvxpack ran", e);
        } finally {
            if (log != null && !log.delete()) {
                log.deleteOnExit();
            }
        }
    }

    /** kvxpack's one line, preceded by the parameter (and file) it is about. */
    static String refusal(PackArch kind, List<Argument> arguments, String output) {
        String message = output.replaceFirst("^kvxpack: ", "").replace(" (see kvxpack --help)", "");
        // The longest path the message names: target/app is part of target/app-1.0.jar.
        Argument about = null;
        for (Argument argument : arguments) {
            if (argument.file != null && output.contains(argument.file.getPath())
                    && (about == null || argument.file.getPath().length() > about.file.getPath().length())) {
                about = argument;
            }
        }
        if (about == null) {
            for (Argument argument : arguments) {
                if (output.contains(argument.option.replaceFirst("=.*", "") + " ")) {
                    about = argument;
                    break;
                }
            }
        }
        String where = kind.parameterValue + " executable";
        if (about == null) {
            return "kvx: kvxpack refused the " + where + ": " + message;
        }
        String file = about.file == null ? "" : " (file " + about.file.getPath() + ")";
        return "kvx: parameter <" + about.parameter + ">" + file + ", " + where + ": " + message;
    }
}
