package com.tessel.qor.kestrel;

import java.io.IOException;
import java.io.InputStream;

/**
 * What application code reads a payload resource through: an InputStream
 * over an InternalInputStream.  The read native pins a copy of the whole
 * array it is given, however few bytes it fills, so reading a large resource
 * into one large array (readFully, say) would copy that array once per
 * refill: quadratic.  Large arrays are therefore filled through a small
 * scratch array of this stream.  Defined into the bootstrap loader by
 * InternalClassLoader from bytes that it carries, like the URL handler.
 */
public final class InternalResourceStream extends InputStream {
    /** Arrays up to this length go to the native as they are. */
    private static final int DIRECT_LIMIT = 16384;

    private final InternalInputStream in;
    private byte[] scratch;

    public InternalResourceStream(InternalInputStream in) {
        this.in = in;
    }

    @Override
    public int read() throws IOException {
        return in.read();
    }

    @Override
    public int read(byte[] b, int off, int len) throws IOException {
        if (b == null) {
            throw new NullPointerException();
        }
        if (off < 0 || len < 0 || len > b.length - off) {
            throw new IndexOutOfBoundsException();
        }
        if (b.length <= DIRECT_LIMIT) {
            return in.read(b, off, len);
        }
        if (len == 0) {
            return 0;
        }
        synchronized (this) {
            if (scratch == null) {
                scratch = new byte[DIRECT_LIMIT];
            }
            int n = in.read(scratch, 0, Math.min(len, DIRECT_LIMIT));
            if (n > 0) {
                System.arraycopy(scratch, 0, b, off, n);
            }
            return n;
        }
    }

    /** The bytes of the entry not read yet: exact, so new byte[available()] holds the rest. */
    @Override
    public int available() throws IOException {
        return in.available();
    }

    @Override
    public void close() {
        in.close();
    }
}
