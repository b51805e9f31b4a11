import org.apache.logging.log4j.LogManager;
import org.apache.logging.log4j.Logger;
import org.apache.logging.log4j.util.StackLocator;

// A small application of log4j2, whose jars are multi-release: on Java 9
// and later their versioned classes serve (StackLocator among them).  Its
// configuration, log4j2.xml, comes from the application's own jar.
public class LogApp {
    public static void main(String[] args) {
        Logger log = LogManager.getLogger(LogApp.class);
        log.info("log4j {} from {}", LogManager.class.getPackage().getImplementationVersion(),
                LogManager.class.getPackage().getImplementationTitle());
        log.warn("StackLocator has {} methods", StackLocator.class.getDeclaredMethods().length);
        log.error("caller {}", StackLocator.getInstance().getCallerClass(1));
    }
}
