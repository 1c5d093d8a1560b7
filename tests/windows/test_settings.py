"""The settings window under Wine: the stored choice in the registry, the load step's selection,
the keyboard as a user works it, OK and the close box, and where the window stands."""

import time
import unittest

import wine_session
from wine_session import Folder


class SettingsTest(unittest.TestCase):
    def test_keys_store_the_chosen_format_in_a_centred_window(self):
        session = wine_session.current
        folder = Folder(session, "C:\\settings", [])
        # The focus starts on OK, so Space presses it; Tab enters the option group at the
        # selected option, and Down selects the next one.
        for stored, keys, expected in [("lha", ["space"], "lha  "), (None, ["space"], "cabex"),
                                       (None, ["Tab", "Down", "shift+Tab", "space"], "lha  "),
                                       (None, ["Tab", "Up", "alt+F4"], None)]:
            with self.subTest(stored=stored, keys=keys):
                session.store_setting(stored)
                geometry = {}

                def act():
                    windows = [] if geometry else session.windows_named("Parvo Version 1.0")
                    if windows:
                        # Let the window finish showing, and take its place, before the keys come.
                        time.sleep(0.5)
                        geometry.update(line.split("=") for line in session.xdotool(
                            "getwindowgeometry", "--shell", windows[0]))
                        session.press(windows[0], *keys)

                run = folder.run("", on_window=act)
                self.assertEqual((run.exit_code, run.messages), (0, 0))
                self.assertEqual(session.stored_setting(), expected)
                width, height, left, top = (int(geometry[key])
                                            for key in ("WIDTH", "HEIGHT", "X", "Y"))
                # The client area, 3705 x 3495 twips at 96 dots per inch, centred by the outer
                # frame: the client sits half the title bar below the middle.
                self.assertEqual((width, height), (247, 233))
                self.assertLessEqual(abs(left - (1024 - width) // 2), 1, geometry)
                self.assertTrue(5 <= top - (768 - height) // 2 <= 20, geometry)
