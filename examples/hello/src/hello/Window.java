package hello;

import java.awt.BorderLayout;
import java.awt.Color;
import java.awt.Font;
import java.awt.GraphicsEnvironment;
import java.awt.event.WindowAdapter;
import java.awt.event.WindowEvent;
import java.util.concurrent.CountDownLatch;

import javax.swing.JButton;
import javax.swing.JFrame;
import javax.swing.JScrollPane;
import javax.swing.JTextArea;
import javax.swing.SwingUtilities;

/** The example's window: what the launcher handed over, and a Quit button. */
final class Window {
    private final JFrame frame;

    private Window(JFrame frame) {
        this.frame = frame;
    }

    /** Opens the window on the event thread; null without a display. */
    static Window open(final String[] args, final CountDownLatch quit) throws Exception {
        if (GraphicsEnvironment.isHeadless()) {
            return null;
        }
        final JFrame[] made = new JFrame[1];
        SwingUtilities.invokeAndWait(new Runnable() {
            public void run() {
                StringBuilder text = new StringBuilder("Arguments:\n");
                for (String arg : args) {
                    text.append("  ").append(arg).append('\n');
                }
                text.append("\nLauncher properties:\n");
                for (String line : Main.launcherProperties()) {
                    text.append("  ").append(line).append('\n');
                }
                JTextArea area = new JTextArea(text.toString());
                area.setEditable(false);
                area.setFont(new Font(Font.MONOSPACED, Font.PLAIN, 12));
                area.setBackground(new Color(250, 250, 240));
                JButton button = new JButton("Quit");
                button.addActionListener(e -> quit.countDown());
                JFrame frame = new JFrame("kvx example");
                frame.setDefaultCloseOperation(JFrame.DO_NOTHING_ON_CLOSE);
                frame.addWindowListener(new WindowAdapter() {
                    public void windowClosing(WindowEvent e) {
                        quit.countDown();
                    }
                });
                frame.getContentPane().add(new JScrollPane(area), BorderLayout.CENTER);
                frame.getContentPane().add(button, BorderLayout.SOUTH);
                // Top left, away from the centred splash.
                frame.setBounds(20, 20, 360, 240);
                frame.setVisible(true);
                made[0] = frame;
            }
        });
        return new Window(made[0]);
    }

    /** Whether java.awt.SplashScreen sees a splash (on Linux it sees the launcher's). */
    static String awtSplash() {
        if (GraphicsEnvironment.isHeadless()) {
            return "headless";
        }
        try {
            return java.awt.SplashScreen.getSplashScreen() != null ? "showing" : "none";
        } catch (RuntimeException e) {
            return "none (" + e + ")";
        }
    }

    void toFront() {
        SwingUtilities.invokeLater(new Runnable() {
            public void run() {
                frame.toFront();
            }
        });
    }

    void close() {
        SwingUtilities.invokeLater(new Runnable() {
            public void run() {
                frame.dispose();
            }
        });
    }
}
