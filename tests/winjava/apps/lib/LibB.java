package lib;

/** Reached through a jar in a sub-folder of a `libs` folder. */
public class LibB {
}
