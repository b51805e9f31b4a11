package sample.shapes;

public final class Circle implements sample.spi.Shape {
  public String name() {
    return "circle";
  }

  public double area() {
    return Math.PI * 1.5 * 1.5;
  }
}
