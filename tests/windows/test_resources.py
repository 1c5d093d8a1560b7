"""PARVO.exe as Windows sees the file: a GUI program for its processor that needs no DLL beside
the system's, its version record and its icon, read back out of the built file."""

import os
import pathlib
import struct
import subprocess
import unittest

EXE = pathlib.Path(os.environ["PARVO_EXE"])
ICON = pathlib.Path(os.environ["PARVO_SOURCE_DIR"]) / "data" / "parvo.ico"
SYSTEM_DLLS = {"advapi32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
               "shell32.dll", "user32.dll"}


def resource(kind, *options):
    return subprocess.run(["wrestool", "-x", "--type=%d" % kind, *options, str(EXE)],
                          check=True, capture_output=True).stdout


def align4(offset):
    return (offset + 3) & ~3


def version_block(data, offset=0):
    """(key, value bytes, children) of a version block and the offset after it."""
    length, value_length, text = struct.unpack_from("<HHH", data, offset)
    key_end = offset + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[offset + 6:key_end].decode("utf-16-le")
    position = align4(key_end + 2)
    value_size = value_length * 2 if text else value_length
    value = data[position:position + value_size]
    position = align4(position + value_size)
    children = []
    while position < offset + length:
        child, position = version_block(data, position)
        children.append(child)
    return (key, value, children), align4(offset + length)


def icon_images(data):
    """(width, height, colour count, image bytes) of each image of an .ico file."""
    count = struct.unpack_from("<HHH", data)[2]
    images = []
    for index in range(count):
        width, height, colours, _, _, _, size, offset = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * index)
        images.append((width, height, colours, data[offset:offset + size]))
    return images


class ProgramFileTest(unittest.TestCase):
    def test_gui_program_for_its_processor_without_dlls_of_its_own(self):
        data = EXE.read_bytes()
        header = struct.unpack_from("<I", data, 0x3C)[0]
        self.assertEqual(data[header:header + 4], b"PE\0\0")
        machine = struct.unpack_from("<H", data, header + 4)[0]
        expected = {"4": 0x14C, "8": 0x8664}[os.environ["PARVO_POINTER_SIZE"]]
        self.assertEqual(machine, expected)
        subsystem = struct.unpack_from("<H", data, header + 24 + 68)[0]
        self.assertEqual(subsystem, 2, "not a GUI program")
        dump = subprocess.run([os.environ["PARVO_OBJDUMP"], "-p", str(EXE)], check=True,
                              capture_output=True, text=True).stdout
        imports = {line.split(":")[1].strip().lower() for line in dump.splitlines()
                   if "DLL Name:" in line}
        self.assertLessEqual(imports, SYSTEM_DLLS)

    def test_version_record(self):
        (key, value, children), _ = version_block(resource(16, "--raw"))
        self.assertEqual(key, "VS_VERSION_INFO")
        signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", value)
        self.assertEqual(signature, 0xFEEF04BD)
        self.assertEqual((file_ms, file_ls), ((1 << 16) | 2, 13))
        self.assertEqual((product_ms, product_ls), ((1 << 16) | 2, 13))

        blocks = {child[0]: child for child in children}
        tables = blocks["StringFileInfo"][2]
        self.assertEqual([table[0] for table in tables], ["041104B0"])
        strings = {name: text.decode("utf-16-le").rstrip("\0") for name, text, _ in tables[0][2]}
        self.assertEqual(strings["FileVersion"], "1.02.0013")
        self.assertEqual(strings["ProductVersion"], "1.02.0013")
        self.assertEqual(strings["InternalName"], "PARVO")
        self.assertEqual(strings["OriginalFilename"], "PARVO.exe")
        translation = blocks["VarFileInfo"][2][0]
        self.assertEqual(translation[0], "Translation")
        self.assertEqual(struct.unpack("<HH", translation[1]), (0x0411, 0x04B0))

    def test_icon_is_the_drawn_one(self):
        shipped = icon_images(ICON.read_bytes())
        self.assertEqual([image[:3] for image in shipped], [(32, 32, 16)])
        self.assertEqual(icon_images(resource(14, "--name=1")), shipped)
