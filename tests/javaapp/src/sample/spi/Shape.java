package sample.spi;

// A service: implementations are registered in META-INF/services and found
// with java.util.ServiceLoader.
public interface Shape {
  String name();

  double area();
}
