package com.quorvane.kvx;

/**
 * The later starts of a single-instance application (configuration key {@code single_instance}):
 * each hands its arguments and working directory to the running instance and ends.
 */
public final class SingleInstance {
    private static final boolean NATIVES = SplashScreen.bindNatives(SingleInstance.class);

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
     * removes it: starts wait again (up to 32 of them) until another is set. Outside a kvx
     * executable, or in one packed without {@code single_instance}, no start is ever handed
     * over and the listener is never called.
     *
     * @param listener receives the later starts; null for none
     */
    public static void setListener(Listener listener) {
        if (NATIVES) {
            nativeSetListener(listener);
        }
    }

    private static native void nativeSetListener(Listener listener);
}
