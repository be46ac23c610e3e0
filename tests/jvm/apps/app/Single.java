package app;

import java.io.FileOutputStream;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.lang.reflect.InvocationHandler;
import java.lang.reflect.Method;
import java.lang.reflect.Proxy;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * A single-instance application: args OUT READY STOP. Sets a SingleInstance listener that
 * appends every hand-over to OUT as one line (thread name, working directory, then the
 * arguments, tab-separated, non-ASCII as \\uXXXX), creates READY, and ends once STOP exists.
 * The API is reached by reflection, so the app compiles without the runtime classes.
 */
public class Single {
    static String escape(String s) {
        StringBuilder b = new StringBuilder();
        for (char c : s.toCharArray()) {
            if (c < 0x20 || c > 0x7E) b.append(String.format("\\u%04x", (int) c));
            else b.append(c);
        }
        return b.toString();
    }

    public static void main(String[] args) throws Exception {
        final String out = args[0];
        Class<?> api = Class.forName("com.quorvane.kvx.SingleInstance");
        Class<?> listenerType = Class.forName("com.quorvane.kvx.SingleInstance$Listener");
        InvocationHandler handler = new InvocationHandler() {
            public Object invoke(Object proxy, Method m, Object[] a) throws Throwable {
                if (!m.getName().equals("onStart")) return null;
                StringBuilder line = new StringBuilder(Thread.currentThread().getName());
                line.append('\t').append(escape((String) a[1]));
                for (String s : (String[]) a[0]) line.append('\t').append(escape(s));
                synchronized (Single.class) {
                    Writer w = new OutputStreamWriter(new FileOutputStream(out, true), StandardCharsets.UTF_8);
                    w.write(line.append('\n').toString());
                    w.close();
                }
                return null;
            }
        };
        Object listener = Proxy.newProxyInstance(listenerType.getClassLoader(), new Class<?>[] {listenerType}, handler);
        api.getMethod("setListener", listenerType).invoke(null, listener);
        Files.createFile(Paths.get(args[1]));
        for (int i = 0; i < 1200 && !Files.exists(Paths.get(args[2])); i++) Thread.sleep(50);
    }
}
