#!/usr/bin/env python3
"""The tool's two jar readers side by side: libzip's (the Linux tool) and the
small one over zlib (the Windows tool), each built into a jar_dump program.

Every jar under the given folders (Debian's /usr/share/java, the suites' own
jars) and a table of archives written here must read the same through both:
the same entries, names, sizes, CRC-32s, times and streamed bytes.  A table of
damaged and hostile archives must be refused by the zlib reader with the
message given, and by libzip as well unless the row says that libzip reads it
(those rows are printed, as the readers' known differences).

  jar_readers_test.py JAR_DUMP_LIBZIP JAR_DUMP_ZLIB SCRATCH FOLDER_OR_JAR...
"""
import os
import struct
import subprocess
import sys
import zipfile
import zlib

libzip_dump, zlib_dump, scratch = sys.argv[1:4]
folders = sys.argv[4:]
os.makedirs(scratch, exist_ok=True)
failures = []


def dump(program, path, tz='UTC'):
    env = dict(os.environ, TZ=tz)
    r = subprocess.run([program, path], capture_output=True, env=env, timeout=300)
    return r.returncode, r.stdout, r.stderr.decode(errors='replace').strip()


def compare(label, path, tz='UTC'):
    a = dump(libzip_dump, path, tz)
    b = dump(zlib_dump, path, tz)
    if a[0] != 0:
        failures.append(f'{label}: libzip refuses it: {a[2]}')
    elif b[0] != 0:
        failures.append(f'{label}: the zlib reader refuses it: {b[2]}')
    elif a[1] != b[1]:
        al, bl = a[1].splitlines(), b[1].splitlines()
        first = next((i for i in range(min(len(al), len(bl))) if al[i] != bl[i]), min(len(al), len(bl)))
        failures.append(f'{label}: the readers differ at line {first}:\n  libzip {al[first:first+1]}\n'
                        f'  zlib   {bl[first:first+1]}')
    return a[1]


# --- Every jar of the given folders -------------------------------------
seen = set()
jars = 0
for folder in folders:
    walk = os.walk(folder) if os.path.isdir(folder) else [(os.path.dirname(folder), [], [os.path.basename(folder)])]
    for root, _, files in walk:
        for name in sorted(files):
            if not name.endswith('.jar'):
                continue
            real = os.path.realpath(os.path.join(root, name))
            if real in seen or not os.path.isfile(real):
                continue
            seen.add(real)
            jars += 1
            compare(real, real, os.environ.get('TZ', 'UTC'))
if jars < 3:
    failures.append(f'only {jars} jars found in {folders}')


# --- Archives written here ----------------------------------------------
def entry(name, data, method=8, flags=0, dos=(0x5A21, 0x6B43), stamp=None, zip64=False, descriptor=False,
          central_extra=b'', local_extra=b'', crc=None, size=None, csize=None):
    return dict(name=name, data=data, method=method, flags=flags, dos=dos, stamp=stamp, zip64=zip64,
                descriptor=descriptor, central_extra=central_extra, local_extra=local_extra, crc=crc, size=size,
                csize=csize)


def build(entries, comment=b'', zip64_end=False, tail=b'', count=None, cd_offset=None, cd_size=None,
          local_offsets=None):
    """A zip archive written byte by byte, so that every field can lie."""
    out = bytearray()
    central = bytearray()
    for i, e in enumerate(entries):
        data = e['data']
        if e['method'] == 8:
            c = zlib.compressobj(9, zlib.DEFLATED, -15)
            packed = c.compress(data) + c.flush()
        else:
            packed = data
        crc = zlib.crc32(data) if e['crc'] is None else e['crc']
        size = len(data) if e['size'] is None else e['size']
        csize = len(packed) if e['csize'] is None else e['csize']
        offset = len(out) if local_offsets is None else local_offsets[i]
        name = e['name'].encode() if isinstance(e['name'], str) else e['name']
        flags = e['flags'] | (8 if e['descriptor'] else 0)
        t, d = e['dos']
        lcrc, lsize, lcsize = (0, 0, 0) if e['descriptor'] else (crc, size, csize)
        out += struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, flags, e['method'], t, d, lcrc, lcsize, lsize,
                           len(name), len(e['local_extra'])) + name + e['local_extra'] + packed
        if e['descriptor']:
            out += struct.pack('<IIII', 0x08074b50, crc, csize, size)
        extra = e['central_extra']
        if e['stamp'] is not None:
            extra += struct.pack('<HHB', 0x5455, 5, 1) + struct.pack('<I', e['stamp'])
        fields = [size, csize, offset]
        if e['zip64']:
            extra = struct.pack('<HH', 1, 24) + struct.pack('<QQQ', *fields) + extra
            fields = [0xFFFFFFFF] * 3
        central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 45, 20, flags, e['method'], t, d, crc,
                               fields[1], fields[0], len(name), len(extra), 0, 0, 0, 0, fields[2]) + name + extra
    offset = len(out) if cd_offset is None else cd_offset
    size = len(central) if cd_size is None else cd_size
    n = len(entries) if count is None else count
    out += central
    if zip64_end:
        at = len(out)
        out += struct.pack('<IQHHIIQQQQ', 0x06064b50, 44, 45, 45, 0, 0, n, n, size, offset)
        out += struct.pack('<IIQI', 0x07064b50, 0, at, 1)
        n, size, offset = 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF
    out += struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, n, n, size, offset, len(comment)) + comment + tail
    return bytes(out)


def plain(**kw):
    return [entry('META-INF/MANIFEST.MF', b'Manifest-Version: 1.0\r\n\r\n', **kw),
            entry('a/B.class', bytes(range(256)) * 700, **kw),
            entry('empty/', b'', method=0, **kw)]


def python_zip(path, **kw):
    with zipfile.ZipFile(path, 'w', **kw) as z:
        z.writestr('a.txt', b'x' * 1000)
        z.writestr(zipfile.ZipInfo('b/c.txt', (2001, 2, 3, 4, 5, 6)), b'hello' * 99, zipfile.ZIP_DEFLATED)


class Unseekable:
    """A stream zipfile cannot seek in: it writes data descriptors."""
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
    def tell(self): raise OSError('unseekable')


readable = {
    'deflated, stored and a folder': build(plain()),
    'a comment that holds an end signature': build(plain(), comment=b'PK\x05\x06' + b'c' * 300),
    'bytes behind the comment': build(plain(), comment=b'note', tail=b'\0' * 40),
    'data descriptors': build(plain(descriptor=True)),
    'zip64 extra fields and end record': build(plain(zip64=True), zip64_end=True),
    'extended timestamps': build(plain(stamp=1700000000)),
    'an extended timestamp without the modification time':
        build([entry('x', b'y', central_extra=struct.pack('<HHBI', 0x5455, 5, 2, 99))]),
    'extra fields padded with zeros': build([entry('x', b'y', central_extra=b'\0\0')]),
    'a UTF-8 name': build([entry('dé/ü€.class', b'z' * 10, flags=0x800)]),
    'MS-DOS date 0': build([entry('x', b'y', dos=(0, 0))]),
    'month 13, day 31 of February, second 60': build([entry('a', b'1', dos=(0x001E, 0x01BF)),
                                                      entry('b', b'2', dos=(0x0000, 0x005F)),
                                                      entry('c', b'3', dos=(0xBF7E, 0xFF9F))]),
    'a spring-forward hour': build([entry('x', b'y', dos=(0x1400, 0x5A7E))]),  # 2025-03-30 02:00
    'no entries': build([]),
}
for label, data in readable.items():
    path = os.path.join(scratch, 'readable.jar')
    with open(path, 'wb') as f:
        f.write(data)
    for tz in ('UTC', 'Europe/Berlin'):
        compare(f'{label} (TZ={tz})', path, tz)
for label, kw in {'zipfile': {}, 'zipfile, zip64': {'allowZip64': True}}.items():
    path = os.path.join(scratch, 'python.jar')
    python_zip(path, **kw)
    compare(label, path)
path = os.path.join(scratch, 'unseekable.jar')
with open(path, 'wb') as f:
    python_zip(Unseekable(f), compression=zipfile.ZIP_DEFLATED)
if b'PK\x07\x08' not in open(path, 'rb').read():
    failures.append('zipfile wrote no data descriptor to an unseekable stream')
compare('zipfile, unseekable (data descriptors)', path)
path = os.path.join(scratch, 'many.jar')
with zipfile.ZipFile(path, 'w') as z:
    for i in range(70000):
        z.writestr(f'{i:05x}', b'')
compare('70,000 entries (zip64 end record)', path)

# --- Damaged and hostile archives ---------------------------------------
good = build(plain())
first_cd = good.index(b'PK\x01\x02')
end_at = good.index(b'PK\x05\x06')


def patched(data, at, fmt, value):
    data = bytearray(data)
    struct.pack_into(fmt, data, at, value)
    return bytes(data)


big = entry('a/B.class', bytes(range(256)) * 700)
# name, archive, what the zlib reader says, whether libzip reads it.
hostile = [
    ('an empty file', b'', 'not a zip archive', False),
    ('a text file', b'hello\n' * 100, 'not a zip archive', False),
    ('cut in the middle', good[:len(good) // 2], 'not a zip archive', False),
    ('cut inside the central directory', good[:first_cd + 30] + good[end_at:],
     'central directory lies outside', False),
    ('a count that lies', build(plain(), count=0xFFFF), 'claims more entries', False),
    ('a central directory past the end', build(plain(), cd_offset=0xFFFFFF00), 'outside the archive', False),
    ('a central directory longer than the archive', build(plain(), cd_size=0x7FFFFFFF), 'outside the archive',
     False),
    ('a local offset past the central directory', build([big], local_offsets=[0x7FFFFFF0]), 'outside', False),
    ('a damaged central record', patched(good, first_cd, '<I', 0x02014b51), 'damaged', False),
    ('a damaged local header', patched(good, 0, '<I', 0x04034b51), 'local header', True),
    ('an encrypted entry', build([entry('x', b'secret', flags=1)]), 'encrypted', False),
    ('compression method 99', build([entry('x', b'data', method=99)]), 'method 99', False),
    ('a wrong CRC-32', build([entry('x', b'data' * 50, crc=1234)]), 'CRC-32', False),
    ('a stored entry with a wrong CRC-32', build([entry('x', b'data', method=0, crc=1)]), 'CRC-32', False),
    ('a size larger than the data', build([entry('x', b'data' * 50, size=201)]), 'ends early', False),
    ('a size smaller than the data', build([entry('x', b'data' * 50, size=199)]), 'longer than stated', False),
    ('a compressed size too small', build([entry('x', bytes(range(256)) * 20, csize=100)]), 'ends early',
     False),
    ('damaged deflate data', patched(build([big]), 30 + 9, '<I', 0xFFFFFFFF), 'damaged', False),
    ('an extra field longer than its room', build([entry('x', b'y', central_extra=b'\x01\x02\xff\x00ab')]),
     'extra fields', False),
    ('sizes of all ones without a zip64 field', build([entry('x', b'y', size=0xFFFFFFFF)]), 'zip64', False),
    ('a zip64 locator pointing nowhere',
     build(plain(), zip64_end=True)[:-22 - 20] + struct.pack('<IIQI', 0x07064b50, 0, 0xFFFFFFF, 1) +
     build(plain(), zip64_end=True)[-22:], 'zip64 end', False),
    ('two entries sharing their data', build([big, big], local_offsets=[0, 0]), 'overlaps', True),
    ('a name with a NUL byte', build([entry(b'a\0b.class', b'x')]), 'NUL', True),
    ('a name flagged UTF-8 that is not', build([entry(b'caf\xe9', b'x', flags=0x800)]), 'UTF-8', False),
    ('a name that is not UTF-8, unflagged (CP437)', build([entry(b'caf\x82', b'x')]), 'not UTF-8', True),
]
bzip2 = os.path.join(scratch, 'bzip2.jar')
with zipfile.ZipFile(bzip2, 'w', zipfile.ZIP_BZIP2) as z:
    z.writestr('a.txt', b'hello' * 100)
hostile.append(('a bzip2 entry (zipfile)', open(bzip2, 'rb').read(), 'method 12', True))
known = []
for label, data, message, libzip_reads in hostile:
    path = os.path.join(scratch, 'hostile.jar')
    with open(path, 'wb') as f:
        f.write(data)
    a = dump(libzip_dump, path)
    b = dump(zlib_dump, path)
    if b[0] != 1:
        failures.append(f'{label}: the zlib reader did not refuse it ({b[0]}, {b[2]})')
    elif message not in b[2] or path not in b[2]:
        failures.append(f'{label}: the zlib reader said "{b[2]}", not "{message}" with the path')
    if a[0] != 1 and not libzip_reads:
        failures.append(f'{label}: libzip did not refuse it ({a[0]}, {a[2]})')
    if a[0] == 0 and libzip_reads:
        known.append(f'{label}: libzip reads it, the zlib reader says "{b[2][len(path) + 2:]}"')
    if a[0] == 1 and libzip_reads:
        failures.append(f'{label}: libzip refuses it now ({a[2]}): the table is out of date')

print(f'{jars} jars and {len(readable) * 2 + 4} written archives read the same through both readers; '
      f'{len(hostile)} hostile archives refused')
for line in known:
    print('known difference:', line)
for line in failures:
    print('FAIL:', line)
sys.exit(1 if failures else 0)
