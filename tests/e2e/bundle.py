"""Writes bundles byte by byte, independently of our bundle tool, so that the
end-to-end tests can also make bundles that the tool refuses to make (msi and
exe names that collide, over-long names, damaged entries, a header whose CRC
does not match)."""
import struct
import zlib

MAGIC = b"_kestrel_Header_"
BLOCK = 512


def deflate_raw(data, level=9):
    compressor = zlib.compressobj(level, zlib.DEFLATED, -15)
    return compressor.compress(data) + compressor.flush()


def header(file_count, toc_compressed, toc_uncompressed, entry_data_size, crc=None):
    head = MAGIC + struct.pack("<IIII", file_count, toc_compressed, toc_uncompressed,
                               entry_data_size)
    if crc is None:
        crc = zlib.crc32(head) & 0xFFFFFFFF
    return head + struct.pack("<I", crc)


def payload(files=(), properties=(), damage=None, declared=None):
    """files: (name, content bytes) in table order; properties: (key, value)
    strings.  `damage(name, compressed) -> compressed` may rewrite an entry's
    compressed bytes (its recorded sizes stay those of the intact entry);
    `declared` {name: size} records other uncompressed sizes."""
    records = b""
    entries = b""
    for name, content in files:
        compressed = deflate_raw(content)
        recorded = len(compressed)
        if damage is not None:
            compressed = damage(name, compressed)
        records += b"\x01" + name.encode("utf-8") + b"\x00" + struct.pack(
            "<III", len(entries), recorded, (declared or {}).get(name, len(content)))
        entries += compressed
    for key, value in properties:
        records += b"\x02" + key.encode("utf-8") + b"\x00" + value.encode("utf-8") + b"\x00"
    toc = deflate_raw(records)
    return header(len(files), len(toc), len(records), len(entries)) + toc + entries


def pad_to_block(stub):
    return stub + b"\x00" * (-len(stub) % BLOCK)


def write_bundle(path, stub_path, files=(), properties=(), damage=None, declared=None):
    with open(stub_path, "rb") as f:
        stub = f.read()
    with open(path, "wb") as f:
        f.write(pad_to_block(stub) + payload(files, properties, damage, declared))


def find_header(data):
    """File offset of the first 512-byte block that holds the magic and a
    matching CRC, as the reader finds it; None when there is none."""
    for at in range(0, len(data) - 35, BLOCK):
        candidate = data[at:at + 36]
        if candidate[:16] == MAGIC and \
                zlib.crc32(candidate[:32]) & 0xFFFFFFFF == struct.unpack("<I", candidate[32:])[0]:
            return at
    return None


def read_entries(data):
    """{name: (file offset, compressed size, uncompressed size)} of the first
    file entry of each name."""
    at = find_header(data)
    _, toc_compressed, toc_uncompressed, _ = struct.unpack("<IIII", data[at + 16:at + 32])
    records = zlib.decompress(data[at + 36:at + 36 + toc_compressed], -15)
    assert len(records) == toc_uncompressed
    entry_data = at + 36 + toc_compressed
    entries = {}
    i = 0
    while i < len(records):
        kind = records[i]
        i += 1
        if kind == 1:
            end = records.index(b"\x00", i)
            name = records[i:end].decode("utf-8")
            offset, compressed, uncompressed = struct.unpack("<III", records[end + 1:end + 13])
            entries.setdefault(name, (entry_data + offset, compressed, uncompressed))
            i = end + 13
        elif kind == 2:
            i = records.index(b"\x00", records.index(b"\x00", i) + 1) + 1
        else:
            raise ValueError("record type %d" % kind)
    return entries
