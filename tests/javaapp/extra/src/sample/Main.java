package sample;

// Shadowed: the same class name as the application's own main class, in a
// jar behind it on the class path.  Never runs.
public class Main {
  public static void main(String[] args) {
    System.out.println("shadowed main class ran");
    System.exit(99);
  }
}
