package app;

import com.quorvane.kvx.SplashScreen;
import com.quorvane.kvx.SystemTray;
import com.quorvane.kvx.SystemTrayCallback;
import com.quorvane.kvx.SystemTrayMenu;
import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;

/**
 * What a real VM gave the application, as key=value lines on standard output (and, when the
 * property probe.log names a file, appended to that file the moment they happen, for tests
 * that act while the program runs). The first argument picks the mode:
 *   props [args...]   arguments, memory, properties, class path, working directory; with the
 *                     property probe.depth, how deep main's thread and a new thread (whose
 *                     stack -Xss sets) can call
 *   api [args...]     props, then the Java API's natives: SplashScreen.getSplashScreen()
 *   throw             an exception out of main
 *   handled           the same with a default uncaught-exception handler set
 *   exit N            System.exit(N)
 *   thread MS         a non-daemon thread that ends MS ms after main returned
 *   splash            the splash object, close(), the splash object again
 *   tray              an icon with a menu; waits for clicks (menu item 12 calls System.exit(9))
 *   wait FILE         returns once FILE exists (at most 60 s)
 */
public final class Probe {
    private static final long MAIN_MS = System.currentTimeMillis();

    private Probe() {
    }

    static synchronized void say(String key, Object value) {
        String line = key + "=" + value;
        System.out.println(line);
        System.out.flush();
        String log = System.getProperty("probe.log");
        if (log != null) {
            try (OutputStream out = new FileOutputStream(log, true)) {
                out.write((line + "\n").getBytes(StandardCharsets.UTF_8));
            } catch (IOException e) {
                System.out.println("log.error=" + e);
            }
        }
    }

    static String escape(String s) {
        StringBuilder b = new StringBuilder();
        for (char c : s.toCharArray()) {
            if (c >= 0x20 && c < 0x7f) {
                b.append(c);
            } else {
                b.append(String.format("\\u%04x", (int) c));
            }
        }
        return b.toString();
    }

    public static void main(String[] args) throws Exception {
        say("main.ms", MAIN_MS);
        String mode = args.length > 0 ? args[0] : "props";
        if (mode.equals("props")) {
            props(args);
        } else if (mode.equals("api")) {
            props(args);
            say("splash", SplashScreen.getSplashScreen() != null);
        } else if (mode.equals("throw")) {
            throw new IllegalStateException("thrown out of main");
        } else if (mode.equals("handled")) {
            Thread.setDefaultUncaughtExceptionHandler(new Thread.UncaughtExceptionHandler() {
                public void uncaughtException(Thread t, Throwable e) {
                    say("handled", e.getMessage() + " on " + t.getName());
                }
            });
            throw new IllegalStateException("thrown to the handler");
        } else if (mode.equals("exit")) {
            say("exiting", args[1]);
            System.exit(Integer.parseInt(args[1]));
        } else if (mode.equals("thread")) {
            final long ms = Long.parseLong(args[1]);
            Thread t = new Thread(new Runnable() {
                public void run() {
                    try {
                        Thread.sleep(ms);
                    } catch (InterruptedException e) {
                        return;
                    }
                    say("thread.ended.ms", System.currentTimeMillis());
                }
            });
            t.start();
            say("main.returns.ms", System.currentTimeMillis());
        } else if (mode.equals("splash")) {
            splash();
        } else if (mode.equals("tray")) {
            tray();
        } else if (mode.equals("wait")) {
            waitFor(new File(args[1]), 60000);
        } else {
            say("unknown.mode", mode);
            System.exit(99);
        }
    }

    static void props(String[] args) {
        say("args", args.length - 1);
        for (int i = 1; i < args.length; i++) {
            say("arg." + (i - 1), escape(args[i]));
        }
        say("maxMemory", Runtime.getRuntime().maxMemory());
        for (String key : new String[] {"java.version", "java.home", "user.dir", "java.class.path", "kvx.app.path",
                "application.home", "probe.x", "probe.y"}) {
            say(key, escape(String.valueOf(System.getProperty(key))));
        }
        say("cwd", escape(new File(".").getAbsoluteFile().getParent()));
        for (String name : new String[] {"lib.LibA", "lib.LibB", "lib.LibC"}) {
            String where;
            try {
                where = Class.forName(name).getProtectionDomain().getCodeSource().getLocation().getPath();
            } catch (ClassNotFoundException e) {
                where = "missing";
            }
            say("class." + name, where);
        }
        if (System.getProperty("probe.depth") == null) {
            return;
        }
        try {
            say("depth.thread", StackDepth.onNewThread());
        } catch (InterruptedException e) {
            return;
        }
        say("depth.main", StackDepth.here());
    }

    static void waitFor(File file, long ms) throws InterruptedException {
        long end = System.currentTimeMillis() + ms;
        while (!file.exists() && System.currentTimeMillis() < end) {
            Thread.sleep(50);
        }
        say("waited", file.exists());
    }

    static void splash() throws InterruptedException {
        SplashScreen s = SplashScreen.getSplashScreen();
        say("splash.got", s != null);
        say("splash.shown", System.currentTimeMillis());
        Thread.sleep(Long.getLong("probe.splash.ms", 2500L));
        if (s != null) {
            s.close();
        }
        say("splash.after.close", SplashScreen.getSplashScreen() != null);
        say("splash.closed", System.currentTimeMillis());
        Thread.sleep(Long.getLong("probe.splash.ms", 2500L));
    }

    static void tray() throws InterruptedException {
        final SystemTrayMenu menu = new SystemTrayMenu();
        menu.Append("One", 11);
        menu.AppendSeparator();
        menu.Append("Quit", 12);
        SystemTray.setSystemTrayCallback(new SystemTrayCallback() {
            public void OnMouseClick(SystemTray t, int event) {
                say("click", event + " " + Thread.currentThread().getName());
                if (event == SystemTray.RIGHT_CLICK) {
                    menu.Popup();
                    say("popup.closed", event);
                }
            }

            public void OnMenuCommand(int id) {
                say("menu", id);
                if (id == 12) {
                    System.exit(9);
                }
            }
        });
        SystemTray icon = new SystemTray(1, "probe tray");
        icon.Show();
        say("tray.shown", System.currentTimeMillis());
        Thread.sleep(Long.getLong("probe.tray.ms", 90000L));
        say("tray.timeout", 1);
    }
}
