package hello;

/** Shows what a kvx launcher handed to Java: the arguments and the launcher's system properties. */
public final class Main {
    private static final String[] PROPERTIES = {"kvx.app.path", "application.home", "java.class.path", "user.dir"};

    private Main() {}

    public static void main(String[] args) {
        System.out.println("hello from " + Main.class.getName() + " on Java " + System.getProperty("java.version"));
        System.out.println("arguments: " + args.length);
        for (int i = 0; i < args.length; i++) {
            System.out.println("  arg[" + i + "] = " + args[i]);
        }
        for (String name : PROPERTIES) {
            System.out.println(name + " = " + System.getProperty(name));
        }
    }
}
