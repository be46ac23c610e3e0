package com.quorvane.kvx;

/**
 * An icon in the taskbar's notification area, with a tooltip and an optional balloon text.
 * The executable is the native library: its icon groups (kvxpack {@code --tray-icon}) are
 * the icons. Mouse notifications reach the {@link SystemTrayCallback} on the tray window's
 * thread. The Linux launcher has no notification area.
 */
public class SystemTray {
    static {
        String path = System.getProperty("kvx.app.path");
        if (path != null) {
            System.load(path);
        }
    }

    /** Balloon without an icon. */
    public static final int INFOTYPE_NONE = 0;
    /** Balloon with the information icon. */
    public static final int INFOTYPE_INFO = 1;
    /** Balloon with the warning icon. */
    public static final int INFOTYPE_WARNING = 2;
    /** Balloon with the error icon. */
    public static final int INFOTYPE_ERROR = 3;

    /** The mouse moved over the icon. */
    public static final int MOUSE_MOVE = 512;
    /** The left button was released on the icon. */
    public static final int LEFT_CLICK = 514;
    /** The icon was double-clicked with the left button. */
    public static final int LEFT_DOUBLE_CLICK = 515;
    /** The right button was released on the icon. */
    public static final int RIGHT_CLICK = 517;
    /** The icon was double-clicked with the right button. */
    public static final int RIGHT_DOUBLE_CLICK = 518;
    /** The middle button was released on the icon. */
    public static final int MIDDLE_CLICK = 520;
    /** The icon was double-clicked with the middle button. */
    public static final int MIDDLE_DOUBLE_CLICK = 521;

    /** Handle of the native icon record; 0 until init has run. */
    protected int h;

    /**
     * Creates a hidden icon without balloon.
     *
     * @param icon id of an icon group in the executable
     * @param tip the tooltip, or null for none
     */
    public SystemTray(int icon, String tip) {
        h = 0;
        init(icon, tip, null, null, 0);
    }

    /**
     * Creates a hidden icon whose balloon shows with {@link #Show()}.
     *
     * @param icon id of an icon group in the executable
     * @param tip the tooltip, or null for none
     * @param info the balloon text
     * @param infoTitle the balloon title
     * @param infoType one of the {@code INFOTYPE_} constants
     */
    public SystemTray(int icon, String tip, String info, String infoTitle, int infoType) {
        h = 0;
        init(icon, tip, info, infoTitle, infoType);
    }

    /**
     * Changes a shown icon and its tooltip without showing the balloon again.
     *
     * @param icon id of an icon group; 0 or less keeps the icon
     * @param tip the tooltip; null clears it
     */
    public void Change(int icon, String tip) {
        Change(icon, tip, null, null, -1);
    }

    /**
     * Changes a shown icon; the balloon shows when a text or title is given.
     *
     * @param icon id of an icon group; 0 or less keeps the icon
     * @param tip the tooltip; null clears it
     * @param info the balloon text; null keeps the previous one
     * @param infoTitle the balloon title; null keeps the previous one
     * @param infoType one of the {@code INFOTYPE_} constants; another value keeps the previous one
     */
    public native void Change(int icon, String tip, String info, String infoTitle, int infoType);

    /** Adds the icon to the notification area. */
    public native void Show();

    /** Removes the icon from the notification area; {@link #Show()} brings it back. */
    public native void Hide();

    /**
     * Sets the one receiver of every icon's mouse notifications and every menu's commands.
     *
     * @param callback the receiver, or null to drop them
     */
    public static native void setSystemTrayCallback(SystemTrayCallback callback);

    /**
     * Creates the native icon record; the constructors call it.
     *
     * @param icon id of an icon group in the executable
     * @param tip the tooltip, or null
     * @param info the balloon text, or null
     * @param infoTitle the balloon title, or null
     * @param infoType one of the {@code INFOTYPE_} constants
     */
    protected native void init(int icon, String tip, String info, String infoTitle, int infoType);

    /** Removes the icon and frees the native record. */
    protected native void finalize();
}
