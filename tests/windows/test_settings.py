"""The settings window under Wine: the stored choice in the registry, the load step's selection,
the keyboard as a user works it, OK and the close box, and how the window looks."""

import time
import unittest

import wine_session
from wine_session import Folder

BAND = [(0, 0, 64), (0, 0, 128), (0, 0, 192), (0, 0, 255)]


class SettingsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = wine_session.current
        cls.folder = Folder(cls.session, "C:\\settings", [])

    def run_dialog(self, *keys, screenshot=None):
        """Opens the window (no arguments), types the keys into it, and returns the run with
        the window's geometry and, when asked, its pixels once painting has settled (Wine maps
        the window before its first paint, and a capture in between is all black)."""
        seen = {}

        def act():
            windows = [] if seen else self.session.windows_named("Parvo Version 1.0")
            if not windows:
                return
            seen["geometry"] = self.session.xdotool("getwindowgeometry", "--shell", windows[0])
            deadline = time.monotonic() + 10
            while screenshot:
                previous, seen["pixels"] = seen.get("pixels"), self.session.screenshot(
                    windows[0], screenshot)
                painted = any(pixel != (0, 0, 0) for line in seen["pixels"][2] for pixel in line)
                if (painted and seen["pixels"] == previous) or time.monotonic() > deadline:
                    break
                time.sleep(0.2)
            # Let the window finish showing before the keys come.
            time.sleep(0.5)
            self.session.press(windows[0], *keys)

        run = self.folder.run("", on_window=act)
        self.assertTrue(seen, "the settings window never showed")
        return run, seen

    def test_keys_store_the_chosen_format_with_its_blanks_or_nothing(self):
        # The focus starts on OK, so Space presses it; Tab enters the option group at the
        # selected option, and Down selects the next one.
        for stored, keys, expected in [("lha", ["space"], "lha  "), (None, ["space"], "cabex"),
                                       (None, ["Tab", "Down", "shift+Tab", "space"], "lha  "),
                                       (None, ["Tab", "Up", "alt+F4"], None)]:
            with self.subTest(stored=stored, keys=keys):
                self.session.store_setting(stored)
                run, _ = self.run_dialog(*keys)
                self.assertEqual((run.exit_code, run.messages), (0, 0))
                self.assertEqual(self.session.stored_setting(), expected)

    def test_window_is_centred_and_painted_from_the_layout(self):
        self.session.store_setting("cab  ")
        artefact = wine_session.ARTEFACTS_DIR / "form1-wine.xwd"
        run, seen = self.run_dialog("alt+F4", screenshot=artefact)
        self.assertEqual(run.exit_code, 0)
        geometry = dict(line.split("=") for line in seen["geometry"])
        width, height, rows = seen["pixels"]
        # The client area: 3705 x 3495 twips at 96 dots per inch.
        self.assertEqual((width, height), (247, 233))
        # Centred by the outer frame: the client sits half the title bar below the middle.
        left, top = int(geometry["X"]), int(geometry["Y"])
        self.assertLessEqual(abs(left - (1024 - width) // 2), 1, geometry)
        self.assertTrue(5 <= top - (768 - height) // 2 <= 20, geometry)

        # The band from dark to light blue, 16 pixels each, then the blue field.
        self.assertEqual([rows[60][x] for x in (8, 24, 40, 150)], BAND)
        # White text without a background: the version label begins over the band (at 16
        # pixels), the other labels and the option captions on the blue field.
        whites = [(x, y) for y, line in enumerate(rows) for x, pixel in enumerate(line)
                  if pixel == (255, 255, 255)]
        self.assertGreater(len(whites), 200)
        self.assertGreaterEqual(min(x for x, _ in whites), 16)
        self.assertGreaterEqual(min(x for x, y in whites if y > 40), 56)
