package sample;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.nio.charset.StandardCharsets;
import java.text.MessageFormat;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Enumeration;
import java.util.List;
import java.util.Locale;
import java.util.Properties;
import java.util.ResourceBundle;
import java.util.ServiceLoader;
import java.util.TreeSet;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.stream.Collectors;
import java.util.stream.IntStream;
import java.util.zip.CRC32;

import sample.gen.Node;
import sample.gen.Registry;
import sample.spi.Shape;

// The sample application: prints what it finds of its own classes and
// resources, so that any difference in how they are served shows in the
// output.  The first argument may pick a mode:
//   exit N      prints a line and ends with System.exit(N)
//   throw       ends with an uncaught exception while a thread still works
//   handled     the same with an uncaught exception handler of its own
//   shapes      lists the Shape services only
//   recurse     recurses until StackOverflowError, catches it and goes on
//   bench       the full tour without the thread that outlives main (for
//               timing start-up and class loading alone)
//   launch P... what the virtual machine was started with: the module
//               options of a manifest, the launcher agent, the maximum heap
//               and the system properties named
// Everything else runs the full tour.
public class Main {
  enum Phase { CLASSES, RESOURCES, SERVICES, THREADS }

  interface Step {
    String run() throws Exception;
  }

  record Result(String label, String value) {
    @Override
    public String toString() {
      return label + ": " + value;
    }
  }

  public static void main(String[] args) throws Exception {
    System.out.println("satchel sample application");
    System.out.println("arguments: " + args.length);
    for (int i = 0; i < args.length; i++) {
      System.out.println("  [" + i + "] '" + args[i] + "' (" + args[i].length() + " chars, "
          + args[i].codePointCount(0, args[i].length()) + " code points)");
    }
    String mode = args.length > 0 ? args[0] : "";
    if (mode.equals("exit")) {
      int code = Integer.parseInt(args[1]);
      System.out.println("exiting with " + code);
      System.exit(code);
    }
    if (mode.equals("throw") || mode.equals("handled")) {
      // The exception does not cut off a non-daemon thread, and goes to the
      // application's handler when it set one.
      if (mode.equals("handled"))
        Thread.setDefaultUncaughtExceptionHandler((t, e) -> System.out.println("handler: " + t.getName() + " got " + e));
      Thread late = new Thread(() -> {
        try {
          Thread.sleep(300);
        } catch (InterruptedException e) {
          return;
        }
        System.out.println("worker: finished after main's exception");
      });
      late.start();
      System.out.println("about to fail");
      fail(3);
    }
    if (mode.equals("recurse")) {
      try {
        System.out.println("depth " + recurse(0));
      } catch (StackOverflowError e) {
        System.out.println("StackOverflowError caught; still running");
      }
      return;
    }
    if (mode.equals("launch")) {
      Module own = Main.class.getModule();
      System.out.println("java.lang open: " + Object.class.getModule().isOpen("java.lang", own));
      System.out.println("sun.nio.ch exported: " + Object.class.getModule().isExported("sun.nio.ch", own));
      System.out.println("agent: " + System.getProperty("sample.agent", "not started"));
      System.out.println("max heap MiB: " + Runtime.getRuntime().maxMemory() / (1024 * 1024));
      for (int i = 1; i < args.length; i++) System.out.println(args[i] + "=" + System.getProperty(args[i]));
      return;
    }
    if (mode.equals("shapes")) {
      printShapes();
      return;
    }

    // A non-daemon thread that is still waiting when main returns: the
    // process must stay until it has printed its line.
    CountDownLatch mainDone = new CountDownLatch(1);
    Thread worker = new Thread(() -> {
      if (mode.equals("bench")) return;
      try {
        mainDone.await();
        Thread.sleep(100);
      } catch (InterruptedException e) {
        return;
      }
      System.out.println("worker: finished after main");
    }, "late-worker");
    worker.start();

    for (Phase phase : Phase.values()) {
      System.out.println("== " + phase.name().toLowerCase(Locale.ROOT));
      switch (phase) {
        case CLASSES -> classes();
        case RESOURCES -> resources();
        case SERVICES -> printShapes();
        case THREADS -> threads();
      }
    }
    System.out.println("main: done");
    mainDone.countDown();
  }

  static int recurse(int depth) {
    return recurse(depth + 1) + 1;
  }

  static void fail(int depth) {
    if (depth == 0) throw new IllegalStateException("requested failure", new ArithmeticException("inner cause"));
    fail(depth - 1);
  }

  static void classes() throws Exception {
    Node[] nodes = Registry.all();
    long checksum = 0;
    for (Node node : nodes) checksum = checksum * 1_000_003 + node.compute(checksum);
    System.out.println("generated classes: " + nodes.length + ", checksum " + Long.toHexString(checksum));
    System.out.println("first: " + nodes[0].describe() + ", last: " + nodes[nodes.length - 1].describe());

    ClassLoader loader = Main.class.getClassLoader();
    System.out.println("context loader is main's loader: "
        + (Thread.currentThread().getContextClassLoader() == loader));
    Class<?> byName = Class.forName("sample.gen.p7.Node17", true, loader);
    System.out.println("forName: " + byName.getName() + " in package " + byName.getPackageName()
        + ", same loader: " + (byName.getClassLoader() == loader));
    Class<?> nested = Class.forName("sample.gen.p3.Node3$Helper");
    System.out.println("nested: " + nested.getName() + ", enclosing " + nested.getEnclosingClass().getSimpleName());
    try {
      Class.forName("sample.gen.DoesNotExist");
      System.out.println("missing class: found?!");
    } catch (ClassNotFoundException e) {
      System.out.println("missing class: ClassNotFoundException");
    }
    System.out.println("platform class: " + String.class.getName() + " from the boot loader: "
        + (String.class.getClassLoader() == null));

    // Anonymous classes, lambdas and streams.
    Step anonymous = new Step() {
      public String run() {
        return "anonymous " + getClass().getName();
      }
    };
    System.out.println(anonymous.run());
    String squares = IntStream.rangeClosed(1, 8).map(v -> v * v).mapToObj(Integer::toString)
        .collect(Collectors.joining(","));
    System.out.println(new Result("squares", squares));
  }

  static String readAll(InputStream stream) throws IOException {
    try (InputStream in = stream) {
      ByteArrayOutputStream out = new ByteArrayOutputStream();
      byte[] buffer = new byte[777];
      for (int n; (n = in.read(buffer)) > 0;) out.write(buffer, 0, n);
      return out.toString(StandardCharsets.UTF_8);
    }
  }

  static void resources() throws Exception {
    Properties messages = new Properties();
    try (InputStream in = Main.class.getResourceAsStream("/sample/messages.properties")) {
      messages.load(in);
    }
    for (String key : new TreeSet<>(messages.stringPropertyNames()))
      System.out.println("property " + key + " = " + messages.getProperty(key));

    // Relative to the class's package, through a URL.
    URL greetingUrl = Main.class.getResource("greeting.txt");
    String greeting = readAll(greetingUrl.openStream());
    System.out.println("greeting: " + greeting.length() + " chars, "
        + greeting.codePointCount(0, greeting.length()) + " code points, hash "
        + Integer.toHexString(greeting.hashCode()) + ", second line '" + greeting.split("\n")[1] + "'");

    ClassLoader context = Thread.currentThread().getContextClassLoader();
    byte[] big;
    try (InputStream in = context.getResourceAsStream("sample/data/big.bin")) {
      big = in.readAllBytes();
    }
    CRC32 crc = new CRC32();
    crc.update(big);
    System.out.println("big.bin: " + big.length + " bytes, crc " + Long.toHexString(crc.getValue()));

    // Byte-by-byte reads, skip and available on the same entry.
    try (InputStream in = context.getResourceAsStream("sample/data/big.bin")) {
      long skipped = in.skip(4090);
      int a = in.read(), b = in.read();
      byte[] some = new byte[10];
      int n = in.readNBytes(some, 0, some.length);
      System.out.println("big.bin after skip " + skipped + ": " + a + " " + b + " then " + n + " bytes");
    }

    int generated = 0, lines = 0;
    for (int i = 0; i < Registry.COUNT; i += 20) {
      InputStream in = Main.class.getResourceAsStream("/sample/gen/data/res" + i + ".txt");
      if (in == null) continue;
      generated++;
      lines += readAll(in).split("\n").length;
    }
    System.out.println("generated resources: " + generated + " with " + lines + " lines");

    System.out.println("missing resource: " + Main.class.getResourceAsStream("/sample/nothing-here.txt"));
    Enumeration<URL> services = context.getResources("META-INF/services/sample.spi.Shape");
    System.out.println("service files: " + Collections.list(services).size());

    ResourceBundle bundle = ResourceBundle.getBundle("sample.i18n.Messages", Locale.ROOT);
    System.out.println(bundle.getString("title") + ": "
        + MessageFormat.format(bundle.getString("summary"), Registry.COUNT, "ok"));
  }

  static void printShapes() {
    List<String> lines = new ArrayList<>();
    for (Shape shape : ServiceLoader.load(Shape.class))
      lines.add(String.format(Locale.ROOT, "shape %s: area %.4f", shape.name(), shape.area()));
    Collections.sort(lines);
    lines.forEach(System.out::println);
  }

  // Classes defined on several threads at once.
  static void threads() throws Exception {
    ExecutorService pool = Executors.newFixedThreadPool(4);
    try {
      List<Future<String>> results = new ArrayList<>();
      for (int t = 0; t < 8; t++) {
        final int start = t;
        results.add(pool.submit(() -> {
          long sum = 0;
          for (int i = Registry.COUNT - 1 - start; i >= 0; i -= 8) {
            Class<?> c = Class.forName(Registry.className(i));
            Node node = (Node) c.getDeclaredConstructor().newInstance();
            sum += node.shallow(i);
          }
          return "task " + start + ": " + Long.toHexString(sum);
        }));
      }
      for (Future<String> result : results) System.out.println(result.get());
    } finally {
      pool.shutdown();
    }
  }
}
