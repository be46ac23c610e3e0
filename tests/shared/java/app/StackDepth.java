package app;

/**
 * How deep a thread can call before its stack ends: main's thread against a new thread, whose
 * stack -Xss sets. Shared by the test programs of the Linux and the Windows suites.
 */
final class StackDepth {
    private static int depth;

    private StackDepth() {
    }

    private static void descend() {
        depth++;
        descend();
    }

    /** The calls this thread makes until its stack ends. */
    static int here() {
        depth = 0;
        try {
            descend();
        } catch (StackOverflowError e) {
            // the end of this thread's stack
        }
        return depth;
    }

    /** here() on a new thread with the runtime's default stack. */
    static int onNewThread() throws InterruptedException {
        final int[] calls = new int[1];
        Thread thread = new Thread(new Runnable() {
            public void run() {
                calls[0] = here();
            }
        });
        thread.start();
        thread.join();
        return calls[0];
    }
}
