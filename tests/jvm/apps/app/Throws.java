package app;

public class Throws {
    public static void main(String[] args) {
        throw new IllegalStateException("thrown out of main");
    }
}
