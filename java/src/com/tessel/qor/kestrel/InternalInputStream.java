package com.tessel.qor.kestrel;

import java.io.IOException;
import java.io.InputStream;

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

    /** The bytes of the entry not read yet; 0 once closed. */
    @Override
    public synchronized native int available();

    /**
     * Where the payload's first entry of that name lies and how long it is:
     * its offset in the entry data times 2^32 plus its uncompressed size, or
     * -1 when there is no such entry.  Opens nothing.
     */
    static native long entryInfo(String name);

    /**
     * The names of every entry whose name in its jar begins with
     * "META-INF/versions/" (later jars' copies included), in table order.
     */
    static native String[] versionedEntries();

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
}
