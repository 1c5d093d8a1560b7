"""One Wine prefix and one virtual display for the Windows tests, and the ways the tests drive
PARVO.exe in them: an exact command line, message boxes answered as a user would, the registry."""

import collections
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import time

EXE = pathlib.Path(os.environ["PARVO_EXE"])
FAKES_DIR = pathlib.Path(os.environ["PARVO_FAKES_DIR"])
FAKE_LIBRARIES = ["cab32.dll", "UNLHA32.DLL", "UNZIP32.DLL", "TAR32.DLL", "UNARJ32.DLL"]
SETTING_KEY = r"HKCU\Software\VB and VBA Program Settings\norrin\parvo"

# messages: how many message boxes were answered; calls: the log's lines of calls.
Run = collections.namedtuple("Run", "exit_code messages log calls")


class Session:
    """Set up when this module runs the tests; the test modules reach it through `current`."""

    def __init__(self):
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="parvo-wine-"))
        (self.root / "home").mkdir()
        self.display_process = None
        self.env = dict(os.environ, WINEPREFIX=str(self.root / "prefix"), WINEDEBUG="-all",
                        HOME=str(self.root / "home"),
                        WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=")

    def start(self):
        read_end, write_end = os.pipe()
        self.display_process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten",
             "tcp"], pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as displays:
            self.env["DISPLAY"] = ":" + displays.readline().strip()
        subprocess.run(["wineboot", "-i"], env=self.env, check=True, timeout=300,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Keep the server up between the runs instead of starting it for each.
        subprocess.run(["wineserver", "-p"], env=self.env, check=False)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, check=False)
        if self.display_process:
            self.display_process.terminate()
            self.display_process.wait()
        shutil.rmtree(self.root, ignore_errors=True)

    def unix_path(self, windows_path):
        assert windows_path[1:3] == ":\\" and windows_path[0] in "cC", windows_path
        return self.root.joinpath("prefix", "drive_c", *windows_path[3:].split("\\"))

    def wine(self, *arguments, check=True):
        return subprocess.run(["wine", *arguments], env=self.env, check=check, timeout=60,
                              capture_output=True, text=True)

    def desktop(self):
        return "C:\\users\\%s\\Desktop" % self.wine("cmd", "/c", "echo %USERNAME%").stdout.strip()

    def stored_setting(self):
        """The REG_SZ value of the format preference, or None."""
        result = self.wine("reg", "query", SETTING_KEY, "/v", "arcdllselect", check=False)
        found = re.search(r"^\s*arcdllselect    REG_SZ    (.*?)\r?$", result.stdout, re.M)
        return found and found.group(1)

    def store_setting(self, value):
        if value is None:
            self.wine("reg", "delete", SETTING_KEY, "/f", check=False)
        else:
            self.wine("reg", "add", SETTING_KEY, "/v", "arcdllselect", "/t", "REG_SZ", "/d", value,
                      "/f")

    def xdotool(self, *arguments):
        return subprocess.run(["xdotool", *arguments], env=self.env, capture_output=True,
                              text=True, timeout=30).stdout.split()

    def windows_named(self, name):
        return self.xdotool("search", "--name", "^%s$" % name)

    def press(self, window, *keys):
        """Gives the window the keyboard, waiting until it has it (or 3 s), then types."""
        deadline = time.monotonic() + 3
        self.xdotool("windowfocus", window)
        while time.monotonic() < deadline and self.xdotool("getwindowfocus", "-f") != [window]:
            time.sleep(0.1)
            self.xdotool("windowfocus", window)
        time.sleep(0.2)
        self.xdotool("key", "--delay", "100", *keys)


class Folder:
    """A folder in the Wine C: drive holding PARVO.exe and the chosen stand-in libraries."""

    def __init__(self, session, windows_path, libraries=FAKE_LIBRARIES):
        self.session = session
        self.exe = windows_path + "\\PARVO.exe"
        self.log_name = windows_path + "\\calls.log"
        path = session.unix_path(windows_path)
        shutil.rmtree(path, ignore_errors=True)
        path.mkdir(parents=True)
        shutil.copy(EXE, path / "PARVO.exe")
        for library in libraries:
            shutil.copy(FAKES_DIR / library, path / library)
        self.log = path / "calls.log"

    def run(self, arguments, environment=None, timeout=60, on_window=None):
        """Runs PARVO.exe with the command line `exe arguments` (an exact text) and answers
        each message box with Return. on_window() may act on other windows meanwhile."""
        self.log.unlink(missing_ok=True)
        quoted = '"%s"' % self.exe if " " in self.exe else self.exe
        env = dict(self.session.env, PARVO_COMMAND_LINE=quoted + arguments,
                   PARVO_FAKE_LOG=self.log_name, **(environment or {}))
        process = subprocess.Popen(["wine", os.environ["PARVO_LAUNCH_EXE"]], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        answered = {}  # message box window: when Return was last pressed on it
        deadline = time.monotonic() + timeout
        while process.poll() is None:
            now = time.monotonic()
            if now > deadline:
                # The program under test, not only its launcher.
                subprocess.run(["wineserver", "-k"], env=self.session.env, check=False)
                raise TimeoutError("PARVO.exe did not end: " + arguments)
            for window in self.session.windows_named("PARVO"):
                # A box that takes the key before it has the focus is still there: press again.
                if now - answered.get(window, -10.0) > 1.0:
                    answered[window] = now
                    self.session.press(window, "Return")
            if on_window:
                on_window()
            time.sleep(0.1)
        log = self.log.read_text(errors="replace").splitlines() if self.log.exists() else []
        return Run(process.returncode, len(answered), log, [line for line in log if "!" in line])


current = None

if __name__ == "__main__":
    import sys
    import unittest
    import wine_session  # the copy that the test modules import

    started = time.monotonic()
    session = wine_session.current = Session()
    try:
        session.start()
        print("Wine prefix ready in %.1f s" % (time.monotonic() - started), flush=True)
        result = unittest.TextTestRunner(verbosity=2).run(
            unittest.defaultTestLoader.loadTestsFromNames(
                sys.argv[1:] or ["test_batch", "test_paths", "test_settings"]))
    finally:
        session.stop()
    print("Windows tests under Wine: %.1f s" % (time.monotonic() - started))
    sys.exit(0 if result.wasSuccessful() else 1)
