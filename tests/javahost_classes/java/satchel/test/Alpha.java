package satchel.test;

public class Alpha {
    public static int value() {
        return 1;
    }
}
