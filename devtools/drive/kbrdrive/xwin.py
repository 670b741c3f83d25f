"""Windows of the programs under an X server: an Xvfb of our own, finding windows by caption,
keys through xdotool, a close request as a window manager sends it, and screenshots from Xvfb's
frame buffer file, written as PNG."""

import os
import re
import socket
import struct
import subprocess
import time
import zlib

from .common import end_process


class XError(Exception):
    pass


class Xvfb:
    """An X server without a display. Its screen is kept in a file (-fbdir) for screenshots."""

    def __init__(self, workdir, size="1280x1024x24", log=None):
        self.fbdir = os.path.join(workdir, "xvfb")
        os.makedirs(self.fbdir, exist_ok=True)
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", size, "-fbdir", self.fbdir,
             "-nolisten", "tcp", "-noreset"],
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

    def __init__(self, display, fbdir=None):
        self.display = display
        self.fbdir = fbdir
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
        """Sends WM_DELETE_WINDOW (ICCCM) to the window, speaking the X protocol directly."""
        number = self.display.lstrip(":").split(".")[0]
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        sock.settimeout(10)
        try:
            sock.connect("/tmp/.X11-unix/X" + number)
            sock.sendall(struct.pack("<BxHHHHxx", 0x6C, 11, 0, 0, 0))  # little-endian, no auth
            head = _recv_exact(sock, 8)
            if head[0] != 1:
                raise XError("the X server refused the connection")
            _recv_exact(sock, struct.unpack("<H", head[6:8])[0] * 4)

            def intern(name):
                data = name.encode("ascii")
                pad = (4 - len(data) % 4) % 4
                sock.sendall(struct.pack("<BBHHxx", 16, 0, 2 + (len(data) + pad) // 4, len(data)) + data + b"\0" * pad)
                reply = _recv_exact(sock, 32)
                if reply[0] != 1:
                    raise XError("InternAtom %s failed" % name)
                return struct.unpack("<I", reply[8:12])[0]

            protocols, delete = intern("WM_PROTOCOLS"), intern("WM_DELETE_WINDOW")
            event = struct.pack("<BBHII", 33, 32, 0, window, protocols) + struct.pack("<IIIII", delete, 0, 0, 0, 0)
            sock.sendall(struct.pack("<BBHII", 25, 0, 11, window, 0) + event)  # SendEvent
            sock.sendall(struct.pack("<BxH", 43, 1))  # GetInputFocus: a round trip
            reply = _recv_exact(sock, 32)
            if reply[0] != 1:
                raise XError("the close request was refused (X error %d)" % reply[1])
        finally:
            sock.close()

    # -- screenshots ---------------------------------------------------------------------------
    def screenshot(self, path, window=None, margin=0):
        """Writes the screen, or one window with a margin around it, as a PNG file."""
        if not self.fbdir:
            raise XError("no frame buffer file to take a picture from")
        box = None
        if window is not None:
            x, y, w, h = self.geometry(window)
            box = (x - margin, y - margin, w + 2 * margin, h + 2 * margin)
        width, height, rgb = read_xwd(os.path.join(self.fbdir, "Xvfb_screen0"), box)
        write_png(path, width, height, rgb)
        return path


def _recv_exact(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise XError("the X server closed the connection")
        data += chunk
    return data


def read_xwd(path, box=None):
    """Reads a 24/32-bit XWD file (Xvfb's screen). Returns width, height and RGB rows (bytes),
    cropped to box = (x, y, w, h), clipped to the screen."""
    with open(path, "rb") as f:
        data = f.read()
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bpp, stride = fields[7], fields[11], fields[12]
    red_mask, ncolors = fields[14], fields[19]
    if bpp != 32:
        raise XError("only 32 bits per pixel are supported (got %d)" % bpp)
    offset = header_size + ncolors * 12
    x0, y0, w, h = box if box else (0, 0, width, height)
    x0, y0 = max(0, x0), max(0, y0)
    w, h = min(w, width - x0), min(h, height - y0)
    # Pixel bytes in memory: B G R X for little-endian with red in 0xff0000.
    little = byte_order == 0
    r_at, g_at, b_at = (2, 1, 0) if little == (red_mask == 0xFF0000) else (1, 2, 3)
    rows = []
    for row in range(y0, y0 + h):
        start = offset + row * stride + x0 * 4
        line = data[start:start + w * 4]
        rgb = bytearray(w * 3)
        rgb[0::3] = line[r_at::4]
        rgb[1::3] = line[g_at::4]
        rgb[2::3] = line[b_at::4]
        rows.append(bytes(rgb))
    return w, h, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + row for row in rows)
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)
