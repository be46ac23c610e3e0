package com.quorvane.kvx;

import java.util.HashSet;

/** A native popup menu with text items, separators and submenus. */
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

    public SystemTrayMenu() {
        h = 0;
        popups = new HashSet();
        init();
    }

    public HashSet getSubmenu() {
        return popups;
    }

    public native void Append(String text, int id);

    public native void Append(String text, SystemTrayMenu submenu);

    public native void AppendSeparator();

    public native void Popup();

    protected native void init();

    protected native void finalize();
}
