package app;

/**
 * Prints its arguments and the launcher's system properties, one per line; with the property
 * depth, then how deep main's thread and a new thread (whose stack -Xss sets) can call.
 */
public class Props {
    public static void main(String[] args) throws InterruptedException {
        System.out.println("argc=" + args.length);
        for (int i = 0; i < args.length; i++) {
            System.out.println("arg" + i + "=[" + args[i] + "]");
        }
        for (String key : new String[] {"kvx.app.path", "application.home", "java.class.path", "user.dir", "x", "a.b"}) {
            System.out.println(key + "=" + System.getProperty(key));
        }
        System.out.println("maxMemory=" + Runtime.getRuntime().maxMemory());
        if (System.getProperty("depth") == null) {
            return;
        }
        System.out.println("depth.thread=" + StackDepth.onNewThread());
        System.out.println("depth.main=" + StackDepth.here());
    }
}
