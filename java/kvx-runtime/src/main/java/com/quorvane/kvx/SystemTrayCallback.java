package com.quorvane.kvx;

/** Receives the mouse notifications of tray icons and the commands of popup menus. */
public interface SystemTrayCallback {
    /** A mouse notification for an icon, such as {@link SystemTray#LEFT_CLICK}. */
    void OnMouseClick(SystemTray tray, int event);

    /** The id given to {@link SystemTrayMenu#Append(String, int)} of the chosen item. */
    void OnMenuCommand(int id);
}
