package satchel.test;

import java.io.ByteArrayOutputStream;
import java.io.FileNotFoundException;
import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.nio.charset.StandardCharsets;
import java.util.Collections;
import java.util.Enumeration;
import java.util.ServiceLoader;

/** Looks up resources the ways applications and libraries do; one line per way. */
public class ResourceProbe {
    static String text(InputStream in) throws IOException {
        if (in == null) {
            return "null";
        }
        try (InputStream s = in) {
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            byte[] buffer = new byte[7];
            int n;
            while ((n = s.read(buffer)) > 0) {
                out.write(buffer, 0, n);
            }
            return new String(out.toByteArray(), StandardCharsets.UTF_8).trim();
        }
    }

    public static String run() throws Exception {
        ClassLoader loader = ResourceProbe.class.getClassLoader();
        StringBuilder out = new StringBuilder();
        out.append("relative: ").append(text(ResourceProbe.class.getResourceAsStream("greeting.txt"))).append('\n');
        out.append("absolute: ").append(text(ResourceProbe.class.getResourceAsStream("/satchel/test/greeting.txt"))).append('\n');
        InputStream direct = loader.getResourceAsStream("satchel/test/greeting.txt");
        out.append("stream class: ").append(direct.getClass().getName()).append('\n');
        direct.close();
        direct.close();
        URL url = loader.getResource("satchel/test/greeting.txt");
        out.append("url: ").append(url).append('\n');
        out.append("url read: ").append(text(url.openStream())).append('\n');
        out.append("text url: ").append(text(new URL(url.toString()).openStream())).append('\n');
        InputStream sized = url.openStream();
        out.append("length: ").append(url.openConnection().getContentLengthLong()).append(" available: ")
                .append(sized.available()).append(' ');
        sized.read(new byte[5]);
        out.append(sized.available()).append('\n');
        sized.close();
        out.append("urls: ").append(Collections.list(loader.getResources("satchel/test/greeting.txt")).size()).append('\n');
        URL other = new URL(url, "other.txt");
        out.append("relative url: ").append(other).append(" = ").append(text(other.openStream())).append('\n');
        URL spaced = loader.getResource("data/with space \u00e9.txt");
        out.append("encoded: ").append(spaced).append(" = ").append(text(spaced.openStream())).append('\n');
        out.append("uri: ").append(spaced.toURI()).append('\n');
        out.append("class file: ").append(loader.getResource("satchel/test/Alpha.class") != null).append('\n');
        out.append("missing: ").append(loader.getResource("satchel/test/none.txt")).append(' ')
                .append(loader.getResourceAsStream("satchel/test/none.txt")).append(' ')
                .append(Collections.list(loader.getResources("satchel/test/none.txt")).size()).append('\n');
        try {
            new URL(url, "none.txt").openStream();
            out.append("missing url: opened\n");
        } catch (FileNotFoundException e) {
            out.append("missing url: ").append(e).append('\n');
        }
        out.append("jdk class: ").append(loader.loadClass("java.util.ArrayList").getClassLoader()).append('\n');
        out.append("jdk resource: ").append(loader.getResource("java/lang/Object.class") != null).append('\n');
        out.append("parent: ").append(loader.getParent() == ClassLoader.getSystemClassLoader().getParent()).append('\n');
        for (Greeter g : ServiceLoader.load(Greeter.class, loader)) {
            out.append("service: ").append(g.greet()).append('\n');
        }
        Thread.currentThread().setContextClassLoader(loader);
        for (Greeter g : ServiceLoader.load(Greeter.class)) {
            out.append("context service: ").append(g.greet()).append('\n');
        }
        Enumeration<URL> services = loader.getResources("META-INF/services/satchel.test.Greeter");
        out.append("service file: ").append(text(services.nextElement().openStream()));
        return out.toString();
    }
}
