package sample;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.net.JarURLConnection;
import java.net.URL;
import java.net.URLConnection;
import java.security.CodeSource;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import javax.xml.parsers.DocumentBuilderFactory;
import javax.xml.transform.TransformerFactory;
import javax.xml.transform.stream.StreamResult;
import javax.xml.transform.stream.StreamSource;

// Prints, one line each, what an application sees of the class path beyond
// its classes: resource URLs written as text, every jar's resource of a name,
// folders, times and sizes, code source and package metadata, multi-release
// classes and the launcher's properties.  Nothing printed depends on how the
// classes are served, so the output under `java -cp app.jar:extra.jar` is the
// expected one.
public class ClassPathProbe {
  static String text(InputStream stream) throws IOException {
    try (InputStream in = stream) {
      return new String(in.readAllBytes(), "UTF-8").trim().replace('\n', '|');
    }
  }

  static String hex(String s) {
    return Integer.toHexString(s.hashCode());
  }

  public static void main(String[] args) throws Exception {
    ClassLoader loader = ClassPathProbe.class.getClassLoader();

    // A resource URL written as text opens again, on any thread.
    URL greeting = loader.getResource("sample/greeting.txt");
    System.out.println("text url: " + hex(text(new URL(greeting.toString()).openStream())));
    System.out.println("uri url: " + hex(text(greeting.toURI().toURL().openStream())));
    String external = greeting.toExternalForm();
    System.out.println("other thread: " + CompletableFuture.supplyAsync(() -> {
      try {
        return hex(text(new URL(external).openStream()));
      } catch (IOException e) {
        return e.toString();
      }
    }).get());
    // XML and XSLT resolve relative system ids against the resource's URL.
    URL doc = loader.getResource("sample/xml/doc.xml");
    System.out.println("xml entity: " + DocumentBuilderFactory.newInstance().newDocumentBuilder()
        .parse(doc.toString()).getDocumentElement().getTextContent().trim());
    java.io.StringWriter out = new java.io.StringWriter();
    TransformerFactory.newInstance()
        .newTransformer(new StreamSource(loader.getResource("sample/xml/main.xsl").toString()))
        .transform(new StreamSource(new ByteArrayInputStream("<a/>".getBytes("UTF-8"))), new StreamResult(out));
    System.out.println("xsl include: " + out.toString().replaceAll("<\\?xml[^>]*>", "").trim());

    // Every jar's resource of a name, in class-path order, nothing joined.
    List<URL> shared = Collections.list(loader.getResources("sample/shared/note.txt"));
    StringBuilder all = new StringBuilder();
    for (URL url : shared) all.append(' ').append(text(url.openStream()));
    System.out.println("shared: " + shared.size() + all);
    System.out.println("first shared: " + text(loader.getResourceAsStream("sample/shared/note.txt")));
    System.out.println("service files: " + Collections.list(loader.getResources("META-INF/services/sample.spi.Shape")).size()
        + ", manifests: " + Collections.list(loader.getResources("META-INF/MANIFEST.MF")).size());

    // Folders.
    System.out.println("folder: " + (loader.getResource("sample/i18n/") != null) + " "
        + (loader.getResource("sample/shared/") != null) + " "
        + Collections.list(loader.getResources("sample/shared/")).size() + " "
        + (loader.getResource("sample/nothing/") != null));

    // Times, sizes and available().
    URLConnection connection = greeting.openConnection();
    long time = connection instanceof JarURLConnection
        ? ((JarURLConnection) connection).getJarEntry().getTime() : connection.getLastModified();
    System.out.println("time: " + time + ", length: " + connection.getContentLengthLong());
    try (InputStream in = loader.getResourceAsStream("sample/data/big.bin")) {
      byte[] whole = new byte[in.available()];
      int n = in.read(whole, 0, whole.length);
      System.out.println("available: " + whole.length + ", read at once up to " + (n > 0));
    }

    // Code source and package metadata.
    CodeSource source = ClassPathProbe.class.getProtectionDomain().getCodeSource();
    System.out.println("code source: " + source.getLocation().getProtocol() + " "
        + new java.io.File(source.getLocation().toURI()).isFile());
    Package own = ClassPathProbe.class.getPackage();
    System.out.println("package: " + own.getImplementationTitle() + " " + own.getImplementationVersion() + " "
        + own.getSpecificationVendor() + " sealed " + own.isSealed());
    Package gen = Class.forName("sample.gen.p1.Node1").getPackage();
    System.out.println("section: " + gen.getImplementationTitle() + " " + gen.getImplementationVersion());

    // A multi-release jar's class and resource for this Java.
    Class<?> versioned = Class.forName("sample.mr.Versioned");
    System.out.println("versioned: " + versioned.getMethod("which").invoke(null) + ", resource "
        + text(loader.getResourceAsStream("sample/versioned.txt")));
    // Entries that only the version for this Java holds.
    System.out.println("versioned only: " + Class.forName("sample.mr.Only11").getName() + ", resource "
        + text(loader.getResource("sample/only11.txt").openStream()) + ", "
        + Collections.list(loader.getResources("sample/only11.txt")).size() + " of them, missing "
        + (loader.getResource("sample/only12.txt") == null));

    // Classes of a signed jar carry its signer; others none.
    Object[] signers = Class.forName("sample.mr.Versioned").getSigners();
    System.out.println("signers: " + (signers == null ? "none" : signers.length + " "
        + ((java.security.cert.X509Certificate) signers[0]).getSubjectX500Principal().getName()) + ", unsigned: "
        + (ClassPathProbe.class.getSigners() == null) + ", code source certificates: "
        + Class.forName("sample.mr.Versioned").getProtectionDomain().getCodeSource().getCertificates().length);

    // The common pool's workers see the application through their context
    // class loader (run with a parallelism of 3, so that the pool is used).
    int fewest = java.util.stream.IntStream.range(0, 48).parallel().map(i -> {
      int n = 0;
      for (sample.spi.Shape shape : java.util.ServiceLoader.load(sample.spi.Shape.class)) n++;
      return n;
    }).min().getAsInt();
    boolean workerSees = java.util.concurrent.ForkJoinPool.commonPool()
        .submit(() -> Class.forName("sample.gen.p2.Node2", false, Thread.currentThread().getContextClassLoader())
            .getClassLoader() == loader).get();
    System.out.println("common pool: services " + fewest + ", application class " + workerSees);

    // The system class loader is the application's, for everything that
    // goes through it.
    ClassLoader system = ClassLoader.getSystemClassLoader();
    int systemServices = 0;
    for (sample.spi.Shape shape : java.util.ServiceLoader.load(sample.spi.Shape.class, system)) systemServices++;
    System.out.println("system loader: own " + (system == loader) + ", parent " + system.getParent().getName()
        + ", class " + (system.loadClass("sample.gen.p3.Node3").getClassLoader() == loader)
        + ", resource " + text(ClassLoader.getSystemResourceAsStream("sample/shared/note.txt"))
        + ", url " + (ClassLoader.getSystemResource("sample/greeting.txt") != null)
        + ", services " + systemServices + ", property " + System.getProperty("java.system.class.loader")
        + ", main thread's context " + (Thread.currentThread().getContextClassLoader() == system));
    java.util.logging.LogManager.getLogManager().readConfiguration(
        new ByteArrayInputStream("handlers=sample.ProbeHandler\n.level=INFO\n".getBytes("UTF-8")));
    java.util.logging.Logger.getLogger("probe").info("through the configured handler");
    String handlerProperty = "java.protocol.handler.pkgs";
    String packages = System.getProperty(handlerProperty);
    System.setProperty(handlerProperty, packages == null ? "sample.proto" : packages + "|sample.proto");
    System.out.println("protocol handler: " + text(new URL("probe:/x").openStream()));

    // What the launcher says about the start.
    System.out.println("command: " + System.getProperty("sun.java.command", "").split(" ")[0]);
  }
}
