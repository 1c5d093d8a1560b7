#!/usr/bin/env python3
"""Writes a stored ZIP whose names are given as exact bytes, for encodings zip tools won't write.

  write_named_zip.py OUT.zip FLAG:HEXNAME[=CONTENT][@HEXUTF8] ...

FLAG 1 sets general purpose bit 11 (the name is UTF-8), 0 leaves the name's encoding unstated.
HEXUTF8 adds the Unicode path extra field (0x7075) holding that UTF-8 name.
"""
import struct
import sys
import zlib


def main():
    entries = []
    for argument in sys.argv[2:]:
        flag, _, rest = argument.partition(":")
        rest, _, unicode_hex = rest.partition("@")
        name_hex, _, content = rest.partition("=")
        name = bytes.fromhex(name_hex)
        extra = b""
        if unicode_hex:
            path = b"\1" + struct.pack("<I", zlib.crc32(name)) + bytes.fromhex(unicode_hex)
            extra = struct.pack("<HH", 0x7075, len(path)) + path
        entries.append((name, content.encode(), 0x800 if flag == "1" else 0, extra))
    with open(sys.argv[1], "wb") as archive:
        central = b""
        for name, content, flags, extra in entries:
            offset = archive.tell()
            crc = zlib.crc32(content)
            # version, flags, method 0, DOS time 00:00 and date 2020-01-01, crc, sizes, name length
            fields = (20, flags, 0, 0, (40 << 9) | (1 << 5) | 1, crc, len(content), len(content),
                      len(name))
            archive.write(struct.pack("<4sHHHHHIIIHH", b"PK\3\4", *fields, len(extra)) + name +
                          extra + content)
            central += struct.pack("<4sHHHHHHIIIHHHHHII", b"PK\1\2", 20, *fields, len(extra), 0,
                                   0, 0, 0, offset) + name + extra
        start = archive.tell()
        archive.write(central)
        archive.write(struct.pack("<4sHHHHIIH", b"PK\5\6", 0, 0, len(entries), len(entries),
                                  len(central), start, 0))


if __name__ == "__main__":
    main()
