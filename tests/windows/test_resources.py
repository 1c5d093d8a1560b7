"""PARVO.exe as Windows sees the file: a GUI program for its processor that needs no DLL beside
the system's."""

import os
import pathlib
import struct
import subprocess
import unittest

EXE = pathlib.Path(os.environ["PARVO_EXE"])
SYSTEM_DLLS = {"advapi32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
               "shell32.dll", "user32.dll"}


class ProgramFileTest(unittest.TestCase):
    def test_gui_program_for_its_processor_without_dlls_of_its_own(self):
        data = EXE.read_bytes()
        header = struct.unpack_from("<I", data, 0x3C)[0]
        self.assertEqual(data[header:header + 4], b"PE\0\0")
        machine = struct.unpack_from("<H", data, header + 4)[0]
        self.assertEqual(machine, {"4": 0x14C, "8": 0x8664}[os.environ["PARVO_POINTER_SIZE"]])
        subsystem = struct.unpack_from("<H", data, header + 24 + 68)[0]
        self.assertEqual(subsystem, 2, "not a GUI program")
        dump = subprocess.run([os.environ["PARVO_OBJDUMP"], "-p", str(EXE)], check=True,
                              capture_output=True, text=True).stdout
        imports = {line.split(":")[1].strip().lower() for line in dump.splitlines()
                   if "DLL Name:" in line}
        self.assertLessEqual(imports, SYSTEM_DLLS)
