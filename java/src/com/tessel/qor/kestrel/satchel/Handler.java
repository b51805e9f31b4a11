package com.tessel.qor.kestrel.satchel;

import java.io.IOException;
import java.net.URL;
import java.net.URLConnection;
import java.net.URLStreamHandler;

import com.tessel.qor.kestrel.InternalResourceConnection;

/**
 * The handler of "satchel:" URLs, by which InternalClassLoader names its
 * resources.  InternalClassLoader defines it into the bootstrap loader from
 * bytes that it carries, and adds its package prefix to the system property
 * java.protocol.handler.pkgs: java.net.URL then finds this class by its name
 * (package prefix + ".satchel.Handler") for any "satchel:" URL written as
 * text, from any thread and any class loader.
 */
public final class Handler extends URLStreamHandler {
    @Override
    protected URLConnection openConnection(URL url) throws IOException {
        return new InternalResourceConnection(url);
    }
}
