package lib;

/** Reached through the CLASSPATH environment variable. */
public class LibC {
}
