package com.quorvane.kvx;

/**
 * An icon in the taskbar's notification area, with a tooltip and an optional balloon text.
 *
 * <p>The icon picture is an icon resource of the executable, addressed by its id: pack it with
 * {@code kvxpack --tray-icon ID=file.ico} and pass the same ID here. A new icon is hidden until
 * {@link #Show()}. Mouse notifications and menu commands reach the one
 * {@link SystemTrayCallback} set with {@link #setSystemTrayCallback(SystemTrayCallback)}, on the
 * launcher's tray thread. The methods may be called from any thread. Icons still shown when the
 * process ends are removed.
 *
 * <p>Per system:
 * <ul>
 * <li>Windows: the icon shows in the notification area; balloons need a shell of version 5 or
 * later.</li>
 * <li>Linux: there is no tray; every method returns at once without effect (with
 * {@code KVX_TRACE} set, the launcher says so once) and no callback is ever called.</li>
 * <li>Outside a kvx executable (for example {@code java -cp app.jar}): the same as Linux,
 * silently.</li>
 * </ul>
 *
 * <pre>{@code
 * SystemTray tray = new SystemTray(101, "My application");
 * tray.Show();
 * tray.Change(0, "My application", "Ready", "Started", SystemTray.INFOTYPE_INFO);
 * }</pre>
 */
public class SystemTray {
    private static final boolean NATIVES = SplashScreen.bindNatives(SystemTray.class);

    /** Balloon without an icon. */
    public static final int INFOTYPE_NONE = 0;
    /** Balloon with the information icon. */
    public static final int INFOTYPE_INFO = 1;
    /** Balloon with the warning icon. */
    public static final int INFOTYPE_WARNING = 2;
    /** Balloon with the error icon. */
    public static final int INFOTYPE_ERROR = 3;

    /** The pointer moved over the icon. */
    public static final int MOUSE_MOVE = 512;
    /** The left button was released over the icon. */
    public static final int LEFT_CLICK = 514;
    /** The left button was double-clicked on the icon. */
    public static final int LEFT_DOUBLE_CLICK = 515;
    /** The right button was released over the icon: the usual moment for a menu. */
    public static final int RIGHT_CLICK = 517;
    /** The right button was double-clicked on the icon. */
    public static final int RIGHT_DOUBLE_CLICK = 518;
    /** The middle button was released over the icon. */
    public static final int MIDDLE_CLICK = 520;
    /** The middle button was double-clicked on the icon. */
    public static final int MIDDLE_DOUBLE_CLICK = 521;

    /** Handle of the native icon record; 0 until init has run, and always 0 without a tray. */
    protected int h;

    /**
     * Makes a hidden icon with a tooltip.
     *
     * @param icon the id of an icon resource of the executable ({@code --tray-icon ID=file.ico})
     * @param tip the tooltip, at most 63 bytes in the system's code page (longer text is cut);
     *     null for none
     */
    public SystemTray(int icon, String tip) {
        h = 0;
        if (NATIVES) {
            init(icon, tip, null, null, 0);
        }
    }

    /**
     * Makes a hidden icon with a tooltip and a balloon, which appears when the icon is shown.
     *
     * @param icon the id of an icon resource of the executable ({@code --tray-icon ID=file.ico})
     * @param tip the tooltip, at most 63 bytes (longer text is cut); null for none
     * @param info the balloon text, at most 255 bytes
     * @param infoTitle the balloon title, at most 63 bytes
     * @param infoType one of {@link #INFOTYPE_NONE}, {@link #INFOTYPE_INFO},
     *     {@link #INFOTYPE_WARNING}, {@link #INFOTYPE_ERROR}
     */
    public SystemTray(int icon, String tip, String info, String infoTitle, int infoType) {
        h = 0;
        if (NATIVES) {
            init(icon, tip, info, infoTitle, infoType);
        }
    }

    /**
     * Changes the picture and the tooltip of a shown icon; the same as
     * {@code Change(icon, tip, null, null, -1)}.
     *
     * @param icon the id of an icon resource, or 0 or less to keep the current picture
     * @param tip the new tooltip; null clears it
     */
    public void Change(int icon, String tip) {
        Change(icon, tip, null, null, -1);
    }

    /**
     * Changes a shown icon: its picture, its tooltip and, with a text, shows a new balloon. A
     * hidden icon is not changed: a later {@link #Show()} shows the values it was made with.
     *
     * @param icon the id of an icon resource, or 0 or less to keep the current picture
     * @param tip the new tooltip; null clears it
     * @param info the balloon text; null keeps the previous one
     * @param infoTitle the balloon title; null keeps the previous one
     * @param infoType the balloon's icon ({@link #INFOTYPE_INFO} and the others), or -1 to keep it
     */
    public void Change(int icon, String tip, String info, String infoTitle, int infoType) {
        if (NATIVES) {
            nativeChange(icon, tip, info, infoTitle, infoType);
        }
    }

    /**
     * Shows the icon in the notification area; does nothing when it is shown already. A shown
     * icon keeps this object alive and receives mouse notifications.
     */
    public void Show() {
        if (NATIVES) {
            nativeShow();
        }
    }

    /** Removes the icon from the notification area; does nothing when it is hidden already. */
    public void Hide() {
        if (NATIVES) {
            nativeHide();
        }
    }

    /**
     * Sets the one receiver of every icon's mouse notifications and every menu's commands,
     * replacing the previous one. Its methods are called on the launcher's tray thread.
     *
     * @param callback the receiver, or null to stop all deliveries
     */
    public static void setSystemTrayCallback(SystemTrayCallback callback) {
        if (NATIVES) {
            nativeSetSystemTrayCallback(callback);
        }
    }

    /**
     * Makes the native icon record; called by the constructors.
     *
     * @param icon the icon resource id
     * @param tip the tooltip, or null
     * @param info the balloon text, or null
     * @param infoTitle the balloon title, or null
     * @param infoType the balloon's icon
     */
    protected native void init(int icon, String tip, String info, String infoTitle, int infoType);

    /** Releases the native icon record, removing the icon when it is still shown. */
    // Without natives (outside a kvx executable) the runtime's finalizer drops the link error.
    protected native void finalize();

    private native void nativeChange(int icon, String tip, String info, String infoTitle, int infoType);

    private native void nativeShow();

    private native void nativeHide();

    private static native void nativeSetSystemTrayCallback(SystemTrayCallback callback);
}
