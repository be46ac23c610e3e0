package app;

import java.lang.management.ManagementFactory;

/** Prints the runtime's input arguments, one a line, then ends through System.exit. */
public class InputArgs {
    public static void main(String[] args) {
        for (String argument : ManagementFactory.getRuntimeMXBean().getInputArguments()) {
            System.out.println("input=" + argument);
        }
        System.exit(args.length > 0 ? Integer.parseInt(args[0]) : 0);
    }
}
