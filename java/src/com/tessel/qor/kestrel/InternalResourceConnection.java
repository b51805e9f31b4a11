package com.tessel.qor.kestrel;

import java.io.IOException;
import java.io.InputStream;
import java.net.URL;

/**
 * A connection to one payload entry: its input stream reads the entry that
 * the URL names.  Defined by
 * InternalClassLoader from bytes that it carries, like the handler.
 */
public final class InternalResourceConnection extends java.net.URLConnection {
    private InputStream stream;

    public InternalResourceConnection(URL url) {
        super(url);
    }

    /** Opens the entry; FileNotFoundException when the payload lacks it. */
    @Override
    public synchronized void connect() throws IOException {
        if (!connected) {
            stream = new InternalResourceStream(new InternalInputStream(InternalInputStream.entryNameOf(url)));
            connected = true;
        }
    }

    @Override
    public synchronized InputStream getInputStream() throws IOException {
        connect();
        return stream;
    }
}
