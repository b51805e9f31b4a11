// Writes the generated part of the sample application: COUNT classes
// sample.gen.pK.NodeN (spread over ten packages, some with nested classes and
// lambdas, each calling the one before it), the registry that creates them
// all, a few text resources and one larger binary resource.
//
//   java Generate.java OUTDIR COUNT
//
// OUTDIR/src holds the sources, OUTDIR/sources.txt lists them for javac and
// OUTDIR/resources holds the resources.  The output depends only on COUNT.
import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;

public class Generate {
  static Path src;
  static List<String> sources = new ArrayList<>();

  static void write(Path file, String text) throws IOException {
    Files.createDirectories(file.getParent());
    Files.write(file, text.getBytes(StandardCharsets.UTF_8));
  }

  static void source(String className, String text) throws IOException {
    Path file = src.resolve(className.replace('.', '/') + ".java");
    write(file, text);
    sources.add(file.toString());
  }

  static String pkg(int i) {
    return "sample.gen.p" + (i % 10);
  }

  public static void main(String[] args) throws IOException {
    Path out = Paths.get(args[0]);
    int count = Integer.parseInt(args[1]);
    src = out.resolve("src");
    Path resources = out.resolve("resources");

    source("sample.gen.Node",
        "package sample.gen;\n\n"
            + "public interface Node {\n"
            + "  int id();\n"
            + "  long compute(long x);\n"
            + "  long shallow(long x);\n"
            + "  String describe();\n"
            + "}\n");
    source("sample.gen.Base",
        "package sample.gen;\n\n"
            + "public abstract class Base implements Node {\n"
            + "  protected static int mix(int k) {\n"
            + "    return (k * 0x9E3779B1) >>> 7;\n"
            + "  }\n\n"
            + "  public String describe() {\n"
            + "    return getClass().getSimpleName() + \"#\" + id();\n"
            + "  }\n"
            + "}\n");

    StringBuilder registry = new StringBuilder();
    registry.append("package sample.gen;\n\npublic final class Registry {\n")
        .append("  public static final int COUNT = ").append(count).append(";\n\n")
        .append("  public static String className(int i) {\n")
        .append("    return \"sample.gen.p\" + (i % 10) + \".Node\" + i;\n  }\n\n")
        .append("  public static Node[] all() {\n")
        .append("    return new Node[] {\n");
    for (int i = 0; i < count; i++) {
      int seed = (i * 7919 + 17) % 10007;
      StringBuilder c = new StringBuilder();
      c.append("package ").append(pkg(i)).append(";\n\n");
      c.append("public final class Node").append(i).append(" extends sample.gen.Base {\n");
      c.append("  private static final int SEED = ").append(seed).append(";\n");
      c.append("  private final int[] table = {");
      for (int k = 0; k < 8; k++) c.append(k == 0 ? "" : ", ").append((seed * (k + 3)) % 997);
      c.append("};\n\n");
      c.append("  public int id() {\n    return ").append(i).append(";\n  }\n\n");
      c.append("  public long shallow(long x) {\n    return x * SEED + id();\n  }\n\n");
      c.append("  public long compute(long x) {\n");
      c.append("    long h = x ^ SEED;\n");
      c.append("    for (int k = 0; k < table.length; k++) h = h * 31 + table[k] + mix(k);\n");
      if (i > 0) {
        c.append("    h ^= new ").append(pkg(i - 1)).append(".Node").append(i - 1)
            .append("().shallow(h);\n");
      }
      if (i % 3 == 0) c.append("    h += Helper.twice((int) (h & 0xFFFF));\n");
      if (i % 5 == 0) c.append("    h += op().applyAsInt((int) (h >>> 40));\n");
      if (i % 7 == 0) c.append("    h = new Inner().fold(h);\n");
      c.append("    return h;\n  }\n");
      if (i % 3 == 0) {
        c.append("\n  static final class Helper {\n")
            .append("    static int twice(int v) {\n      return v * 2 + SEED;\n    }\n  }\n");
      }
      if (i % 5 == 0) {
        c.append("\n  java.util.function.IntUnaryOperator op() {\n")
            .append("    return v -> v * 3 + table[v & 7];\n  }\n");
      }
      if (i % 7 == 0) {
        c.append("\n  final class Inner {\n")
            .append("    long fold(long v) {\n      return v ^ (v >>> 13) ^ table[0];\n    }\n  }\n");
      }
      c.append("}\n");
      source(pkg(i) + ".Node" + i, c.toString());
      registry.append("      new ").append(pkg(i)).append(".Node").append(i).append("(),\n");

      if (i % 20 == 0) {
        StringBuilder text = new StringBuilder();
        text.append("resource ").append(i).append('\n');
        for (int line = 0; line < 1 + i % 9; line++)
          text.append("line ").append(line).append(" of node ").append(i).append('\n');
        write(resources.resolve("sample/gen/data/res" + i + ".txt"), text.toString());
      }
    }
    registry.append("    };\n  }\n}\n");
    source("sample.gen.Registry", registry.toString());

    // A binary resource of 300,000 bytes: a text part that compresses well
    // and a pseudo-random part that does not.
    Path big = resources.resolve("sample/data/big.bin");
    Files.createDirectories(big.getParent());
    try (OutputStream stream = Files.newOutputStream(big)) {
      long state = 0x2545F4914F6CDD1DL;
      for (int i = 0; i < 300_000; i++) {
        if ((i / 4096) % 2 == 0) {
          stream.write("satchel sample data ".charAt(i % 20));
        } else {
          state ^= state << 13;
          state ^= state >>> 7;
          state ^= state << 17;
          stream.write((int) state);
        }
      }
    }

    Files.write(out.resolve("sources.txt"), sources, StandardCharsets.UTF_8);
  }
}
