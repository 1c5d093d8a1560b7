"""Runs the Windows test modules in one Wine prefix on one virtual display."""

import sys
import time
import unittest

import wine_session

MODULES = ["test_batch", "test_paths", "test_settings"]

if __name__ == "__main__":
    started = time.monotonic()
    session = wine_session.Session()
    try:
        session.start()
        print("Wine prefix ready in %.1f s" % (time.monotonic() - started), flush=True)
        wine_session.current = session
        suite = unittest.defaultTestLoader.loadTestsFromNames(sys.argv[1:] or MODULES)
        result = unittest.TextTestRunner(verbosity=2).run(suite)
    finally:
        session.stop()
    print("Windows tests under Wine: %.1f s" % (time.monotonic() - started))
    sys.exit(0 if result.wasSuccessful() else 1)
