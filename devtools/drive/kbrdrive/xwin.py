"""Windows of the programs under an X server: an Xvfb of our own, finding windows by caption,
keys through xdotool, a close request as a window manager sends it (python3-xlib), and
screenshots taken from the X server (python3-pil), written as PNG."""

import os
import re
import subprocess
import time

from PIL import ImageGrab  # python3-pil
from Xlib import X, display as xdisplay, error as xerror, protocol  # python3-xlib

from .common import end_process


class XError(Exception):
    pass


class Xvfb:
    """An X server without a display."""

    def __init__(self, workdir, size="1280x1024x24", log=None):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", size, "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=log or subprocess.DEVNULL, stderr=log or subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline or self.process.poll() is not None:
                os.close(read_end)
                self.stop()
                raise XError("Xvfb did not start")
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()

    def stop(self):
        end_process(self.process)


class Desktop:
    """What a user does with windows: find, read, answer, close, photograph."""

    def __init__(self, display):
        self.display = display
        self.env = dict(os.environ, DISPLAY=display)

    # -- xdotool -----------------------------------------------------------------------------
    def _xdotool(self, *args, timeout=10):
        try:
            result = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                                    timeout=timeout)
        except subprocess.TimeoutExpired:
            raise XError("xdotool %s did not finish" % " ".join(args))
        return result.returncode, result.stdout

    def windows(self, caption):
        """Visible top-level windows whose caption is exactly `caption`."""
        rc, out = self._xdotool("search", "--onlyvisible", "--name", "^%s$" % re.escape(caption))
        return [int(w) for w in out.split()] if rc == 0 else []

    def windows_any(self):
        """Every visible window that has a caption of its own."""
        rc, out = self._xdotool("search", "--onlyvisible", "--name", ".")
        return [int(w) for w in out.split()] if rc == 0 else []

    def wait_window(self, caption, timeout=30, gone=False):
        """The first visible window with this caption (or, with gone, waits until there is none)."""
        deadline = time.monotonic() + timeout
        while True:
            found = self.windows(caption)
            if gone and not found:
                return None
            if found and not gone:
                return found[0]
            if time.monotonic() > deadline:
                raise XError("no window \"%s\" within %d s" % (caption, timeout) if not gone else
                             "window \"%s\" still there after %d s" % (caption, timeout))
            time.sleep(0.1)

    def park_pointer(self):
        rc, out = self._xdotool("getdisplaygeometry")
        if rc == 0 and len(out.split()) == 2:
            width, height = out.split()
            self._xdotool("mousemove", str(int(width) - 1), str(int(height) - 1))

    def geometry(self, window):
        rc, out = self._xdotool("getwindowgeometry", "--shell", str(window))
        if rc != 0:
            raise XError("window %d has gone" % window)
        values = dict(line.split("=", 1) for line in out.split())
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def focus(self, window, timeout=5):
        """Gives the window the keyboard focus (there is no window manager to do it)."""
        deadline = time.monotonic() + timeout
        while True:
            self._xdotool("windowraise", str(window))
            self._xdotool("windowfocus", str(window))
            rc, out = self._xdotool("getwindowfocus")
            if rc == 0 and out.strip() == str(window):
                return
            if time.monotonic() > deadline:
                raise XError("window %d does not take the focus" % window)
            time.sleep(0.1)

    def key(self, window, *keys):
        self.focus(window)
        rc, _ = self._xdotool("key", "--clearmodifiers", *keys)
        if rc != 0:
            raise XError("xdotool key %s failed" % " ".join(keys))

    def type_text(self, window, text):
        self.focus(window)
        rc, _ = self._xdotool("type", "--delay", "20", text, timeout=60)
        if rc != 0:
            raise XError("xdotool type failed")

    # -- a close request, as the title bar's close button makes it -------------------------------
    def request_close(self, window):
        """Sends WM_DELETE_WINDOW (ICCCM) to the window, as a window manager does."""
        try:
            connection = xdisplay.Display(self.display)
        except (xerror.DisplayError, OSError) as failure:
            raise XError("cannot reach the X server: %s" % failure)
        try:
            target = connection.create_resource_object("window", window)
            protocols = connection.intern_atom("WM_PROTOCOLS")
            delete = connection.intern_atom("WM_DELETE_WINDOW")
            event = protocol.event.ClientMessage(window=target, client_type=protocols,
                                                 data=(32, [delete, X.CurrentTime, 0, 0, 0]))
            target.send_event(event, event_mask=X.NoEventMask)
            connection.sync()  # a round trip: the request was taken, or its error is raised
        except xerror.XError as failure:
            raise XError("the close request was refused: %s" % failure)
        finally:
            connection.close()

    # -- screenshots ---------------------------------------------------------------------------
    def screenshot(self, path, window=None, margin=0):
        """Writes the screen, or one window with a margin around it, as a PNG file."""
        try:
            picture = ImageGrab.grab(xdisplay=self.display)
        except OSError as failure:
            raise XError("no screenshot: %s" % failure)
        if window is not None:
            x, y, w, h = self.geometry(window)
            picture = picture.crop((max(0, x - margin), max(0, y - margin),
                                    min(picture.width, x + w + margin), min(picture.height, y + h + margin)))
        picture.save(path, "PNG")
        return path
