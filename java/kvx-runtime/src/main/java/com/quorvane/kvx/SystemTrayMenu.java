package com.quorvane.kvx;

import java.util.HashSet;

/**
 * A native popup menu with text items, separators and submenus, shown at the mouse pointer.
 *
 * <p>Fill it with {@link #Append(String, int)}, {@link #AppendSeparator()} and
 * {@link #Append(String, SystemTrayMenu)}; show it with {@link #Popup()}, usually from
 * {@link SystemTrayCallback#OnMouseClick(SystemTray, int)} on a {@link SystemTray#RIGHT_CLICK}.
 * The chosen item's id reaches {@link SystemTrayCallback#OnMenuCommand(int)} on the launcher's
 * tray thread, once a callback is set and at least one {@link SystemTray} exists. Items are
 * never removed; the native menu is released with the object.
 *
 * <p>Per system:
 * <ul>
 * <li>Windows: a native menu, owned by the launcher's hidden tray window.</li>
 * <li>Linux and outside a kvx executable: there is no menu; the methods return at once without
 * effect (on Linux with {@code KVX_TRACE} set, the launcher says so once), and
 * {@link #getSubmenu()} still lists the appended submenus.</li>
 * </ul>
 *
 * <pre>{@code
 * SystemTrayMenu more = new SystemTrayMenu();
 * more.Append("About", 3);
 * SystemTrayMenu menu = new SystemTrayMenu();
 * menu.Append("Open", 1);
 * menu.Append("More", more);
 * menu.AppendSeparator();
 * menu.Append("Quit", 2);
 * }</pre>
 */
public class SystemTrayMenu {
    private static final boolean NATIVES = SplashScreen.bindNatives(SystemTrayMenu.class);

    /** The native menu handle; 0 until init has run, and always 0 without a tray. */
    protected int h;

    /** The submenus appended to this menu, kept alive as long as it is. */
    protected HashSet popups;

    /** Makes an empty menu. */
    public SystemTrayMenu() {
        h = 0;
        popups = new HashSet();
        if (NATIVES) {
            init();
        }
    }

    /**
     * The submenus appended to this menu.
     *
     * @return the same set every time, holding each appended submenu once
     */
    public HashSet getSubmenu() {
        return popups;
    }

    /**
     * Appends a text item.
     *
     * @param text the item's text
     * @param id the id passed to {@link SystemTrayCallback#OnMenuCommand(int)} when the item is
     *     chosen: 0 to 1000 (an item with another id shows, but its command is dropped)
     */
    public void Append(String text, int id) {
        if (NATIVES) {
            nativeAppendItem(text, id);
        }
    }

    /**
     * Appends an item that opens a submenu. The submenu is kept alive as long as this menu is;
     * its items' commands arrive like this menu's.
     *
     * @param text the item's text
     * @param submenu the menu it opens
     */
    @SuppressWarnings("unchecked")
    public void Append(String text, SystemTrayMenu submenu) {
        if (submenu == null) {
            return;
        }
        popups.add(submenu);
        if (NATIVES) {
            nativeAppendSubmenu(text, submenu);
        }
    }

    /** Appends a separator line. */
    public void AppendSeparator() {
        if (NATIVES) {
            nativeAppendSeparator();
        }
    }

    /**
     * Shows the menu at the mouse pointer and returns when it is dismissed. The chosen item's
     * command is delivered afterwards, on the tray thread. Called from
     * {@link SystemTrayCallback#OnMouseClick(SystemTray, int)}, the menu belongs to the tray
     * window as the system expects; from another thread it still shows.
     */
    public void Popup() {
        if (NATIVES) {
            nativePopup();
        }
    }

    /** Makes the native menu; called by the constructor. */
    protected native void init();

    /** Releases the native menu. */
    // Without natives (outside a kvx executable) the runtime's finalizer drops the link error.
    protected native void finalize();

    private native void nativeAppendItem(String text, int id);

    private native void nativeAppendSubmenu(String text, SystemTrayMenu submenu);

    private native void nativeAppendSeparator();

    private native void nativePopup();
}
