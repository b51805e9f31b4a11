package com.tessel.qor.kestrel;

import java.util.concurrent.ForkJoinPool;
import java.util.concurrent.ForkJoinWorkerThread;

/**
 * The thread factory of the common ForkJoinPool in a bundled application:
 * its workers have the payload class loader as context class loader, where
 * the JDK's own factory gives them the system class loader, which knows
 * nothing of the application.  Under java -cp the system class loader is
 * the application's loader, so parallel streams and CompletableFuture tasks
 * that use ServiceLoader or Class.forName with the context loader find the
 * application's classes there; with this factory they find them here too.
 *
 * InternalClassLoader names this class in the system property
 * java.util.concurrent.ForkJoinPool.common.threadFactory (unless the
 * application gave one), which the common pool reads when it is first used,
 * loading the class through the system class loader: it is defined into the
 * bootstrap loader like the URL handler, so that loader finds it.
 */
public final class InternalThreadFactory implements ForkJoinPool.ForkJoinWorkerThreadFactory {
    /** The loader that workers get as context class loader: the first payload loader made. */
    private static volatile ClassLoader payloadLoader;

    static void setPayloadLoader(ClassLoader loader) {
        if (payloadLoader == null) {
            payloadLoader = loader;
        }
    }

    @Override
    public ForkJoinWorkerThread newThread(ForkJoinPool pool) {
        return new Worker(pool, payloadLoader);
    }

    /** A worker of the pool with the payload loader as its context class loader. */
    static final class Worker extends ForkJoinWorkerThread {
        Worker(ForkJoinPool pool, ClassLoader loader) {
            super(pool);
            if (loader != null) {
                setContextClassLoader(loader);
            }
        }
    }
}
