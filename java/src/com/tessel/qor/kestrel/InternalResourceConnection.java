package com.tessel.qor.kestrel;

import java.io.IOException;
import java.io.InputStream;
import java.net.URL;

/**
 * A connection to one payload entry: its input stream reads the entry that
 * the URL names; its length is the entry's size and its modification time
 * the time its jar recorded.  Defined into the bootstrap loader by
 * InternalClassLoader from bytes that it carries, like the URL handler.
 */
public final class InternalResourceConnection extends java.net.URLConnection {
    private final String entry;
    private InputStream stream;

    public InternalResourceConnection(URL url) {
        super(url);
        entry = InternalClassPath.entryOfUrl(url);
    }

    /** Opens the entry; FileNotFoundException when the payload lacks it. */
    @Override
    public synchronized void connect() throws IOException {
        if (!connected) {
            stream = new InternalResourceStream(new InternalInputStream(entry));
            connected = true;
        }
    }

    @Override
    public synchronized InputStream getInputStream() throws IOException {
        connect();
        return stream;
    }

    /** The entry's uncompressed size; -1 when the payload lacks it. */
    @Override
    public long getContentLengthLong() {
        long info = InternalInputStream.entryInfo(entry);
        return info < 0 ? -1 : info & 0xffffffffL;
    }

    @Override
    public int getContentLength() {
        long length = getContentLengthLong();
        return length > Integer.MAX_VALUE ? -1 : (int) length;
    }

    /** The entry's time as its jar recorded it; 0 when unknown. */
    @Override
    public long getLastModified() {
        return InternalClassPath.lastModified(entry);
    }

    @Override
    public String getHeaderField(String name) {
        if ("content-length".equalsIgnoreCase(name)) {
            long length = getContentLengthLong();
            return length < 0 ? null : Long.toString(length);
        }
        if ("last-modified".equalsIgnoreCase(name)) {
            long time = getLastModified();
            if (time == 0) {
                return null;
            }
            java.text.SimpleDateFormat format =
                    new java.text.SimpleDateFormat("EEE, dd MMM yyyy HH:mm:ss 'GMT'", java.util.Locale.US);
            format.setTimeZone(java.util.TimeZone.getTimeZone("GMT"));
            return format.format(new java.util.Date(time));
        }
        return null;
    }
}
