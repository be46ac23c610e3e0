package app;

/** Prints its arguments and the launcher's system properties, one per line. */
public class Props {
    public static void main(String[] args) {
        System.out.println("argc=" + args.length);
        for (int i = 0; i < args.length; i++) {
            System.out.println("arg" + i + "=[" + args[i] + "]");
        }
        for (String key : new String[] {"kvx.app.path", "application.home", "java.class.path", "user.dir", "x", "a.b"}) {
            System.out.println(key + "=" + System.getProperty(key));
        }
        System.out.println("maxMemory=" + Runtime.getRuntime().maxMemory());
    }
}
