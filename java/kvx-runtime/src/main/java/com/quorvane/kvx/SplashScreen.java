package com.quorvane.kvx;

/**
 * The splash window that the launcher shows while the application starts. All instances
 * act on the one splash of the process.
 */
public final class SplashScreen {
    static {
        String path = System.getProperty("kvx.app.path");
        if (path != null) {
            System.load(path);
        }
    }

    /** An object acting on the process's one splash; prefer {@link #getSplashScreen()}. */
    public SplashScreen() {
    }

    /**
     * The splash while its window exists. The Linux launcher shows no splash.
     *
     * @return the splash, or null when the executable carries none or it has gone
     */
    public static SplashScreen getSplashScreen() {
        return nativeGetSplashScreen();
    }

    /**
     * Closes the splash after the given time, even after {@code main} has returned. Any call
     * takes charge of the splash: the launcher no longer closes it 750 ms after {@code main}.
     * Does nothing once the splash has gone.
     *
     * @param delay milliseconds from now; a negative delay cancels a pending close
     */
    public void autoClose(int delay) {
        nativeAutoClose(delay);
    }

    /** Closes the splash now; does nothing once it has gone. */
    public void close() {
        nativeClose();
    }

    /**
     * The native side of {@link #getSplashScreen()}.
     *
     * @return the splash, or null
     */
    protected static native SplashScreen nativeGetSplashScreen();

    /**
     * The native side of {@link #autoClose(int)}.
     *
     * @param delay milliseconds from now; negative cancels
     */
    protected native void nativeAutoClose(int delay);

    /** The native side of {@link #close()}. */
    protected native void nativeClose();
}
