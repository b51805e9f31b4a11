package sample.shapes;

public final class Square implements sample.spi.Shape {
  public String name() {
    return "square";
  }

  public double area() {
    return 2.0 * 2.0;
  }
}
