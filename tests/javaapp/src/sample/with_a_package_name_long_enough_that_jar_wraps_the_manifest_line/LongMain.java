package sample.with_a_package_name_long_enough_that_jar_wraps_the_manifest_line;

// A main class whose name the jar tool writes over two manifest lines.
public class LongMain {
  public static void main(String[] args) {
    System.out.println("long-named main class with " + args.length + " arguments");
  }
}
