package satchel.test;

/** A service: its provider is named in META-INF/services. */
public interface Greeter {
    String greet();
}
