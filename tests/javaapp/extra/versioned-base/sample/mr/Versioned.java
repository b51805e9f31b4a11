package sample.mr;

// The base version of a class that extra.jar also carries for Java 11.
public class Versioned {
  public static String which() {
    return "base";
  }
}
