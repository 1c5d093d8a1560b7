#!/usr/bin/env python3
"""Writes a ZIP or TAR archive whose members are exactly as given, unsafe names and links included,
which the archiving tools would clean up or refuse.

  write_archive.py zip|tar OUT MEMBER...

MEMBER is NAME=TEXT (a file), NAME->TARGET (a symbolic link) or NAME=>TARGET (a hard link, TAR).
In a ZIP, NAME 0xHEX[@HEXUTF8] stores the name as those exact bytes without the UTF-8 flag, and
HEXUTF8 as its Unicode path field (0x7075).
"""
import io
import struct
import sys
import tarfile
import zipfile
import zlib


class RawName(zipfile.ZipInfo):
    def _encodeFilenameFlags(self):
        return self.raw, 0


def members(arguments):
    for argument in arguments:
        mark = next(mark for mark in ("=>", "->", "=") if mark in argument)
        name, _, value = argument.partition(mark)
        yield name, {"=>": "hard", "->": "symlink", "=": "file"}[mark], value


def write_zip(path, entries):
    with zipfile.ZipFile(path, "w") as archive:
        for name, kind, value in entries:
            info = (RawName if name.startswith("0x") else zipfile.ZipInfo)(name, (2020, 1, 1, 0, 0, 0))
            if name.startswith("0x"):
                info.raw, _, utf8 = name[2:].partition("@")
                info.raw = bytes.fromhex(info.raw)
                if utf8:
                    field = b"\1" + struct.pack("<I", zlib.crc32(info.raw)) + bytes.fromhex(utf8)
                    info.extra = struct.pack("<HH", 0x7075, len(field)) + field
            info.create_system = 3  # Unix, so that the mode below is read
            info.external_attr = (0o120777 if kind == "symlink" else 0o100644) << 16
            archive.writestr(info, value)


def write_tar(path, entries):
    with tarfile.open(path, "w", format=tarfile.GNU_FORMAT) as archive:
        for name, kind, value in entries:
            info = tarfile.TarInfo(name)
            info.mtime = 1577836800
            if kind == "file":
                info.size = len(value.encode())
            else:
                info.type = tarfile.SYMTYPE if kind == "symlink" else tarfile.LNKTYPE
                info.linkname = value
            archive.addfile(info, io.BytesIO(value.encode()) if kind == "file" else None)


if __name__ == "__main__":
    writer = write_zip if sys.argv[1] == "zip" else write_tar
    writer(sys.argv[2], list(members(sys.argv[3:])))
