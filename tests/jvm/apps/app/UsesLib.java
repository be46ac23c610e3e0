package app;

public class UsesLib {
    public static void main(String[] args) {
        System.out.println("lib says " + lib.Helper.greeting());
    }
}
