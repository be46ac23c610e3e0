package app;

public class NoMain {
    public static void notMain(String[] args) {
    }
}
