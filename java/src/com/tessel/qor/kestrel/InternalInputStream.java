package com.tessel.qor.kestrel;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.nio.charset.StandardCharsets;

/**
 * The bytes of one payload entry, inflated on demand by the launcher's
 * natives.  The natives are bound by the launcher when it defines this class;
 * they take no lock of their own, so this class keeps read and close apart:
 * both run under the object's monitor.
 *
 * This class is defined into the bootstrap loader and may refer to nothing
 * but the Java platform and InternalClassLoader.
 */
public final class InternalInputStream extends InputStream {
    /** Address of the native entry stream; 0 while closed. */
    private long handle;

    /**
     * Opens the payload entry of exactly this name.
     *
     * @throws java.io.FileNotFoundException when the payload has no such entry
     */
    public InternalInputStream(String name) throws IOException {
        openInternalStream(name);
    }

    private native void openInternalStream(String name) throws IOException;

    private native void closeInternalStream();

    /** Up to len bytes of the entry; -1 at its end. */
    @Override
    public synchronized native int read(byte[] b, int off, int len) throws IOException;

    @Override
    public int read() throws IOException {
        byte[] one = new byte[1];
        int n = read(one, 0, 1);
        return n > 0 ? one[0] & 0xff : -1;
    }

    /** Frees the native stream; closing a closed stream does nothing. */
    @Override
    public synchronized void close() {
        closeInternalStream();
    }

    /** A stream that nobody closed still gives its native memory back. */
    @Override
    protected void finalize() {
        close();
    }

    private static final String HEX = "0123456789ABCDEF";

    /** Characters that stand for themselves in the path of a URL. */
    private static boolean isPathChar(int c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                || "-._~/!$&'()*+,;=:@".indexOf(c) >= 0;
    }

    /** The path of a "satchel:" URL for an entry: "/" and the name's UTF-8 bytes, percent-encoded where needed. */
    static String urlPathOf(String name) {
        byte[] bytes = name.getBytes(StandardCharsets.UTF_8);
        StringBuilder out = new StringBuilder(bytes.length + 16).append('/');
        for (byte b : bytes) {
            int c = b & 0xff;
            if (c < 0x80 && isPathChar(c)) {
                out.append((char) c);
            } else {
                out.append('%').append(HEX.charAt(c >> 4)).append(HEX.charAt(c & 15));
            }
        }
        return out.toString();
    }

    /** The entry name that a "satchel:" URL of InternalClassLoader stands for. */
    public static String entryNameOf(URL url) {
        String path = url.getPath();
        int start = path.startsWith("/") ? 1 : 0;
        ByteArrayOutputStream bytes = new ByteArrayOutputStream(path.length());
        for (int i = start; i < path.length();) {
            int c = path.codePointAt(i);
            int hi = -1;
            int lo = -1;
            if (c == '%' && i + 2 < path.length()) {
                hi = Character.digit(path.charAt(i + 1), 16);
                lo = Character.digit(path.charAt(i + 2), 16);
            }
            if (hi >= 0 && lo >= 0) {
                bytes.write(hi << 4 | lo);
                i += 3;
            } else {
                byte[] utf8 = new String(Character.toChars(c)).getBytes(StandardCharsets.UTF_8);
                bytes.write(utf8, 0, utf8.length);
                i += Character.charCount(c);
            }
        }
        return new String(bytes.toByteArray(), StandardCharsets.UTF_8);
    }
}
