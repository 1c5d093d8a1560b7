#!/usr/bin/python3
"""Thunar on a virtual display with Parvo installed: the right-click menu of a folder shows "Pack
with Parvo", and choosing it packs the folder onto the desktop. The menu is read and worked
through the accessibility tree. Thunar loads plugins from its system folder alone, so it runs in a
mount namespace of its own where the installed plugin's folder stands there.

usage: thunar_desktop_test.py PREFIX (where Parvo is installed) PLUGIN_FOLDER (relative to it)"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time


def wait_for(what, probe, seconds=60.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = probe()
        if found:
            return found
        time.sleep(0.2)
    sys.exit(f"FAIL: {what} did not appear within {seconds:.0f} s")


def find(accessible, accept):
    """The first accessible at or below this one that accept takes; None if the menu closed."""
    try:
        if accept(accessible):
            return accessible
        children = [accessible.get_child_at_index(i) for i in range(accessible.get_child_count())]
    except Exception:
        return None
    return next((found for child in children if child is not None
                 for found in [find(child, accept)] if found is not None), None)


def inside_the_session(folder):
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi

    thunar = subprocess.Popen(["thunar", os.path.join(folder, "parent")])
    try:
        desktop = Atspi.get_desktop(0)
        app = wait_for("Thunar's window", lambda: find(
            desktop, lambda a: a.get_role() == Atspi.Role.APPLICATION and a.get_name() == "thunar"))

        def photos_selected():  # the view's one item, selected with the keyboard
            status = find(app, lambda a: a.get_role() == Atspi.Role.STATUS_BAR and
                          "Photos" in a.get_name())
            if status is None:
                subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "parent - Thunar",
                                "windowfocus", "--sync", "key", "Home"], capture_output=True)
            return status

        wait_for("the folder Photos selected", photos_selected)
        subprocess.run(["xdotool", "key", "shift+F10"], check=True)
        entry = wait_for("Pack with Parvo in the folder's menu", lambda: find(
            app, lambda a: a.get_role() == Atspi.Role.MENU_ITEM and
            a.get_name() == "Pack with Parvo" and
            a.get_state_set().contains(Atspi.StateType.SHOWING)))
        entry.get_action_iface().do_action(0)
        packed = os.path.join(folder, "home", "Desktop", "Photos.cab")
        wait_for("Desktop/Photos.cab", lambda: os.path.exists(packed))
        listing = subprocess.run(["cabextract", "-l", packed], capture_output=True, text=True)
        if "trip/day1.txt" not in listing.stdout:
            sys.exit("FAIL: the cabinet does not hold the folder:\n" + listing.stdout)
        print("PASS: Thunar's menu packed the folder onto the desktop")
    finally:
        thunar.terminate()
        thunar.wait()


def start_display():
    """A display that answers. Not the first free number, which -displayfd takes: a server gone
    from the file system may still hold its number's abstract socket."""
    for number in random.sample(range(100, 1000), 20):
        display = f":{number}"
        if os.path.exists(f"/tmp/.X{number}-lock"):
            continue
        # -noreset: the probe is the first client to leave, and a server resetting then turns
        # away whoever connects meanwhile.
        server = subprocess.Popen(["Xvfb", display, "-noreset", "-screen", "0", "1024x768x24",
                                   "-nolisten", "tcp"], stderr=subprocess.DEVNULL)
        for _ in range(100):
            if server.poll() is not None:
                break
            if subprocess.run(["xdpyinfo"], env={"DISPLAY": display}, capture_output=True,
                              ).returncode == 0:
                return server, display
            time.sleep(0.1)
        server.terminate()
        server.wait()
    sys.exit("FAIL: no virtual display started")


def main():
    if sys.argv[1] == "--inside":
        return inside_the_session(sys.argv[2])
    prefix, plugin_folder = sys.argv[1:3]
    for tool in ("Xvfb", "xdpyinfo", "dbus-run-session", "thunar", "xdotool", "cabextract"):
        if shutil.which(tool) is None:
            print(f"SKIP: {tool} is not installed (scripts/setup test)")
            sys.exit(77)
    namespace = ["unshare", "--user", "--map-root-user", "--mount", "--"]
    if subprocess.run(namespace + ["true"]).returncode != 0:
        print("SKIP: no mount namespace to show Thunar the plugin in")
        sys.exit(77)
    with tempfile.TemporaryDirectory() as folder:
        home = os.path.join(folder, "home")
        os.makedirs(os.path.join(folder, "parent", "Photos", "trip"))
        with open(os.path.join(folder, "parent", "Photos", "trip", "day1.txt"), "w") as day:
            day.write("sunny\n")
        os.makedirs(os.path.join(home, ".config"))
        with open(os.path.join(home, ".config", "norrin.ini"), "w") as ini:
            ini.write('[parvo]\narcdllselect="cab  "\n')
        xvfb, display = start_display()
        try:
            environment = {"HOME": home, "DISPLAY": display, "LANG": "C.UTF-8", "LANGUAGE": "en",
                           "PATH": os.path.join(prefix, "bin") + ":/usr/bin:/bin",
                           "XDG_CONFIG_HOME": os.path.join(home, ".config"),
                           "XDG_RUNTIME_DIR": folder}
            result = subprocess.run(
                namespace + ["sh", "-c", 'mount --bind "$1" "$2" && shift 2 && exec "$@"', "sh",
                             os.path.join(prefix, plugin_folder), os.path.join("/usr", plugin_folder),
                             "dbus-run-session", "--", sys.executable, os.path.abspath(__file__),
                             "--inside", folder], env=environment, timeout=120)
            sys.exit(result.returncode)
        finally:
            xvfb.terminate()
            xvfb.wait()


if __name__ == "__main__":
    main()
