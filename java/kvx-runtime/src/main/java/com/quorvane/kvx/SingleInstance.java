package com.quorvane.kvx;

/**
 * The later starts of a single-instance application (configuration key {@code single_instance}):
 * each hands its arguments and working directory to the running instance and ends.
 */
public final class SingleInstance {
    static {
        String path = System.getProperty("kvx.app.path");
        // Windows loads the executable for its exported natives; the Linux launcher registers
        // them itself (a Linux executable cannot be loaded as a library).
        if (path != null && java.io.File.separatorChar == '\\') {
            System.load(path);
        }
    }

    /** Receives the starts handed over to this instance. */
    public interface Listener {
        /**
         * Called on a thread of its own, once per later start, in the order they arrived.
         *
         * @param args the later start's arguments, as its main would have received them
         * @param workingDirectory the later start's working directory
         */
        void onStart(String[] args, String workingDirectory);
    }

    private SingleInstance() {}

    /**
     * Sets the listener; starts that arrived before are delivered to it then. {@code null}
     * removes it: starts wait again (up to 32 of them) until another is set.
     */
    public static native void setListener(Listener listener);
}
