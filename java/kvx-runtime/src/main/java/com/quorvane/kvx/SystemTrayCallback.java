package com.quorvane.kvx;

/**
 * Receives the mouse notifications of tray icons and the commands of popup menus, one at a
 * time on the tray window's thread. From there every native may be called again; an exception
 * thrown here is printed and dropped.
 */
public interface SystemTrayCallback {
    /**
     * A mouse notification for an icon.
     *
     * @param tray the icon
     * @param event what happened, such as {@link SystemTray#LEFT_CLICK}
     */
    void OnMouseClick(SystemTray tray, int event);

    /**
     * A menu item was chosen.
     *
     * @param id the id given to {@link SystemTrayMenu#Append(String, int)}, 0 to 1000
     */
    void OnMenuCommand(int id);
}
