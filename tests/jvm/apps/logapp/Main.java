package logapp;
import org.apache.logging.log4j.LogManager;
public class Main {
    public static void main(String[] args) {
        LogManager.getLogger("kvx.kept").info("hello {}", "kept jars");
    }
}
