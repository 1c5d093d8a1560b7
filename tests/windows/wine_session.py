"""One Wine prefix and one virtual display for the Windows tests, and the ways the tests drive
PARVO.exe in them: an exact command line, message boxes answered as a user would, the registry."""

import os
import pathlib
import shutil
import struct
import subprocess
import tempfile
import time
import zlib

EXE = pathlib.Path(os.environ["PARVO_EXE"])
LAUNCH_EXE = pathlib.Path(os.environ["PARVO_LAUNCH_EXE"])
FAKES_DIR = pathlib.Path(os.environ["PARVO_FAKES_DIR"])
ARTEFACTS_DIR = pathlib.Path(os.environ["PARVO_ARTEFACTS_DIR"])
FAKE_LIBRARIES = ["cab32.dll", "UNLHA32.DLL", "UNZIP32.DLL", "TAR32.DLL", "UNARJ32.DLL"]
MESSAGE_CAPTION = "PARVO"
SETTING_KEY = r"HKCU\Software\VB and VBA Program Settings\norrin\parvo"


class Session:
    """Set up by run_under_wine.py; the test modules reach it through `current`."""

    def __init__(self):
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="parvo-wine-"))
        self.prefix = self.root / "prefix"
        home = self.root / "home"
        home.mkdir()
        self.display_process = None
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all", HOME=str(home),
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
        self.install_japanese_fonts()

    def install_japanese_fonts(self):
        """Lets the prefix draw Japanese text with the IPA fonts that setup installs: Label1's
        font by name, the dialog font through a font link, as on a Windows with the language."""
        fonts = self.root / "fonts.reg"
        fonts.write_text(
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n"
            '"ＭＳ Ｐゴシック"="IPAPGothic"\n\n'
            "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink"
            "\\SystemLink]\n"
            '"Tahoma"=hex(7):%s\n' % ",".join(
                "%02x" % byte for byte in "ipagp.ttf,IPAPGothic\0\0".encode("utf-16-le")),
            encoding="utf-16")
        self.wine("regedit", "/S", "Z:" + str(fonts).replace("/", "\\"))

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, check=False)
        if self.display_process:
            self.display_process.terminate()
            self.display_process.wait()
        shutil.rmtree(self.root, ignore_errors=True)

    @property
    def drive_c(self):
        return self.prefix / "drive_c"

    def unix_path(self, windows_path):
        assert windows_path[1:3] == ":\\" and windows_path[0] in "cC", windows_path
        return self.drive_c.joinpath(*windows_path[3:].split("\\"))

    def wine(self, *arguments, check=True):
        return subprocess.run(["wine", *arguments], env=self.env, check=check, timeout=60,
                              capture_output=True, text=True)

    def short_path(self, windows_path):
        return self.wine("winepath", "-s", windows_path).stdout.strip()

    def desktop(self):
        return "C:\\users\\%s\\Desktop" % self.wine("cmd", "/c", "echo %USERNAME%").stdout.strip()

    # The settings store.
    def stored_setting(self):
        """The REG_SZ value of the format preference, or None."""
        result = self.wine("reg", "query", SETTING_KEY, "/v", "arcdllselect", check=False)
        for line in result.stdout.splitlines():
            parts = line.rstrip("\r\n").lstrip().split("    ", 2)
            if parts[0] == "arcdllselect" and parts[1] == "REG_SZ":
                return parts[2] if len(parts) > 2 else ""
        return None

    def store_setting(self, value):
        if value is None:
            self.wine("reg", "delete", SETTING_KEY, "/f", check=False)
        else:
            self.wine("reg", "add", SETTING_KEY, "/v", "arcdllselect", "/t", "REG_SZ", "/d", value,
                      "/f")

    # Windows on the virtual display.
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

    def screenshot(self, window, png_path):
        """The window's pixels as a PNG; returns (width, height, rows of (r, g, b))."""
        xwd = subprocess.run(["xwd", "-id", window, "-silent"], env=self.env, check=True,
                             capture_output=True, timeout=30).stdout
        width, height, pixels = decode_xwd(xwd)
        write_png(png_path, width, height, pixels)
        return width, height, pixels


class Run:
    def __init__(self, exit_code, messages, log):
        self.exit_code = exit_code
        self.messages = messages  # how many message boxes were answered
        self.log = log
        self.calls = [line for line in log if "!" in line]  # without loading and writing lines


class Folder:
    """A folder in the Wine C: drive holding PARVO.exe and the chosen stand-in libraries."""

    def __init__(self, session, windows_path, libraries=FAKE_LIBRARIES):
        self.session = session
        self.windows_path = windows_path
        self.path = session.unix_path(windows_path)
        shutil.rmtree(self.path, ignore_errors=True)
        self.path.mkdir(parents=True)
        shutil.copy(EXE, self.path / "PARVO.exe")
        for library in libraries:
            shutil.copy(FAKES_DIR / library, self.path / library)
        self.log = self.path / "calls.log"

    @property
    def exe(self):
        return self.windows_path + "\\PARVO.exe"

    def run(self, arguments, environment=None, timeout=60, on_window=None):
        """Runs PARVO.exe with the command line `exe arguments` (an exact text) and answers
        each message box with Return. on_window(id) may act on other windows meanwhile."""
        self.log.unlink(missing_ok=True)
        quoted = '"%s"' % self.exe if " " in self.exe else self.exe
        env = dict(self.session.env, PARVO_COMMAND_LINE=quoted + arguments,
                   PARVO_FAKE_LOG=self.windows_path + "\\calls.log", **(environment or {}))
        process = subprocess.Popen(["wine", str(LAUNCH_EXE)], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        answered = {}  # message box window: when Return was last pressed on it
        deadline = time.monotonic() + timeout
        while process.poll() is None:
            now = time.monotonic()
            if now > deadline:
                # The program under test, not only its launcher.
                subprocess.run(["wineserver", "-k"], env=self.session.env, check=False)
                raise TimeoutError("PARVO.exe did not end: " + arguments)
            for window in self.session.windows_named(MESSAGE_CAPTION):
                # A box that takes the key before it has the focus is still there: press again.
                if now - answered.get(window, -10.0) > 1.0:
                    answered[window] = now
                    self.session.press(window, "Return")
            if on_window:
                on_window()
            time.sleep(0.1)
        log = self.log.read_text(errors="replace").splitlines() if self.log.exists() else []
        return Run(process.returncode, len(answered), log)


current = None


def decode_xwd(data):
    header = struct.unpack(">25I", data[:100])
    header_size, width, height = header[0], header[4], header[5]
    bits_per_pixel, bytes_per_line, colours = header[11], header[12], header[19]
    byte_order = header[7]
    assert bits_per_pixel == 32, "a 24-bit display is expected"
    offset = header_size + colours * 12
    rows = []
    for y in range(height):
        line = data[offset + y * bytes_per_line:offset + y * bytes_per_line + width * 4]
        row = []
        for x in range(width):
            b0, b1, b2, _ = line[x * 4:x * 4 + 4]
            row.append((b2, b1, b0) if byte_order == 0 else (b1, b2, line[x * 4 + 3]))
        rows.append(row)
    return width, height, rows


def write_png(path, width, height, rows):
    raw = b"".join(b"\0" + bytes(channel for pixel in row for channel in pixel) for row in rows)

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    pathlib.Path(path).write_bytes(
        b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
        + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
