"""Windows paths for real: short 8.3 names expanded to the stored long ones, quoted paths taken
as they are, the desktop folder as the shell gives it, the command line as Windows passes it."""

import unittest

import wine_session
from wine_session import Folder

SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"


def extraction(run):
    """(archive, destination) of each UnZip call."""
    result = []
    for line in run.log:
        if "!UnZip " in line:
            command = line[line.index("[") + 1:-1]
            archive, _, destination = command[len('-xv "'):-1].partition('" "')
            result.append((archive, destination))
    return result


class PathTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = wine_session.current
        cls.desktop = cls.session.desktop()
        cls.folder = Folder(cls.session, "C:\\paths\\program", ["UNZIP32.DLL"])
        cls.long_path = "C:\\Parvo Long Folder\\Report Archive 1999.zip"
        file = cls.session.unix_path(cls.long_path)
        file.parent.mkdir(parents=True, exist_ok=True)
        file.write_bytes(b"archive")
        cls.short_path = cls.session.short_path(cls.long_path)

    def test_short_path_expands_to_stored_names_keeping_the_drive_letter(self):
        self.assertNotEqual(self.short_path, self.long_path)
        self.assertNotIn(" ", self.short_path)
        lower_drive = "c" + self.short_path[1:]
        # A tab separates paths like a blank; leading and trailing blanks make no paths.
        run = self.folder.run("  %s\t%s " % (lower_drive, self.short_path.lower()))
        self.assertEqual(run.exit_code, 0)
        destination = self.desktop + "\\Report Archive 1999\\"
        self.assertEqual(extraction(run), [("c" + self.long_path[1:], destination),
                                           ("c" + self.long_path[1:], destination)])

    def test_quoted_path_is_taken_as_it_stands(self):
        run = self.folder.run(' "%s" "%s"' % (self.short_path, self.long_path))
        self.assertEqual(run.exit_code, 0)
        short_base = self.short_path.rsplit("\\", 1)[1].split(".")[0]
        self.assertEqual(extraction(run), [
            (self.short_path, "%s\\%s\\" % (self.desktop, short_base)),
            (self.long_path, self.desktop + "\\Report Archive 1999\\")])

    def test_missing_path_ends_the_run_with_an_error(self):
        run = self.folder.run(" C:\\nowhere\\gone.zip " + self.long_path.replace(" ", "?"))
        self.assertEqual((run.exit_code, run.messages, extraction(run)), (1, 1, []))

    def test_desktop_is_the_shells_even_when_long(self):
        long_desktop = "C:\\" + "\\".join(["Desktop folder %02d" % n for n in range(9)])
        self.assertGreater(len(long_desktop), 127)
        self.session.unix_path(long_desktop).mkdir(parents=True, exist_ok=True)
        self.session.wine("reg", "add", SHELL_FOLDERS, "/v", "Desktop", "/t", "REG_EXPAND_SZ",
                          "/d", long_desktop, "/f")
        try:
            run = self.folder.run(' "%s"' % self.long_path)
        finally:
            self.session.wine("reg", "add", SHELL_FOLDERS, "/v", "Desktop", "/t",
                              "REG_EXPAND_SZ", "/d", "%USERPROFILE%\\Desktop", "/f")
        self.assertEqual(extraction(run), [(self.long_path, long_desktop + "\\Report Archive 1999\\")])
