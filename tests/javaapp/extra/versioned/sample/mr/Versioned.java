package sample.mr;

// The version of Versioned that a multi-release jar serves on Java 11 and later.
public class Versioned {
  public static String which() {
    return "for Java 11 " + Only11.NOTE;
  }
}
