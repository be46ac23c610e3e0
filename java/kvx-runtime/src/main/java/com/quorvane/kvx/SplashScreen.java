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

    public SplashScreen() {
    }

    /** The splash while its window exists, otherwise null. */
    public static SplashScreen getSplashScreen() {
        return nativeGetSplashScreen();
    }

    /** Closes the splash after the given milliseconds; a negative delay cancels a pending close. */
    public void autoClose(int delay) {
        nativeAutoClose(delay);
    }

    /** Closes the splash now. */
    public void close() {
        nativeClose();
    }

    protected static native SplashScreen nativeGetSplashScreen();

    protected native void nativeAutoClose(int delay);

    protected native void nativeClose();
}
