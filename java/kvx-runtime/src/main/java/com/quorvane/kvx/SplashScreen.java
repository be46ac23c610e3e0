package com.quorvane.kvx;

/**
 * The splash picture that a kvx executable shows while its application starts.
 *
 * <p>Every instance acts on the one splash of the process; the objects carry no state of their
 * own. Methods may be called from any thread and return at once: the splash lives on a thread of
 * the launcher. Unless the application calls {@link #autoClose(int)} or {@link #close()}, the
 * launcher closes the splash 750 ms after {@code main} has returned; a key press in the splash
 * closes it too.
 *
 * <p>Per system:
 * <ul>
 * <li>Windows: the splash is bitmap resource 100 of the executable ({@code kvxpack --splash}),
 * shown before the configuration is read.</li>
 * <li>Linux: the same picture, stored in the executable's archive by {@code kvxpack}, shown through
 * the chosen runtime's own splash-screen library once the runtime is found, so
 * {@code java.awt.SplashScreen} sees it as well (and AWT closes it when the first window shows).
 * Without a display, or with a runtime that has no splash library, there is no splash.</li>
 * <li>Outside a kvx executable (for example {@code java -cp app.jar}): there is never a splash;
 * {@link #getSplashScreen()} returns null and nothing throws.</li>
 * </ul>
 *
 * <pre>{@code
 * SplashScreen splash = SplashScreen.getSplashScreen();
 * if (splash != null) {
 *     splash.close();
 * }
 * }</pre>
 */
public final class SplashScreen {
    /** Whether the natives of the API classes can be called in this process. */
    static final boolean NATIVES = bindNatives(SplashScreen.class);

    /**
     * Makes the natives of an API class callable: true when they are. The Linux launcher
     * registers them itself (an executable is no loadable library there) and says so in the
     * property {@code kvx.natives}; the Windows launcher is loaded as the library.
     */
    static boolean bindNatives(Class<?> api) {
        try {
            if ("registered".equals(System.getProperty("kvx.natives"))) {
                // Registered on the classes of the application's class loader only.
                return api.getClassLoader() == ClassLoader.getSystemClassLoader();
            }
            String path = System.getProperty("kvx.app.path");
            if (path == null) {
                return false;
            }
            System.load(path);
            return true;
        } catch (LinkageError e) {
            return false;
        } catch (RuntimeException e) {
            return false;
        }
    }

    /**
     * Makes an object that acts on the process's splash. Applications use
     * {@link #getSplashScreen()}, which returns one only while a splash shows.
     */
    public SplashScreen() {
    }

    /**
     * The splash while it shows.
     *
     * @return a new object acting on the splash while it shows; null when there is none, when it
     *     has closed, and always outside a kvx executable
     */
    public static SplashScreen getSplashScreen() {
        return NATIVES ? nativeGetSplashScreen() : null;
    }

    /**
     * Closes the splash after a delay. A delay of 0 or more (re)arms the close to that many
     * milliseconds from now, even when {@code main} has returned meanwhile; a negative delay
     * cancels a pending close, so the splash stays until {@link #close()}. Either way the
     * launcher no longer closes it 750 ms after {@code main}. Does nothing once the splash has
     * gone.
     *
     * @param delay milliseconds until the splash closes, or a negative number to keep it up
     */
    public void autoClose(int delay) {
        if (NATIVES) {
            nativeAutoClose(delay);
        }
    }

    /** Closes the splash now; does nothing once it has gone. */
    public void close() {
        if (NATIVES) {
            nativeClose();
        }
    }

    /**
     * The launcher's side of {@link #getSplashScreen()}.
     *
     * @return a new object while the splash shows, else null
     */
    protected static native SplashScreen nativeGetSplashScreen();

    /**
     * The launcher's side of {@link #autoClose(int)}.
     *
     * @param delay milliseconds until the splash closes, or a negative number to keep it up
     */
    protected native void nativeAutoClose(int delay);

    /** The launcher's side of {@link #close()}. */
    protected native void nativeClose();
}
