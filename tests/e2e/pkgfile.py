"""A package's bytes as the tests and the fuzzer change them: the payload's
file table read and written back (after the published layout: records of
the last file first, then TotFilesSize, NbFiles and the magic), stored
cabinets written byte by byte, and the block checksums of a cabinet."""
import hashlib
import struct

MAGIC = b"!QD69_TRV!"
SEARCH_SIZE = 10240
TF_EMBEDDED, TF_EXTERNAL, TF_STORED, TF_WEB = 0x01, 0x02, 0x04, 0x08
TF_UTF8_NAMES = 0x10  # File and FileOut are UTF-8


class Record:
    def __init__(self, file=b"", fileout=b"", size=0, offset=0, type=0):
        self.file, self.fileout = file, fileout
        self.size, self.offset, self.type = size, offset, type
        self.start = self.end = 0   # where the record lies in the package

    def __repr__(self):
        return "Record(%r, %r, %d, %d, %#x)" % (self.file, self.fileout, self.size,
                                                self.offset, self.type)


class Table:
    """The table of a package: records in file order (file 0 first)."""

    def __init__(self):
        self.records, self.nbfiles, self.totsize = [], 0, 0
        self.start = self.magic = 0  # first byte of the table, first byte of the magic


def find_magic(data):
    if data[-len(MAGIC):] == MAGIC:
        return len(data) - len(MAGIC)
    tail = data[-SEARCH_SIZE:]
    i = tail.find(MAGIC)
    return len(data) - len(tail) + i if i >= 0 else -1


def read_table(data):
    """The table as the launcher walks it; None when it is not whole."""
    t = Table()
    t.magic = find_magic(data)
    if t.magic < 12:
        return None
    pos = t.magic
    t.nbfiles = struct.unpack_from("<I", data, pos - 4)[0]
    t.totsize = struct.unpack_from("<Q", data, pos - 12)[0]
    pos -= 12
    for _ in range(t.nbfiles):
        r = Record()
        r.end = pos
        if pos < 25:
            return None
        lg = struct.unpack_from("<I", data, pos - 4)[0]
        pos -= 4
        if lg > 259 or lg > pos:
            return None
        r.file = bytes(data[pos - lg:pos])
        pos -= lg
        r.offset, r.size = struct.unpack_from("<QQ", data, pos - 16)
        pos -= 16
        r.type = data[pos - 1]
        pos -= 1
        lgo = struct.unpack_from("<I", data, pos - 4)[0]
        pos -= 4
        if lgo > 259 or lgo > pos:
            return None
        r.fileout = bytes(data[pos - lgo:pos])
        pos -= lgo
        r.start = pos
        t.records.append(r)
    t.start = pos
    return t


def record_bytes(r):
    return (r.fileout + struct.pack("<I", len(r.fileout)) + bytes([r.type & 0xFF]) +
            struct.pack("<QQ", r.offset, r.size) + r.file + struct.pack("<I", len(r.file)))


def table_bytes(records, nbfiles=None, totsize=None):
    """Records in file order, written last first, then the header and magic."""
    out = b"".join(record_bytes(r) for r in reversed(records))
    if totsize is None:
        totsize = sum(r.size for r in records) & 0xFFFFFFFFFFFFFFFF
    if nbfiles is None:
        nbfiles = len(records)
    return out + struct.pack("<QI", totsize, nbfiles & 0xFFFFFFFF) + MAGIC


def split_package(data):
    """(image, [(record, bytes of an embedded record or None)]) of a package
    whose table is whole and whose data follows the image."""
    t = read_table(data)
    if t is None:
        raise ValueError("no whole file table")
    embedded = [r.offset for r in t.records if r.type & TF_EMBEDDED]
    image_end = min(embedded) if embedded else t.start
    pieces = [(r, bytes(data[r.offset:r.offset + r.size]) if r.type & TF_EMBEDDED else None)
              for r in t.records]
    return bytes(data[:image_end]), pieces


def join_package(image, pieces):
    """The image, the embedded bytes in table order, the table."""
    out = bytearray(image)
    records = []
    for r, blob in pieces:
        r = Record(r.file, r.fileout, r.size, r.offset, r.type)
        if blob is not None:
            r.offset, r.size = len(out), len(blob)
            out += blob
        records.append(r)
    return bytes(out) + table_bytes(records)


# --- the hash resource (HASHES 137) ------------------------------------------

HASH_MAGIC = b"SWH1"
HASH_ENTRY = struct.Struct("<IIQ32s")
KIND_RECORD, KIND_DATA, KIND_ENTRY = 0, 1, 2


def hash_resource_at(data):
    """Where the package's hash resource starts in its bytes (the first
    "SWH1" followed by entries in order), or -1."""
    at = data.find(HASH_MAGIC)
    while at >= 0:
        count = struct.unpack_from("<I", data, at + 4)[0] if at + 8 <= len(data) else 0
        end = at + 8 + count * HASH_ENTRY.size
        if count and end <= len(data):
            keys = [HASH_ENTRY.unpack_from(data, at + 8 + i * HASH_ENTRY.size)[:2]
                    for i in range(count)]
            if all(k[0] <= KIND_ENTRY for k in keys) and keys == sorted(set(keys)):
                return at
        at = data.find(HASH_MAGIC, at + 1)
    return -1


def without_hashes(data):
    """The package as an older packer made it, without the hash resource:
    its type renamed where the resource tree names it."""
    name = b"\x06\x00" + "HASHES".encode("utf-16-le")
    if data.count(name) != 1:
        raise ValueError("no single hash resource name")
    return data.replace(name, b"\x06\x00" + "HASHEX".encode("utf-16-le"))


def record_identity(r):
    """The bytes a record's own hash is of: type, size, File and FileOut."""
    return (bytes([r.type & 0xFF]) + struct.pack("<Q", r.size) + r.file.split(b"\0")[0] + b"\0" +
            r.fileout.split(b"\0")[0] + b"\0")


def rehash_record(data, index, blob):
    """The package with the hash resource's entries of record index made to
    match its record and its bytes (blob, or None for a record without
    bytes) as they now stand: a change the checks then let through."""
    at = hash_resource_at(data)
    if at < 0:
        raise ValueError("no hash resource")
    record = read_table(data).records[index]
    data = bytearray(data)
    count = struct.unpack_from("<I", data, at + 4)[0]
    for i in range(count):
        pos = at + 8 + i * HASH_ENTRY.size
        kind, idx, _, _ = HASH_ENTRY.unpack_from(data, pos)
        if idx != index:
            continue
        if kind == KIND_RECORD and blob is not None:
            HASH_ENTRY.pack_into(data, pos, kind, idx, len(blob), hashlib.sha256(blob).digest())
        elif kind == KIND_ENTRY:
            identity = record_identity(record)
            HASH_ENTRY.pack_into(data, pos, kind, idx, len(identity),
                                 hashlib.sha256(identity).digest())
    return bytes(data)


# --- cabinets ---------------------------------------------------------------

def stored_cabinet(members, date=0x5021, time=0):
    """A cabinet of stored members in one folder; checksums 0 (not checked).
    members: [(name bytes, data bytes)]."""
    files = b""
    data = b""
    for name, blob in members:
        files += struct.pack("<IIHHHH", len(blob), len(data), 0, date, time, 0x20) + name + b"\0"
        data += blob
    off_files = 36 + 8
    off_data = off_files + len(files)
    blocks = b""
    n = 0
    for pos in range(0, max(len(data), 1), 32768):
        chunk = data[pos:pos + 32768]
        blocks += struct.pack("<IHH", 0, len(chunk), len(chunk)) + chunk
        n += 1
    size = off_data + len(blocks)
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, size, 0, off_files, 0, 3, 1, 1,
                         len(members), 0, 0x1234, 0)
    folder = struct.pack("<IHH", off_data, n, 0)
    return header + folder + files + blocks


def cabinet_blocks(cab):
    """(start, compressed size, uncompressed size) of each data block of a
    one-folder cabinet without reserved fields."""
    first, count = struct.unpack_from("<IH", cab, 36)
    out, pos = [], first
    for _ in range(count):
        if pos + 8 > len(cab):
            break
        cb, cbu = struct.unpack_from("<HH", cab, pos + 4)
        out.append((pos, cb, cbu))
        pos += 8 + cb
    return out


def cabinet_checksum(data, seed=0):
    csum = seed
    n = len(data) // 4 * 4
    for i in range(0, n, 4):
        csum ^= data[i] | data[i + 1] << 8 | data[i + 2] << 16 | data[i + 3] << 24
    rest = data[n:]
    ul = 0
    if len(rest) == 3:
        ul = rest[0] << 16 | rest[1] << 8 | rest[2]
    elif len(rest) == 2:
        ul = rest[0] << 8 | rest[1]
    elif len(rest) == 1:
        ul = rest[0]
    return (csum ^ ul) & 0xFFFFFFFF


def fix_cabinet_checksums(cab):
    """The same cabinet with every block carrying its right checksum, so that
    damage inside the blocks reaches the decoder."""
    cab = bytearray(cab)
    for pos, cb, _ in cabinet_blocks(cab):
        if pos + 8 + cb > len(cab):
            break
        body = cabinet_checksum(bytes(cab[pos + 8:pos + 8 + cb]))
        struct.pack_into("<I", cab, pos, cabinet_checksum(bytes(cab[pos + 4:pos + 8]), body))
    return bytes(cab)


def stored_member_positions(cab, positions, name):
    """Where each byte of a stored cabinet's member lies: cab is the
    cabinet's bytes, positions[k] where byte k of the cabinet lies in the
    file that holds it. None when the member is not there."""
    cfiles, = struct.unpack_from("<H", cab, 28)
    off_files, = struct.unpack_from("<I", cab, 16)
    pos = off_files
    member = None
    for _ in range(cfiles):
        size, start = struct.unpack_from("<II", cab, pos)
        end = cab.index(b"\0", pos + 16)
        if cab[pos + 16:end] == name:
            member = (start, size)
        pos = end + 1
    if member is None:
        return None
    # The folder's data stream, block by block.
    stream = []
    for block, cb, cbu in cabinet_blocks(cab):
        stream.extend(positions[block + 8:block + 8 + cb])
    start, size = member
    return stream[start:start + size]
