package com.tessel.qor.kestrel;

import java.io.IOException;
import java.net.URL;
import java.net.URLConnection;
import java.net.URLStreamHandler;

/**
 * The handler of the "satchel:" URLs by which InternalClassLoader names its
 * resources.  InternalClassLoader defines this class itself from bytes that
 * it carries, so that a payload holds only the two internal classes.
 */
public final class InternalResourceHandler extends URLStreamHandler {
    @Override
    protected URLConnection openConnection(URL url) throws IOException {
        return new InternalResourceConnection(url);
    }
}
