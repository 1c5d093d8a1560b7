"""Batch runs of PARVO.exe under Wine with the stand-in archiver libraries: each DLL loaded and
called through its export as the program is built to call it, the cabinet library's busy wait
across the DLL, and the private cabinet's folder in the Windows temporary folder, removed after
the job, as are those that ended jobs left."""

import re
import threading
import time
import unittest

import wine_session
from wine_session import Folder

INPUT = "C:\\parvo\\in"


class BatchTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = wine_session.current
        cls.desktop = cls.session.desktop()
        cls.folder = Folder(cls.session, "C:\\parvo\\program")
        cls.temporary = cls.session.wine("cmd", "/c", "echo %TEMP%").stdout.strip()

    def make(self, name, folder=True):
        """A folder holding one file, or a file, in the input folder; its Windows path."""
        file = self.session.unix_path(INPUT + "\\" + name + ("\\member.txt" if folder else ""))
        file.parent.mkdir(parents=True, exist_ok=True)
        file.write_bytes(b"member" if folder else b"archive")
        return INPUT + "\\" + name

    def test_each_library_is_called_through_its_export(self):
        # Window 0, the whole 256-byte buffer zeroed, the paths as they stand; which command
        # each library gets is the core's (its tests on the simulated machine).
        paths = [self.make("backup.2024." + key, False)
                 for key in ["cab", "lzh", "zip", "tar", "arj"]]
        run = self.folder.run(" " + " ".join(paths))
        self.assertEqual([line.split(" [")[0] for line in run.calls],
                         [entry + " window=0 size=256 output=empty" for entry in [
                             "cab32.dll!Cab", "UNLHA32.DLL!Unlha", "UNZIP32.DLL!UnZip",
                             "TAR32.DLL!Tar", "UNARJ32.DLL!UnArj"]])
        for line, path in zip(run.calls, paths):
            self.assertTrue(line.endswith(' "%s" "%s\\backup\\"]' % (path, self.desktop)), line)
        self.assertEqual((run.messages, run.exit_code), (0, 0))

    def test_self_extracting_job_waits_for_the_library_and_removes_folders_no_job_holds(self):
        folder, hold = self.make("Tools.v2"), self.make("hold", False)
        self.session.store_setting(None)
        # As a killed job leaves its folder: no process holds it.
        abandoned = self.session.unix_path(self.temporary + "\\parvo-0badcafe")
        abandoned.mkdir()
        holder = Folder(self.session, "C:\\parvo\\holder")
        thread = threading.Thread(target=holder.run,
                                  args=(" " + folder, {"PARVO_FAKE_HOLD": hold}))
        thread.start()
        try:
            written = None
            while thread.is_alive() and not written:
                time.sleep(0.1)
                written = re.search(r" wrote (.+)\n",
                                    holder.log.read_text() if holder.log.exists() else "")
            held = self.session.unix_path(written.group(1))
            run = self.folder.run(" " + folder, {"PARVO_FAKE_BUSY": "3"})
            self.assertEqual((run.exit_code, run.messages, abandoned.exists(), held.exists()),
                             (0, 0, False, True), run.log)
        finally:
            self.session.unix_path(hold).unlink()
            thread.join()
        packed = re.fullmatch(r'cab32\.dll!Cab window=0 size=256 output=empty '
                              r'\[-a -r -ml:21 "(.+\\parvo-[0-9a-f]{8}\\Tools\.cab)" \*\.\*\]',
                              run.calls[0])
        self.assertIsNotNone(packed, run.log)
        cabinet = packed.group(1)
        self.assertTrue(cabinet.lower().startswith(self.temporary.lower() + "\\"), cabinet)
        self.assertIn("cab32.dll wrote " + cabinet, run.log)
        self.assertEqual(run.calls[1:4], ["cab32.dll!CabGetRunning busy"] * 3, run.log)
        self.assertFalse(self.session.unix_path(cabinet).parent.exists())
