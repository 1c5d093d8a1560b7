"""Batch runs of PARVO.exe under Wine with the stand-in archiver libraries: the exact command
lines, the order and laziness of library loading, the cabinet library's busy wait, the private
cabinet's removal (and of those that ended jobs left), and the messages that let the run go on."""

import re
import threading
import time
import unittest

import wine_session
from wine_session import Folder

INPUT = "C:\\parvo\\in"


def calls(run):
    """The logged calls without the lines about loading and writing."""
    return [line for line in run.log if "!" in line]


class BatchTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = wine_session.current
        cls.desktop = cls.session.desktop()
        cls.folder = Folder(cls.session, "C:\\parvo\\program")
        cls.session.unix_path(INPUT).mkdir(parents=True, exist_ok=True)

    def make_file(self, name):
        self.session.unix_path(INPUT + "\\" + name).write_bytes(b"archive")
        return INPUT + "\\" + name

    def make_folder(self, name):
        path = self.session.unix_path(INPUT + "\\" + name)
        path.mkdir(parents=True, exist_ok=True)
        (path / "member.txt").write_text("member")
        return INPUT + "\\" + name

    def test_each_extension_key_calls_its_library_with_its_command_line(self):
        table = [(".cab", "cab32.dll!Cab", "-x -o -r "), (".lzh", "UNLHA32.DLL!Unlha", "e -rxy "),
                 (".zip", "UNZIP32.DLL!UnZip", "-xv "), (".tar", "TAR32.DLL!Tar", "-xvf "),
                 (".arj", "UNARJ32.DLL!UnArj", "x -u ")]
        paths, expected = [], []
        for extension, entry_point, prefix in table:
            for key in (extension, extension.upper(), extension[:2].upper() + extension[2:]):
                path = self.make_file("backup.2024" + key)
                paths.append(path)
                expected.append('%s window=0 size=256 output=empty [%s"%s" "%s\\backup\\"]' %
                                (entry_point, prefix, path, self.desktop))
        # Unknown keys are answered with a message each, and the run goes on after them.
        unknown = [self.make_file("pack.tar.gz"), self.make_file("archive.ZiP")]
        run = self.folder.run(" " + " ".join(paths[:7] + unknown + paths[7:]))
        self.assertEqual(calls(run), expected)
        self.assertEqual(run.messages, 2)
        self.assertEqual(run.exit_code, 2)
        # Each library is loaded when its first call comes, in the order of the calls.
        loaded = [line for line in run.log if line.endswith(" loaded")]
        self.assertEqual(loaded, ["cab32.dll loaded", "UNLHA32.DLL loaded", "UNZIP32.DLL loaded",
                                  "TAR32.DLL loaded", "UNARJ32.DLL loaded"])
        self.assertEqual(run.log.index("UNLHA32.DLL loaded"), 3 + 1)

    def test_folder_packed_in_each_preferred_format(self):
        folder = self.make_folder("My.Folder")
        desktop = self.desktop
        for code, expected in [
                ("cab  ", 'cab32.dll!Cab window=0 size=256 output=empty '
                          '[-a -r -ml:21 "%s\\My.cab" *.*]' % desktop),
                ("lha  ", 'UNLHA32.DLL!Unlha window=0 size=256 output=empty '
                          '[a -rx "%s\\My.lzh" *.*]' % desktop)]:
            with self.subTest(code=code):
                self.session.store_setting(code)
                run = self.folder.run(" " + folder)
                self.assertEqual((calls(run), run.exit_code), ([expected], 0))
                # The archiver packs "*.*" of the dropped folder, made the current one.
                library = expected.split("!")[0]
                self.assertIn("%s packs %s" % (library, folder), run.log)

        self.session.store_setting("CABEX")
        run = self.folder.run(" " + folder)
        self.assertEqual((calls(run), run.messages, run.exit_code), ([], 1, 2))

    def test_self_extracting_program_waits_for_the_library_and_removes_its_cabinet(self):
        folder = self.make_folder("Tools.v2")
        self.session.store_setting(None)
        run = self.folder.run(" " + folder, {"PARVO_FAKE_BUSY": "3"})
        self.assertEqual(run.exit_code, 0)
        temporary = self.session.wine("cmd", "/c", "echo %TEMP%").stdout.strip()
        packed = re.fullmatch(r'cab32\.dll!Cab window=0 size=256 output=empty '
                              r'\[-a -r -ml:21 "(.+\\parvo-[0-9a-f]{8}\\Tools\.cab)" \*\.\*\]',
                              calls(run)[0])
        self.assertIsNotNone(packed, run.log)
        cabinet = packed.group(1)
        self.assertTrue(cabinet.lower().startswith(temporary.lower() + "\\"), cabinet)
        self.assertIn("cab32.dll wrote " + cabinet, run.log)
        self.assertEqual(calls(run)[1:], ["cab32.dll!CabGetRunning busy"] * 3 + [
            "cab32.dll!CabGetRunning idle",
            'cab32.dll!Cab window=0 size=256 output=empty [-f "%s" "%s\\"]' % (cabinet, self.desktop),
            "cab32.dll!CabGetRunning idle"])
        private_folder = self.session.unix_path(cabinet).parent
        self.assertFalse(private_folder.exists(), "the private folder is left behind")

    def test_self_extracting_job_removes_the_folders_no_running_job_holds(self):
        folder, hold = self.make_folder("Held"), self.make_file("hold")
        self.session.store_setting(None)
        temporary = self.session.wine("cmd", "/c", "echo %TEMP%").stdout.strip()
        # As a killed job leaves its folder: no process holds it.
        abandoned = self.session.unix_path(temporary + "\\parvo-0badcafe")
        abandoned.mkdir()
        holder = Folder(self.session, "C:\\parvo\\holder")
        thread = threading.Thread(target=holder.run,
                                  args=(" " + folder, {"PARVO_FAKE_HOLD": hold}))
        thread.start()
        try:
            written = None
            while thread.is_alive() and not written:
                time.sleep(0.1)
                log = holder.log.read_text() if holder.log.exists() else ""
                written = re.search(r" wrote (.+)\n", log)
            held = self.session.unix_path(written.group(1))
            run = self.folder.run(" " + folder)
            self.assertEqual((run.exit_code, run.messages, abandoned.exists(), held.exists()),
                             (0, 0, False, True), run.log)
        finally:
            self.session.unix_path(hold).unlink()
            thread.join()

    def test_only_the_libraries_a_run_needs_are_loaded(self):
        only_unzip = Folder(self.session, "C:\\parvo\\unzip only", ["UNZIP32.DLL"])
        archive = self.make_file("only.zip")
        run = only_unzip.run(" " + archive)
        self.assertEqual((run.exit_code, run.messages), (0, 0))
        self.assertEqual(run.log[0], "UNZIP32.DLL loaded")
        self.assertEqual(len(calls(run)), 1)

        # A missing library ends the run when a job needs it, after the jobs before it.
        run = only_unzip.run(" %s %s %s" % (archive, self.make_file("next.cab"), archive))
        self.assertEqual((run.exit_code, run.messages, len(calls(run))), (1, 1, 1))

    def test_a_failing_archiver_is_shown_and_the_run_goes_on(self):
        run = self.folder.run(" %s %s" % (self.make_file("broken.zip"), self.make_file("b.tar")),
                              {"PARVO_FAKE_FAIL": "UnZip"})
        self.assertEqual((run.exit_code, run.messages), (2, 1))
        self.assertEqual([line.split(" ")[0] for line in calls(run)],
                         ["UNZIP32.DLL!UnZip", "TAR32.DLL!Tar"])
