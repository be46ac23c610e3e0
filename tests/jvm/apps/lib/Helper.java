package lib;

public class Helper {
    public static String greeting() {
        return "hello from lib";
    }
}
