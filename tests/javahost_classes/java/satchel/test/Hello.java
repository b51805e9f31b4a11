package satchel.test;

/** The main class of the test bundles. */
public class Hello {
    public static String greet() {
        return "hello from the payload";
    }

    /** A nested class: its entry name keeps the '$'. */
    public static class Inner {
        public static String name() {
            return "inner";
        }
    }

    public static void main(String[] args) {
        System.out.println(greet());
    }
}
