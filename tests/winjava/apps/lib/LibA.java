package lib;

/** Reached through a `classpath` entry. */
public class LibA {
}
