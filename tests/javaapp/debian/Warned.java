import java.util.List;

// Compiled by the Eclipse compiler, which warns about what is unused here.
public class Warned {
    static int count(List raw) {
        int never = 1;
        return raw.size();
    }
}
