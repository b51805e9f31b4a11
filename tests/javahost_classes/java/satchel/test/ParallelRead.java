package satchel.test;

import java.io.DataInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.util.ArrayList;
import java.util.List;

/**
 * Many threads at once: each reads its own payload entry through an
 * InternalInputStream in chunks of varying size and checks every byte, and
 * loads classes of its own from the payload.
 */
public class ParallelRead {
    static final String TEXT = "The quick brown fox jumps over the lazy dog; pack my box with five dozen liquor jugs. ";

    /** The size of entry data/i.bin. */
    public static int size(int i) {
        return 100000 + i * 7919;
    }

    /** The bytes of entry data/i.bin; the test program writes the same. */
    static byte[] content(int entry) {
        byte[] bytes = new byte[size(entry)];
        int x = entry * 0x9E3779B9 + 1;
        for (int j = 0; j < bytes.length; j++) {
            if (((j >> 10) & 3) != 0) {
                x = x * 1103515245 + 12345;
                bytes[j] = (byte) (x >>> 24);
            } else {
                bytes[j] = (byte) TEXT.charAt((j + entry) % TEXT.length());
            }
        }
        return bytes;
    }

    static void check(int entry, int classes, int rounds) throws Exception {
        ClassLoader loader = ParallelRead.class.getClassLoader();
        for (int k = entry; k < classes; k += 16) {
            Class<?> c = Class.forName("satchel.test.gen.C" + k, true, loader);
            int id = (Integer) c.getMethod("id").invoke(null);
            if (id != k || c.getClassLoader() != loader) {
                throw new AssertionError("class C" + k + " says " + id);
            }
        }
        for (int round = 0; round < rounds; round++) {
            checkEntry(loader, entry);
        }
    }

    static void checkEntry(ClassLoader loader, int entry) throws IOException {
        byte[] content = content(entry);
        int size = content.length;
        int j = 0;
        int chunk = 1 + entry * 37;
        try (InputStream in = loader.getResourceAsStream("data/" + entry + ".bin")) {
            byte[] buffer = new byte[9000];
            while (true) {
                int n;
                int off = j % 13;
                if (j % 5 == 1) {
                    int b = in.read();
                    n = b < 0 ? -1 : 1;
                    buffer[off] = (byte) b;
                } else {
                    n = in.read(buffer, off, chunk);
                }
                if (n < 0) {
                    break;
                }
                if (n == 0 || n > chunk) {
                    throw new AssertionError("entry " + entry + ": read gave " + n + " for " + chunk);
                }
                for (int k = 0; k < n; k++, j++) {
                    int expected = j < size ? content[j] & 0xff : -1;
                    if ((buffer[off + k] & 0xff) != expected) {
                        throw new AssertionError("entry " + entry + ": byte " + j + " is " + (buffer[off + k] & 0xff)
                                + ", expected " + expected);
                    }
                }
                chunk = chunk * 7 % 8191 + 1;
            }
            if (j != size) {
                throw new AssertionError("entry " + entry + ": " + j + " bytes, expected " + size);
            }
            if (in.read(buffer, 0, 10) != -1 || in.read() != -1) {
                throw new AssertionError("entry " + entry + ": data after the end");
            }
        }
    }

    /** "ok", or the first failure of any thread; each reads its entry `rounds` times. */
    public static String run(int threads, final int classes, final int rounds) throws Exception {
        final List<Throwable> failures = new ArrayList<Throwable>();
        List<Thread> started = new ArrayList<Thread>();
        for (int t = 0; t < threads; t++) {
            final int entry = t;
            Thread thread = new Thread() {
                @Override
                public void run() {
                    try {
                        check(entry, classes, rounds);
                    } catch (Throwable e) {
                        synchronized (failures) {
                            failures.add(e);
                        }
                    }
                }
            };
            thread.start();
            started.add(thread);
        }
        for (Thread thread : started) {
            thread.join();
        }
        if (!failures.isEmpty()) {
            Throwable first = failures.get(0);
            return failures.size() + " failed, first: " + first;
        }
        return "ok";
    }

    /** Entry i read whole into one array of its size, as DataInputStream.readFully does. */
    public static String readFully(int entry) throws IOException {
        byte[] all = new byte[size(entry) + 3];
        try (DataInputStream in = new DataInputStream(
                ParallelRead.class.getClassLoader().getResourceAsStream("data/" + entry + ".bin"))) {
            in.readFully(all, 3, size(entry));
            if (in.read(all, 0, 1) != -1) {
                return "data after the end";
            }
        }
        byte[] content = content(entry);
        for (int j = 0; j < content.length; j++) {
            int expected = content[j] & 0xff;
            if ((all[3 + j] & 0xff) != expected) {
                return "byte " + j + " is " + (all[3 + j] & 0xff) + ", expected " + expected;
            }
        }
        return all[0] == 0 && all[1] == 0 && all[2] == 0 ? "ok" : "bytes before the offset changed";
    }

    /** Reading on after a failed read is allowed; close and reads after close. */
    public static String closed() throws IOException {
        InputStream in = ParallelRead.class.getClassLoader().getResourceAsStream("satchel/test/other.txt");
        in.close();
        in.close();
        try {
            in.read();
            return "read after close succeeded";
        } catch (IOException e) {
            return e.toString();
        }
    }
}
