package svc;

import java.io.File;
import java.io.FileOutputStream;

/** A service's main: leaves marker files in the folder of its argument, waits until stop(). */
public class ServiceApp {
    private static final Object LOCK = new Object();
    private static boolean stopped;
    private static File folder;

    static void mark(String name) {
        try {
            new FileOutputStream(new File(folder, name)).close();
        } catch (Exception e) {
            e.printStackTrace();
        }
        System.out.println(name);
    }

    public static void stop() {
        mark("stop-called");
        synchronized (LOCK) {
            stopped = true;
            LOCK.notifyAll();
        }
    }

    public static void main(String[] args) throws InterruptedException {
        folder = new File(args[0]);
        Runtime.getRuntime().addShutdownHook(new Thread() {
            public void run() {
                mark("hook-ran");
            }
        });
        mark("main-started");
        synchronized (LOCK) {
            while (!stopped) LOCK.wait();
        }
        mark("main-returns");
    }
}
