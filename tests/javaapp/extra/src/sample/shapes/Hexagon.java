package sample.shapes;

public final class Hexagon implements sample.spi.Shape {
  public String name() {
    return "hexagon";
  }

  public double area() {
    return 1.5 * Math.sqrt(3.0) * 2.0 * 2.0;
  }
}
