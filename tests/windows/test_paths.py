"""Windows paths for real: short 8.3 names expanded to the stored long ones, a missing path or
library as the system reports it, names handed to the archivers only as their exact bytes in the
ANSI code page."""

import subprocess
import unittest

import wine_session
from wine_session import Folder


def extraction(archive, destination):
    return 'UNZIP32.DLL!UnZip window=0 size=256 output=empty [-xv "%s" "%s"]' % (archive,
                                                                               destination)


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
        cls.short_path = cls.session.wine("winepath", "-s", cls.long_path).stdout.strip()

    def test_short_path_expands_to_the_stored_long_names(self):
        self.assertNotEqual(self.short_path, self.long_path)
        run = self.folder.run(" " + self.short_path.lower())
        self.assertEqual(run.exit_code, 0)
        self.assertEqual(run.calls, [extraction("c" + self.long_path[1:],
                                                self.desktop + "\\Report Archive 1999\\")])

    def test_missing_path_or_library_ends_the_run_with_an_error(self):
        self.session.unix_path("C:\\paths\\a.cab").write_bytes(b"archive")
        for path in ["C:\\nowhere\\gone.zip", "C:\\paths\\a.cab"]:
            run = self.folder.run(" %s %s" % (path, self.long_path))
            self.assertEqual((run.exit_code, run.messages, run.calls), (1, 1, []), path)

    def test_names_reach_the_archiver_only_as_their_exact_bytes_in_the_code_page(self):
        # Each name's bytes in code pages 1252 and 932, None where it has no exact counterpart;
        # the last row shows which code page is in force.
        table = [("a＂ -x ＂b", None, b"a\xfaW -x \xfaWb"), ("c＼d", None, b"c\x81_d"),
                 ("eāf", None, None), ("gกh", None, None), ("iéj", b"i\xe9j", None)]
        for row in table:
            self.session.unix_path("C:\\%s.zip" % row[0]).write_bytes(b"archive")
        for column, locale in [(1, "en_US"), (2, "ja_JP")]:
            subprocess.run(["localedef", "--no-archive", "-i", locale, "-f", "UTF-8",
                            self.session.root / (locale + ".UTF-8")], check=True)
            run = self.folder.run("".join(' "C:\\%s.zip"' % row[0] for row in table),
                                  {"LC_ALL": locale + ".UTF-8", "LOCPATH": str(self.session.root)})
            called = [line for line in self.folder.log.read_bytes().splitlines() if b"!" in line]
            self.assertEqual(called, [extraction("C:\\%s.zip", "%s\\%s\\").encode()
                                      % (row[column], self.desktop.encode(), row[column])
                                      for row in table if row[column]])
            refused = sum(row[column] is None for row in table)
            self.assertEqual((run.messages, run.exit_code), (refused, 2), locale)
