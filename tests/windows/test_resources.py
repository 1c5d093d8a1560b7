"""PARVO.exe as Windows sees the file: a GUI program for its processor that needs no DLL beside
the system's, its version record and its icon, read back out of the built file."""

import os
import pathlib
import re
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
        data = resource(16, "--raw")
        fixed = data.index(struct.pack("<I", 0xFEEF04BD))
        # File and product version, each as two 32-bit halves.
        self.assertEqual(struct.unpack_from("<4I", data, fixed + 8), ((1 << 16) | 2, 13) * 2)
        # Keys and values are UTF-16 text, each value after its key and up to two bytes of padding.
        text = data.decode("utf-16-le", errors="surrogatepass")
        for key, value in [("StringFileInfo", ""), ("FileVersion", "1.02.0013"),
                           ("ProductVersion", "1.02.0013"), ("InternalName", "PARVO"),
                           ("OriginalFilename", "PARVO.exe"), ("Translation", "\u0411\u04b0")]:
            self.assertRegex(text, "%s\0\0?%s" % (key, re.escape(value)))
        # One string table, in Japanese with Unicode text, as the translation says.
        self.assertEqual(re.findall("[0-9A-F]{8}(?=\0)", text), ["041104B0"])

    def test_icon_is_the_drawn_one(self):
        shipped = icon_images(ICON.read_bytes())
        self.assertEqual([image[:3] for image in shipped], [(32, 32, 16)])
        self.assertEqual(icon_images(resource(14, "--name=1")), shipped)
