package hello;

import com.quorvane.kvx.SplashScreen;
import com.quorvane.kvx.SystemTray;
import com.quorvane.kvx.SystemTrayCallback;
import com.quorvane.kvx.SystemTrayMenu;

import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * The kvx example: a small desktop application that uses the whole Java API of kvx.
 *
 * <p>While the launcher's splash shows, it prints its arguments and the launcher's system
 * properties, puts an icon with a tooltip and a balloon into the notification area, builds a
 * right-click menu (items, a separator, a submenu), "loads" for a moment, opens its window and
 * then closes the splash. It ends when its window is closed, when "Quit" is chosen in the tray
 * menu, or after {@code --seconds N}. Without a display it prints and ends.
 *
 * <p>Options (every other argument is only printed): {@code --seconds N} ends N seconds after
 * the window opened; {@code --load-ms N} is how long the start "loads" with the splash up
 * (default 1500). The property {@code hello.log} names a file that receives the status lines too.
 */
public final class Main {
    /** The tray icon's resource id: {@code kvxpack --tray-icon 101=hello.ico}. */
    static final int TRAY_ICON = 101;

    static final int SHOW_WINDOW = 1;
    static final int BALLOON = 2;
    static final int PROPERTIES = 10;
    static final int ABOUT = 11;
    static final int QUIT = 99;

    private static final CountDownLatch QUIT_LATCH = new CountDownLatch(1);
    private static Writer log;
    private static Window window;

    private Main() {}

    public static void main(String[] args) throws Exception {
        String logPath = System.getProperty("hello.log");
        if (logPath != null) {
            log = new OutputStreamWriter(new FileOutputStream(logPath, true), "UTF-8");
        }
        int seconds = intOption(args, "--seconds", -1);
        int loadMs = intOption(args, "--load-ms", 1500);

        say("hello from " + Main.class.getName() + " on Java " + System.getProperty("java.version"));
        say("arguments: " + args.length);
        for (int i = 0; i < args.length; i++) {
            say("  arg[" + i + "] = " + args[i]);
        }
        for (String line : launcherProperties()) {
            say(line);
        }

        // Taken before any window opens: on Linux AWT closes the splash with the first window.
        SplashScreen splash = SplashScreen.getSplashScreen();
        say("splash: " + (splash != null ? "showing" : "none"));
        say("java.awt.SplashScreen: " + Window.awtSplash());

        final SystemTray tray = new SystemTray(TRAY_ICON, "kvx example", "The example is starting",
                "kvx example", SystemTray.INFOTYPE_INFO);
        final SystemTrayMenu menu = trayMenu();
        SystemTray.setSystemTrayCallback(new SystemTrayCallback() {
            // Both run on the launcher's tray thread: quick work only.
            public void OnMouseClick(SystemTray icon, int event) {
                say("tray click: " + event);
                if (event == SystemTray.RIGHT_CLICK) {
                    menu.Popup();
                } else if (event == SystemTray.LEFT_DOUBLE_CLICK && window != null) {
                    window.toFront();
                }
            }

            public void OnMenuCommand(int id) {
                say("menu command: " + id);
                if (id == QUIT) {
                    QUIT_LATCH.countDown();
                } else if (id == BALLOON) {
                    tray.Change(0, "kvx example", "Hello from the tray", "kvx example", SystemTray.INFOTYPE_INFO);
                } else if (id == SHOW_WINDOW && window != null) {
                    window.toFront();
                } else if (id == PROPERTIES) {
                    for (String line : launcherProperties()) {
                        say(line);
                    }
                } else if (id == ABOUT) {
                    say("kvx example: one executable, the Java application inside");
                }
            }
        });
        tray.Show();
        say("tray: shown");

        // The application's own start-up work, while the splash tells the user it is coming.
        Thread.sleep(loadMs);

        window = Window.open(args, QUIT_LATCH);
        say("window: " + (window != null ? "shown" : "none (no display)"));
        if (splash != null) {
            splash.autoClose(0);
        }
        Thread.sleep(300);
        say("splash after the window: " + (SplashScreen.getSplashScreen() != null ? "showing" : "closed"));

        if (window != null || isWindows()) {
            if (seconds >= 0) {
                QUIT_LATCH.await(seconds, TimeUnit.SECONDS);
            } else {
                QUIT_LATCH.await();
            }
        }
        tray.Hide();
        if (window != null) {
            window.close();
        }
        say("bye");
        if (log != null) {
            log.close();
        }
        // Ends the window system's threads too; the launcher removes what is left in the tray.
        System.exit(0);
    }

    static SystemTrayMenu trayMenu() {
        SystemTrayMenu more = new SystemTrayMenu();
        more.Append("Print the properties", PROPERTIES);
        more.Append("About", ABOUT);
        SystemTrayMenu menu = new SystemTrayMenu();
        menu.Append("Show the window", SHOW_WINDOW);
        menu.Append("Show a balloon", BALLOON);
        menu.Append("More", more);
        menu.AppendSeparator();
        menu.Append("Quit", QUIT);
        return menu;
    }

    /** The kvx.* properties and the paths the launcher sets, one "name = value" each. */
    static List<String> launcherProperties() {
        List<String> names = new ArrayList<String>();
        for (String name : System.getProperties().stringPropertyNames()) {
            if (name.startsWith("kvx.")) {
                names.add(name);
            }
        }
        Collections.sort(names);
        names.add("application.home");
        names.add("java.class.path");
        names.add("user.dir");
        List<String> lines = new ArrayList<String>();
        for (String name : names) {
            lines.add(name + " = " + System.getProperty(name));
        }
        return lines;
    }

    static boolean isWindows() {
        return System.getProperty("os.name", "").startsWith("Windows");
    }

    static int intOption(String[] args, String name, int otherwise) {
        for (int i = 0; i + 1 < args.length; i++) {
            if (args[i].equals(name)) {
                try {
                    return Integer.parseInt(args[i + 1]);
                } catch (NumberFormatException e) {
                    return otherwise;
                }
            }
        }
        return otherwise;
    }

    static synchronized void say(String line) {
        System.out.println(line);
        System.out.flush();
        if (log != null) {
            try {
                log.write(line + "\n");
                log.flush();
            } catch (IOException e) {
                log = null;
            }
        }
    }
}
