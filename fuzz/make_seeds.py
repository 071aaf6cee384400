#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/. Run it again after changing it;
the files it writes are committed."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
TIME = 1600000000


def archive(entries, count=None):
    """entries: (name bytes, packed bytes, unpacked size or None for stored)."""
    records = b""
    data = b""
    for name, packed, unpacked in entries:
        size = len(packed) if unpacked is None else unpacked
        records += struct.pack("<H", len(name)) + name
        records += struct.pack("<iiii", TIME, size, len(packed), len(data))
        data += packed
    n = len(entries) if count is None else count
    return b"TOLVEX" + struct.pack("<Ii", 100, n) + records + data


def deflated(name, content):
    return (name, zlib.compress(content, 9), len(content))


TEXT = b"".join(b"line %d of a text that deflates well\n" % i for i in range(60))
NOISE = bytes((i * 197 + 13) % 251 for i in range(64))

FOLDERS = archive([
    (b"docs/", b"", None),
    deflated(b"docs/readme.txt", TEXT),
    (b"data.bin", NOISE, None),
    (b"empty.txt", b"", None),
])

ARCHIVES = {
    "empty.tvx": archive([]),
    "one_stored.tvx": archive([(b"a.txt", b"hello", None)]),
    "one_deflated.tvx": archive([deflated(b"docs/readme.txt", TEXT)]),
    "folders.tvx": FOLDERS,
    "truncated.tvx": FOLDERS[: len(FOLDERS) - 40],
    "count_too_large.tvx": archive([(b"a.txt", b"hello", None)], count=0x7FFFFFFF),
    "negative_count.tvx": archive([(b"a.txt", b"hello", None)], count=-1),
    "bad_deflate.tvx": archive([(b"a.txt", zlib.compress(TEXT, 9)[:20] + b"\xff" + zlib.compress(TEXT, 9)[21:],
                                 len(TEXT))]),
    "hostile_names.tvx": archive([(b"../up.txt", b"x", None), (b"/abs.txt", b"y", None), (b"a//b/./c", b"z", None),
                                  (b"C:\\win\\x", b"w", None), (b"..", b"", None)]),
    "header_only.tvx": b"TOLVEX" + struct.pack("<I", 100),
    "not_an_archive.bin": b"PK\x03\x04" + bytes(26),
}


def shared_range():
    """Two records pointing at the same five stored bytes."""
    records = b""
    for name in (b"a.txt", b"b.txt"):
        records += struct.pack("<H", len(name)) + name + struct.pack("<iiii", TIME, 5, 5, 0)
    return b"TOLVEX" + struct.pack("<Ii", 100, 2) + records + b"hello"


ARCHIVES["shared_range.tvx"] = shared_range()

# Names corpus: two bytes of length limit, then the name.
NAMES = {
    "plain": b"\x03\x01docs/readme.txt",
    "climbing": b"\x10\x00../../etc/passwd",
    "absolute": b"\xff\x00/abs/path",
    "drive": b"\x80\x00C:\\Windows\\x.dll",
    "empty_components": b"\x40\x00a//b/./c/",
    "control": b"\x20\x00a\x01b\nc",
    "long": b"\x03\x01" + b"abcdefgh/" * 60,
    "dos_time": b"\x21\x54\x00\x00",  # 1980-01-01 10:33:02 as a DOS time
}


def main():
    for folder, files in (("archives", ARCHIVES), ("names", NAMES)):
        path = os.path.join(HERE, "corpus", folder)
        os.makedirs(path, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(path, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
