#!/usr/bin/python3
"""What a user does with the installed product's windows, one step per call, for the network
lab's installed-product scenarios (installed_product.sh): the pages through the engine's debugging
port, the native windows through the X server, and a message box read from the screen (OCR), since
the shipped program has no hook that tells a test what a box says.

    installed_session.py login PASSWORD          the login page, then the setup page
    installed_session.py close-main              closes the main window; waits for the Reminder
    installed_session.py refresh                 "Refresh IP address"; prints the verdict box's
                                                 text, then OK on the box and on the Reminder
    installed_session.py wait-window CAPTION     waits for a window with this caption
    installed_session.py key CAPTION KEY...      keys to the window with this caption
    installed_session.py identity CAPTION CLASS  the window's class is CLASS (the desktop entry's
                                                 StartupWMClass) and its icon is the product's

DISPLAY and the folder for pictures (KBR_SHOTS) come from the environment; the debugging port is the driver's (kbrdrive.system.DEBUG_PORT). Exit 0 done, 1
failed (the reason on standard output)."""

import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "devtools", "drive"))

from kbrdrive import cdp, system, xwin  # noqa: E402
from Xlib import X, display as xdisplay, error as xerror  # noqa: E402  (python3-xlib)

LOGIN_TITLE = "Ethernet Coax Bridge - Login"
MAIN_CAPTION = re.compile(r"^Ethernet Coax Bridge - ")
START_TIMEOUT = 150
STEP_TIMEOUT = 60
# nwinf runs twice within its own bound, and the probe after it may wait for a silent device.
REFRESH_TIMEOUT = 330


class Failed(Exception):
    pass


def desktop():
    return xwin.Desktop(os.environ["DISPLAY"])


def wait_eval(page, expression, what, timeout=STEP_TIMEOUT):
    def check():
        try:
            return page.evaluate(expression, timeout=5)
        except cdp.CdpError:
            return None
    return system.wait_until(check, timeout, what, interval=0.25)


def top_level(d, caption, timeout=STEP_TIMEOUT):
    """The program's own top-level window whose caption matches the pattern: the one that carries a
    window class (the engine's inner windows may carry the same caption, and come and go)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        connection = xdisplay.Display(os.environ["DISPLAY"])
        try:
            for window in d.windows_any():
                rc, name = d._xdotool("getwindowname", str(window))
                if rc != 0 or not caption.search(name.strip()):
                    continue
                try:
                    window_class = connection.create_resource_object("window", window).get_wm_class()
                except xerror.XError:
                    continue  # gone meanwhile
                if window_class:
                    return window, window_class
        finally:
            connection.close()
        time.sleep(0.2)
    raise Failed("no window %r within %d s" % (caption.pattern, timeout))


def main_window(d):
    return top_level(d, MAIN_CAPTION)[0]


def read_box(d, window, name):
    """The text of a message box as the screen shows it, in lower-case words."""
    shots = os.environ.get("KBR_SHOTS", ".")
    picture = d.screenshot(os.path.join(shots, name + ".png"), window)
    result = subprocess.run(["tesseract", picture, "-"], capture_output=True, text=True, timeout=60)
    return " ".join(re.findall(r"[a-z0-9.]+", result.stdout.lower()))


def login(password):
    page = system.find_page(lambda t: t["url"].lower().endswith("/index.html"), START_TIMEOUT, "the login page")
    wait_eval(page, "document.readyState == 'complete' && document.title == %r" % LOGIN_TITLE,
              "the login page to load", START_TIMEOUT)
    page.evaluate("var f = document.forms.login.AdminPswd; f.value = ''; f.focus(); true")
    page.insert_text(password)
    page.run_later("document.forms.login.Login.click()")
    page.close()
    page = system.find_page(lambda t: t["url"].lower().endswith("/setup.html"), STEP_TIMEOUT, "the setup page")
    wait_eval(page, "typeof config_loaded != 'undefined' && config_loaded == 1", "the configuration read")
    page.close()
    print("logged in")


def close_main():
    d = desktop()
    d.request_close(main_window(d))
    d.wait_window("Reminder", timeout=STEP_TIMEOUT)
    print("Reminder shown")


def refresh():
    d = desktop()
    reminder = d.wait_window("Reminder", timeout=STEP_TIMEOUT)
    d.screenshot(os.path.join(os.environ.get("KBR_SHOTS", "."), "reminder.png"), reminder)
    # OK has the focus and is the default button; the next one is "Refresh IP address".
    d.key(reminder, "Tab")
    d.key(reminder, "space")
    deadline = time.monotonic() + REFRESH_TIMEOUT
    while time.monotonic() < deadline:
        boxes = [w for w in d.windows("Reminder") if w != reminder]
        if boxes:
            time.sleep(0.5)  # painted
            print(read_box(d, boxes[0], "verdict"), flush=True)
            # OK on the box, then OK on the Reminder (the focus is still on "Refresh IP address"):
            # the configuration program ends.
            d.key(boxes[0], "Return")
            system.wait_until(lambda: d.windows("Reminder") == [reminder], STEP_TIMEOUT, "the verdict box to close")
            d.key(reminder, "shift+Tab")
            d.key(reminder, "Return")
            d.wait_window("Reminder", timeout=STEP_TIMEOUT, gone=True)
            return
        time.sleep(0.25)
    raise Failed("no verdict within %d s" % REFRESH_TIMEOUT)


def near(pixel, colour, slack=60):
    return all(abs(a - b) <= slack for a, b in zip(pixel, colour))


def identity(caption, window_class):
    """Checks what a dock sees of the window: its WM_CLASS, and that its icon (_NET_WM_ICON, the
    largest picture of it) is the product's: a blue tile with a white ring and a white dot."""
    d = desktop()
    window, got = top_level(d, re.compile(caption))
    if got[1] != window_class:
        raise Failed("window %r has the class %r, the desktop entry names %r" % (caption, got, window_class))
    connection = xdisplay.Display(os.environ["DISPLAY"])
    try:
        target = connection.create_resource_object("window", window)
        icon = target.get_full_property(connection.intern_atom("_NET_WM_ICON"), X.AnyPropertyType)
    finally:
        connection.close()
    values = list(icon.value) if icon else []
    images = {}
    at = 0
    while at + 2 <= len(values):
        w, h = values[at], values[at + 1]
        if w == h and w > 0:
            images[w] = values[at + 2:at + 2 + w * h]
        at += 2 + w * h
    if not images:
        raise Failed("window %r has no icon" % caption)
    size = max(images)
    pixels = images[size]

    def rgb(x, y):  # in the icon's own 64-unit coordinates
        argb = pixels[(y * size // 64) * size + x * size // 64]
        return (argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF

    white, blue = (255, 255, 255), (0x1F, 0x4E, 0x9A)
    # Centre (32, 32): the dot; radius 10: the tile; radius 17: the ring; radius 27: the tile.
    expected = [((32, 32), white), ((42, 32), blue), ((49, 32), white), ((59, 32), blue), ((32, 5), blue)]
    for (x, y), colour in expected:
        if not near(rgb(x, y), colour):
            raise Failed("window %r: the icon is not the product's (at %d,%d of 64: %s)" % (caption, x, y, rgb(x, y)))
    print("window %r: class %s, the product's icon (%d pixels)" % (caption, window_class, size))


def main(argv):
    if not argv:
        print(__doc__)
        return 2
    step, args = argv[0], argv[1:]
    try:
        if step == "login":
            login(args[0])
        elif step == "close-main":
            close_main()
        elif step == "refresh":
            refresh()
        elif step == "wait-window":
            desktop().wait_window(args[0], timeout=START_TIMEOUT)
            print("window %s" % args[0])
        elif step == "identity":
            identity(args[0], args[1])
        elif step == "key":
            d = desktop()
            d.key(d.wait_window(args[0], timeout=STEP_TIMEOUT), *args[1:])
        else:
            print("unknown step %s" % step)
            return 2
    except (Failed, xwin.XError, xerror.XError, cdp.CdpError, system.SystemError_, OSError) as error:
        print("%s: %s" % (step, error))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
