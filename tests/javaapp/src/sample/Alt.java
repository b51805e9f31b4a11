package sample;

// A second entry point, chosen with pack-java --main-class.
public class Alt {
  public static void main(String[] args) {
    System.out.println("alternative main class with " + args.length + " arguments");
  }
}
