package sample.proto.probe;

import java.io.ByteArrayInputStream;
import java.io.InputStream;
import java.net.URL;
import java.net.URLConnection;
import java.net.URLStreamHandler;

// The application's own handler of "probe:" URLs, found through the
// java.protocol.handler.pkgs property by the system class loader.
public class Handler extends URLStreamHandler {
  @Override
  protected URLConnection openConnection(URL url) {
    return new URLConnection(url) {
      @Override
      public void connect() {
      }

      @Override
      public InputStream getInputStream() {
        return new ByteArrayInputStream(("probe of " + url.getPath()).getBytes());
      }
    };
  }
}
