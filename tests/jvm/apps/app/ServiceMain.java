package app;

/** A service's main: waits until stop() is called; a shutdown hook says when it runs. */
public class ServiceMain {
    private static final Object LOCK = new Object();
    private static boolean stopped;

    static {
        // Runs before main, once the runtime exists: readiness must not be told this early.
        System.out.println("static init");
        System.out.flush();
        try {
            Thread.sleep(1500);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    public static void stop() {
        System.out.println("stop called on " + Thread.currentThread().getName()
                + (Thread.currentThread().isDaemon() ? " (daemon)" : ""));
        synchronized (LOCK) {
            stopped = true;
            LOCK.notifyAll();
        }
    }

    public static void main(String[] args) throws InterruptedException {
        Runtime.getRuntime().addShutdownHook(new Thread() {
            public void run() {
                System.out.println("hook ran");
            }
        });
        System.out.println("main started");
        System.out.flush();
        synchronized (LOCK) {
            while (!stopped) LOCK.wait();
        }
        System.out.println("main returns");
    }
}
