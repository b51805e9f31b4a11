package sample.shapes;

public final class Triangle implements sample.spi.Shape {
  public String name() {
    return "triangle";
  }

  public double area() {
    return 0.5 * 3.0 * 4.0;
  }
}
