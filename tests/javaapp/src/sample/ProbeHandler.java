package sample;

import java.util.logging.Handler;
import java.util.logging.LogRecord;

// A java.util.logging handler of the application's, named in a logging
// configuration: the log manager loads it through the system class loader.
public class ProbeHandler extends Handler {
  @Override
  public void publish(LogRecord record) {
    System.out.println("logged: " + record.getMessage());
  }

  @Override
  public void flush() {
  }

  @Override
  public void close() {
  }
}
