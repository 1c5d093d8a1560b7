#!/usr/bin/python3
"""Thunar on a virtual display with Parvo installed: the right-click menu of a folder shows "Pack
with Parvo", and choosing it packs the folder onto the desktop. The menu is read and worked
through the accessibility tree. Thunar loads plugins from its system folder alone, so Thunar runs
in a mount namespace of its own in which the installed plugin's folder stands there.

usage: thunar_desktop_test.py CMAKE BINARY_DIR PLUGIN_FOLDER"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time


def wait_for(what, probe, seconds=30.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = probe()
        if found:
            return found
        time.sleep(0.2)
    sys.exit(f"FAIL: {what} did not appear within {seconds:.0f} s")


def find(accessible, accept, depth=0):
    """The first accessible below this one that accept takes, depth first."""
    if accessible is None or depth > 40:
        return None
    try:
        if accept(accessible):
            return accessible
        count = accessible.get_child_count()
    except Exception:  # the menu may close under the walk
        return None
    for index in range(count):
        found = find(accessible.get_child_at_index(index), accept, depth + 1)
        if found is not None:
            return found
    return None


def inside_the_session(folder, prefix):
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi

    parent = os.path.join(folder, "parent")
    thunar = subprocess.Popen(["thunar", parent])
    try:
        desktop = Atspi.get_desktop(0)

        def application():
            for index in range(desktop.get_child_count()):
                child = desktop.get_child_at_index(index)
                if child is not None and child.get_name().lower().startswith("thunar"):
                    return child
            return None

        app = wait_for("Thunar's window", application)

        def photos_selected():
            status = find(app, lambda a: a.get_role() == Atspi.Role.STATUS_BAR and
                          "Photos" in a.get_name())
            if status is None:  # focus the window and select the view's first item
                subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "parent - Thunar",
                                "windowfocus", "--sync", "key", "Home"], capture_output=True)
            return status

        wait_for("the folder Photos selected", photos_selected)
        # The folder is the view's one item and selected now: open its menu as the keyboard does.
        subprocess.run(["xdotool", "key", "shift+F10"], check=True)
        entry = wait_for("Pack with Parvo in the folder's menu", lambda: find(
            app, lambda a: a.get_role() == Atspi.Role.MENU_ITEM and
            a.get_name() == "Pack with Parvo" and
            a.get_state_set().contains(Atspi.StateType.SHOWING)))
        entry.get_action_iface().do_action(0)
        packed = os.path.join(folder, "home", "Desktop", "Photos.cab")
        wait_for("Desktop/Photos.cab", lambda: os.path.exists(packed))
        listing = subprocess.run(["cabextract", "-l", packed], capture_output=True, text=True)
        if "day1.txt" not in listing.stdout:
            sys.exit("FAIL: the packed cabinet does not hold the folder:\n" + listing.stdout)
        print("PASS: Thunar's menu packed the folder onto the desktop")
    finally:
        thunar.terminate()
        thunar.wait()


def start_display(folder):
    """A virtual display that answers. Not the first free number that -displayfd would take: a
    server gone from the file system may still hold its number's abstract socket, and clients
    would reach it instead."""
    for number in random.sample(range(100, 1000), 20):
        if os.path.exists(f"/tmp/.X{number}-lock"):
            continue
        display = f":{number}"
        # -noreset: the probe below is the first client to leave, and a server that resets then
        # turns away whoever connects meanwhile.
        server = subprocess.Popen(["Xvfb", display, "-noreset", "-screen", "0", "1024x768x24",
                                   "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while server.poll() is None and time.monotonic() < deadline:
            if subprocess.run(["xdpyinfo"], env={"DISPLAY": display}, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0:
                return server, display
            time.sleep(0.1)
        server.terminate()
        server.wait()
    sys.exit("FAIL: no virtual display started")


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--inside":
        inside_the_session(sys.argv[2], sys.argv[3])
        return
    cmake, binary_dir, plugin_folder = sys.argv[1:4]
    for tool in ("Xvfb", "xdpyinfo", "dbus-run-session", "thunar", "xdotool", "cabextract",
                 "unshare"):
        if shutil.which(tool) is None:
            print(f"SKIP: {tool} is not installed (scripts/setup test)")
            sys.exit(77)
    with tempfile.TemporaryDirectory() as folder:
        prefix = os.path.join(folder, "local")
        subprocess.run([cmake, "--install", binary_dir, "--prefix", prefix], check=True,
                       stdout=subprocess.DEVNULL)
        os.makedirs(os.path.join(folder, "parent", "Photos", "trip"))
        with open(os.path.join(folder, "parent", "Photos", "trip", "day1.txt"), "w") as day:
            day.write("sunny\n")
        home = os.path.join(folder, "home")
        os.makedirs(os.path.join(home, ".config"))
        with open(os.path.join(home, ".config", "norrin.ini"), "w") as ini:
            ini.write('[parvo]\narcdllselect="cab  "\n')
        xvfb, display = start_display(folder)
        try:
            environment = {
                "HOME": home, "DISPLAY": display, "LANG": "C.UTF-8", "LANGUAGE": "en",
                "PATH": os.path.join(prefix, "bin") + ":/usr/bin:/bin",
                "XDG_CONFIG_HOME": os.path.join(home, ".config"),
                "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
                "XDG_CACHE_HOME": os.path.join(home, ".cache"),
                "XDG_RUNTIME_DIR": folder,
            }
            namespace = ["unshare", "--user", "--map-root-user", "--mount", "--"]
            if subprocess.run(namespace + ["true"]).returncode != 0:
                print("SKIP: no mount namespace to show Thunar the plugin in")
                sys.exit(77)
            result = subprocess.run(
                namespace + ["sh", "-c", 'mount --bind "$1" "$2" && shift 2 && exec "$@"', "sh",
                             os.path.join(prefix, plugin_folder), os.path.join("/usr", plugin_folder),
                             "dbus-run-session", "--", sys.executable, os.path.abspath(__file__),
                             "--inside", folder, prefix], env=environment, timeout=120)
            if result.returncode != 0 and xvfb.poll() is not None:
                sys.exit(f"FAIL: the virtual display ended meanwhile ({xvfb.returncode})")
            sys.exit(result.returncode)
        finally:
            xvfb.terminate()
            xvfb.wait()


if __name__ == "__main__":
    main()
