package com.quorvane.kvx;

import java.util.HashSet;

/**
 * A native popup menu with text items, separators and submenus; the commands of its items
 * reach {@link SystemTrayCallback#OnMenuCommand(int)}. The Linux launcher has no such menus.
 */
public class SystemTrayMenu {
    static {
        String path = System.getProperty("kvx.app.path");
        if (path != null) {
            System.load(path);
        }
    }

    /** The native menu handle; 0 until init has run. */
    protected int h;

    /** The submenus appended to this menu, kept alive as long as it is. */
    protected HashSet popups;

    /** Creates an empty menu. */
    public SystemTrayMenu() {
        h = 0;
        popups = new HashSet();
        init();
    }

    /**
     * The submenus appended to this menu.
     *
     * @return the live set of {@code SystemTrayMenu} objects
     */
    public HashSet getSubmenu() {
        return popups;
    }

    /**
     * Appends an item.
     *
     * @param text the item's text
     * @param id the command id; only 0 to 1000 reach the callback
     */
    public native void Append(String text, int id);

    /**
     * Appends a submenu.
     *
     * @param text the item's text
     * @param submenu the menu it opens, kept alive as long as this one
     */
    public native void Append(String text, SystemTrayMenu submenu);

    /** Appends a separator line. */
    public native void AppendSeparator();

    /**
     * Shows the menu at the mouse pointer and returns when it closes. Callable from any
     * thread: the menu runs on the tray window's thread.
     */
    public native void Popup();

    /** Creates the native menu; the constructor calls it. */
    protected native void init();

    /** Frees the native menu. */
    protected native void finalize();
}
