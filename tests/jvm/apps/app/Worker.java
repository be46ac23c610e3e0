package app;

import java.io.FileOutputStream;

/** main returns at once; a non-daemon thread writes the file named by its argument later. */
public class Worker {
    public static void main(final String[] args) {
        Thread t = new Thread(new Runnable() {
            public void run() {
                try {
                    Thread.sleep(700);
                    FileOutputStream out = new FileOutputStream(args[0]);
                    out.write("done".getBytes("UTF-8"));
                    out.close();
                } catch (Exception e) {
                    e.printStackTrace();
                }
            }
        });
        t.setDaemon(false);
        t.start();
        System.out.println("main returns");
    }
}
