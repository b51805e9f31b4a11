package satchel.test;

public class EnglishGreeter implements Greeter {
    @Override
    public String greet() {
        return "Hello from " + getClass().getSimpleName();
    }
}
