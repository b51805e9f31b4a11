package com.tessel.qor.kestrel;

import java.io.ByteArrayOutputStream;
import java.io.DataInputStream;
import java.io.FileNotFoundException;
import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.nio.charset.StandardCharsets;
import java.time.DateTimeException;
import java.time.LocalDateTime;
import java.time.ZoneId;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * What the payload keeps of the jars that a bundle was packed from, and how
 * names map to entries.
 *
 * The jars' entries stand in class-path order, each jar's in its own order.
 * The first jar that holds a name gives the entry of that very name; every
 * later jar's entry of the same name is kept as "/satchel/K/NAME", K being
 * the jar's place on the class path (from 0).  The index entry
 * "/satchel/jars" names the jars, their flags, the first entry that each
 * contributed (entries of one jar are contiguous, so their offsets in the
 * entry data tell the jar) and the signature block of a signed jar (checked
 * when the bundle was packed); "/satchel/times" holds each entry's time as the
 * jar recorded it.  A payload without the index is one jar of unknown name.
 *
 * URLs: an entry NAME is "satchel:/NAME", a later jar's copy
 * "satchel:/!K/NAME" (NAME percent-encoded; '!' is always encoded inside it).
 *
 * Defined into the bootstrap loader by InternalClassLoader from bytes that
 * it carries; everything here is static and read-only once loaded.
 */
final class InternalClassPath {
    /** Entry names that belong to the bundle, not to a jar, begin with this. */
    static final String RESERVED = "/satchel/";
    static final String INDEX_ENTRY = "/satchel/jars";
    static final String TIMES_ENTRY = "/satchel/times";
    static final int INDEX_VERSION = 2;
    /** Jar flag: the manifest says Multi-Release: true. */
    static final int MULTI_RELEASE = 1;
    static final String VERSIONS = "META-INF/versions/";

    private static final String HEX = "0123456789ABCDEF";

    /** File names of the jars, their flags, the first entry each contributed. */
    private static final String[] jarNames;
    private static final int[] jarFlags;
    private static final String[] firstEntries;
    private static final String[] signatureBlocks;
    /** The release whose versioned entries multi-release jars serve; 0: none. */
    private static final int release;

    /** Offsets in the entry data where each jar's entries begin; made on first use. */
    private static volatile long[] jarStarts;
    /**
     * Per name in a jar: the versioned entries that multi-release jars hold
     * for it, for releases from 9 to the running one, in class-path order and
     * within a jar newest release first; made on first use.
     */
    private static volatile Map<String, List<String>> versionedByName;
    private static volatile Map<String, Long> times;

    static {
        String[] names = {""};
        int[] flags = {0};
        String[] firsts = {""};
        String[] blocks = {""};
        boolean anyMultiRelease = false;
        try (DataInputStream in = new DataInputStream(new InternalInputStream(INDEX_ENTRY))) {
            if (in.readInt() == INDEX_VERSION) {
                int count = in.readInt();
                names = new String[count];
                flags = new int[count];
                firsts = new String[count];
                blocks = new String[count];
                for (int i = 0; i < count; i++) {
                    names[i] = in.readUTF();
                    flags[i] = in.readInt();
                    firsts[i] = in.readUTF();
                    blocks[i] = in.readUTF();
                    anyMultiRelease |= (flags[i] & MULTI_RELEASE) != 0;
                }
            }
        } catch (FileNotFoundException e) {
            // an older bundle: one jar
        } catch (IOException e) {
            throw new InternalError(e);
        }
        jarNames = names;
        jarFlags = flags;
        firstEntries = firsts;
        signatureBlocks = blocks;
        release = anyMultiRelease ? runtimeRelease() : 0;
    }

    private InternalClassPath() {
    }

    /** The release that java.util.jar.JarFile serves versioned entries for; 0 for none. */
    private static int runtimeRelease() {
        if ("false".equals(System.getProperty("jdk.util.jar.enableMultiRelease"))) {
            return 0;
        }
        int feature = featureOf(System.getProperty("java.specification.version"));
        String chosen = System.getProperty("jdk.util.jar.version");
        if (chosen != null) {
            int asked = featureOf(chosen);
            if (asked > 0 && asked < feature) {
                feature = asked;
            }
        }
        return feature >= 9 ? feature : 0;
    }

    private static int featureOf(String version) {
        if (version == null || version.startsWith("1.")) {
            return 8;
        }
        int end = 0;
        while (end < version.length() && Character.isDigit(version.charAt(end))) {
            end++;
        }
        try {
            return Integer.parseInt(version.substring(0, end));
        } catch (NumberFormatException e) {
            return 0;
        }
    }

    static int jarCount() {
        return jarNames.length;
    }

    static String jarName(int jar) {
        return jarNames[jar];
    }

    /** The entry of the jar's signature block (PKCS #7), or "" for an unsigned jar. */
    static String signatureBlock(int jar) {
        return signatureBlocks[jar];
    }

    /** The name in its jar of a stored entry (a later jar's copy loses its prefix). */
    static String nameInJar(String entry) {
        return entry.startsWith(RESERVED) ? entry.substring(entry.indexOf('/', RESERVED.length()) + 1) : entry;
    }

    static boolean exists(String entry) {
        return InternalInputStream.entryInfo(entry) >= 0;
    }

    /** The jar whose entries lie at that offset of the entry data. */
    static int jarAt(long offset) {
        if (jarNames.length == 1) {
            return 0;
        }
        long[] starts = jarStarts;
        if (starts == null) {
            starts = new long[jarNames.length];
            for (int i = 0; i < starts.length; i++) {
                long info = firstEntries[i].isEmpty() ? -1 : InternalInputStream.entryInfo(firstEntries[i]);
                starts[i] = info < 0 ? Long.MAX_VALUE : info >>> 32;
            }
            jarStarts = starts;
        }
        int jar = 0;
        for (int i = 0; i < starts.length; i++) {
            if (starts[i] != Long.MAX_VALUE && starts[i] <= offset) {
                jar = i;
            }
        }
        return jar;
    }

    /** The jar that gave the entry of exactly that name, or -1 without one. */
    static int jarOf(String entry) {
        long info = InternalInputStream.entryInfo(entry);
        return info < 0 ? -1 : jarAt(info >>> 32);
    }

    /** The entry that holds that jar's NAME, or null when the jar has none. */
    static String entryOfJar(int jar, String name) {
        String copy = RESERVED + jar + "/" + name;
        if (exists(copy)) {
            return copy;
        }
        return jarOf(name) == jar ? name : null;
    }

    static boolean isMultiRelease(int jar) {
        return release > 0 && (jarFlags[jar] & MULTI_RELEASE) != 0;
    }

    /** True when a multi-release jar may serve versioned entries on this runtime. */
    static boolean hasVersionedEntries() {
        return release > 0;
    }

    /** The jar of a stored entry: a later jar's copy names it, else the first that holds the name. */
    static int jarOfStored(String entry) {
        if (entry.startsWith(RESERVED)) {
            int slash = entry.indexOf('/', RESERVED.length());
            try {
                return Integer.parseInt(entry.substring(RESERVED.length(), slash));
            } catch (RuntimeException e) {
                return -1;
            }
        }
        return jarOf(entry);
    }

    /** The versioned entries for NAME (see versionedByName); empty when there are none. */
    private static List<String> versionedOf(String name) {
        if (release == 0 || name.startsWith("META-INF/")) {
            return Collections.<String>emptyList();
        }
        Map<String, List<String>> known = versionedByName;
        if (known == null) {
            known = loadVersioned();
        }
        List<String> found = known.get(name);
        return found != null ? found : Collections.<String>emptyList();
    }

    private static synchronized Map<String, List<String>> loadVersioned() {
        if (versionedByName != null) {
            return versionedByName;
        }
        Map<String, List<String>> byName = new HashMap<String, List<String>>();
        for (String entry : InternalInputStream.versionedEntries()) {
            int jar = jarOfStored(entry);
            String inJar = nameInJar(entry);
            int slash = inJar.indexOf('/', VERSIONS.length());
            if (jar < 0 || !isMultiRelease(jar) || slash < 0) {
                continue;
            }
            int version;
            try {
                version = Integer.parseInt(inJar.substring(VERSIONS.length(), slash));
            } catch (NumberFormatException e) {
                continue;
            }
            if (version < 9 || version > release) {
                continue;
            }
            String name = inJar.substring(slash + 1);
            List<String> list = byName.get(name);
            if (list == null) {
                list = new ArrayList<String>(1);
                byName.put(name, list);
            }
            list.add(entry);
        }
        for (List<String> list : byName.values()) {
            Collections.sort(list, new java.util.Comparator<String>() {
                @Override
                public int compare(String a, String b) {
                    int byJar = Integer.compare(jarOfStored(a), jarOfStored(b));
                    return byJar != 0 ? byJar : Integer.compare(versionOf(b), versionOf(a));
                }
            });
        }
        versionedByName = byName;
        return byName;
    }

    /** N of a stored entry META-INF/versions/N/NAME. */
    private static int versionOf(String entry) {
        String inJar = nameInJar(entry);
        return Integer.parseInt(inJar.substring(VERSIONS.length(), inJar.indexOf('/', VERSIONS.length())));
    }

    /**
     * What a multi-release jar serves for NAME beyond its own entry: its
     * versioned entry for the newest release that the runtime takes; null
     * when it has none (or is no multi-release jar).
     */
    private static String versionedIn(int jar, String name) {
        for (String candidate : versionedOf(name)) {
            if (jarOfStored(candidate) == jar) {
                return candidate;
            }
        }
        return null;
    }

    /**
     * The entry that the class path serves for a resource NAME, in the first
     * jar that holds it, as itself or (multi-release) as a versioned entry
     * only; a folder also when asked without its slash; or null.
     */
    static String resolve(String name) {
        if (name.startsWith(RESERVED)) {
            return null;
        }
        long info = InternalInputStream.entryInfo(name);
        int holder = info < 0 ? Integer.MAX_VALUE : jarAt(info >>> 32);
        List<String> versions = versionedOf(name);
        if (!versions.isEmpty() && jarOfStored(versions.get(0)) <= holder) {
            return versions.get(0);
        }
        if (info < 0) {
            String folder = name + "/";
            return !name.isEmpty() && !name.endsWith("/") && exists(folder) ? folder : null;
        }
        return name;
    }

    /** Every jar's entry for NAME, in class-path order. */
    static List<String> resolveAll(String name) {
        List<String> entries = new ArrayList<String>(2);
        String first = resolve(name);
        if (first == null || jarNames.length == 1) {
            if (first != null) {
                entries.add(first);
            }
            return entries;
        }
        String plain = first.endsWith("/") && !name.endsWith("/") ? first : name;
        // The first jar that holds the name itself; later ones hold copies.
        int holder = jarOf(plain);
        for (int jar = 0; jar < jarNames.length; jar++) {
            String served = versionedIn(jar, plain);
            if (served == null && holder >= 0 && jar >= holder) {
                String copy = RESERVED + jar + "/" + plain;
                served = jar == holder ? plain : exists(copy) ? copy : null;
            }
            if (served != null) {
                entries.add(served);
            }
        }
        return entries;
    }

    /** The bytes of a whole entry. */
    static byte[] read(String entry) throws IOException {
        try (InputStream in = new InternalInputStream(entry)) {
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            byte[] buffer = new byte[8192];
            int n;
            while ((n = in.read(buffer, 0, buffer.length)) > 0) {
                out.write(buffer, 0, n);
            }
            return out.toByteArray();
        }
    }

    // ---- times ----

    /** The entry's time in milliseconds as java.util.zip.ZipEntry.getTime gives it; 0 when unknown. */
    static long lastModified(String entry) {
        Map<String, Long> known = times;
        if (known == null) {
            known = loadTimes();
        }
        Long time = known.get(entry);
        return time == null ? 0 : time.longValue();
    }

    /** Records: the entry name, a kind (1: MS-DOS date and time, 2: Unix seconds) and the value. */
    private static synchronized Map<String, Long> loadTimes() {
        if (times != null) {
            return times;
        }
        Map<String, Long> loaded = new HashMap<String, Long>();
        try (DataInputStream in = new DataInputStream(new java.io.BufferedInputStream(
                new InternalInputStream(TIMES_ENTRY), 16384))) {
            int count = in.readInt();
            for (int i = 0; i < count; i++) {
                String name = in.readUTF();
                int kind = in.readByte();
                long value = in.readLong();
                long millis = kind == 1 ? dosToJavaTime(value) : kind == 2 ? value * 1000 : -1;
                if (millis != -1) {
                    loaded.put(name, Long.valueOf(millis));
                }
            }
        } catch (IOException e) {
            // none recorded
        }
        times = loaded;
        return loaded;
    }

    /** An MS-DOS date and time in the default time zone, as ZipEntry reads it. */
    static long dosToJavaTime(long dtime) {
        int year = (int) (((dtime >> 25) & 0x7f) + 1980);
        int month = (int) ((dtime >> 21) & 0x0f);
        int day = (int) ((dtime >> 16) & 0x1f);
        int hour = (int) ((dtime >> 11) & 0x1f);
        int minute = (int) ((dtime >> 5) & 0x3f);
        int second = (int) ((dtime << 1) & 0x3e);
        if (month > 0 && month < 13 && day > 0 && hour < 24 && minute < 60 && second < 60) {
            try {
                LocalDateTime local = LocalDateTime.of(year, month, day, hour, minute, second);
                return local.toEpochSecond(ZoneId.systemDefault().getRules().getOffset(local)) * 1000;
            } catch (DateTimeException e) {
                // out of range: as below
            }
        }
        java.util.Calendar calendar = java.util.Calendar.getInstance();
        calendar.clear();
        calendar.set(year, month - 1, day, hour, minute, second);
        return calendar.getTimeInMillis();
    }

    // ---- URLs ----

    /** Characters that stand for themselves in the path of a URL ('!' marks a jar). */
    private static boolean isPathChar(int c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                || "-._~/$&'()*+,;=:@".indexOf(c) >= 0;
    }

    /** The path of the "satchel:" URL of an entry. */
    static String urlPathOf(String entry) {
        String name = entry;
        StringBuilder out = new StringBuilder(entry.length() + 16).append('/');
        if (entry.startsWith(RESERVED)) {
            int slash = entry.indexOf('/', RESERVED.length());
            out.append('!').append(entry, RESERVED.length(), slash).append('/');
            name = entry.substring(slash + 1);
        }
        for (byte b : name.getBytes(StandardCharsets.UTF_8)) {
            int c = b & 0xff;
            if (c < 0x80 && isPathChar(c)) {
                out.append((char) c);
            } else {
                out.append('%').append(HEX.charAt(c >> 4)).append(HEX.charAt(c & 15));
            }
        }
        return out.toString();
    }

    /**
     * The entry that a "satchel:" URL stands for.  A URL that names a later
     * jar's entry which that jar lacks (a relative URL resolved against one)
     * stands for the first jar's entry of the name.
     */
    static String entryOfUrl(URL url) {
        String path = url.getPath();
        int start = path.startsWith("/") ? 1 : 0;
        String jar = null;
        if (path.startsWith("!", start)) {
            int slash = path.indexOf('/', start);
            if (slash > start + 1) {
                jar = path.substring(start + 1, slash);
                start = slash + 1;
            }
        }
        String name = decode(path, start);
        if (jar != null) {
            String copy = RESERVED + jar + "/" + name;
            if (exists(copy)) {
                return copy;
            }
        }
        return name;
    }

    private static String decode(String path, int start) {
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
