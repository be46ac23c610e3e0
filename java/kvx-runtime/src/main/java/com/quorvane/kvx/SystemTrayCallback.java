package com.quorvane.kvx;

/**
 * Receives the mouse notifications of tray icons and the commands of popup menus. One callback
 * serves every icon and every menu: set it with
 * {@link SystemTray#setSystemTrayCallback(SystemTrayCallback)}.
 *
 * <p>Both methods are called on the launcher's tray thread (Windows), one call at a time: while
 * one runs, no further notification is delivered, so return quickly and hand long work to a
 * thread of your own. A {@link SystemTrayMenu#Popup()} from {@link #OnMouseClick} is the usual
 * way to show a menu. An exception thrown by a callback is printed and dropped. On Linux and
 * outside a kvx executable there is no tray and the methods are never called.
 */
public interface SystemTrayCallback {
    /**
     * A mouse notification for an icon that is shown.
     *
     * @param tray the icon's object, as created by the application
     * @param event the notification, such as {@link SystemTray#LEFT_CLICK} or
     *     {@link SystemTray#RIGHT_CLICK}; button presses (513, 516, 519) arrive with their own
     *     values, for which there is no constant
     */
    void OnMouseClick(SystemTray tray, int event);

    /**
     * The user chose a menu item.
     *
     * @param id the id given to {@link SystemTrayMenu#Append(String, int)} for the chosen item
     *     (0 to 1000)
     */
    void OnMenuCommand(int id);
}
