#!/usr/bin/env python3
"""The whole system, driven as a user would drive it: the real wizard and configuration program,
the real browser engine and page library, the simulated adaptor, real windows under Xvfb.

Runs only inside the private network namespace that scripts/netns-run makes (it checks).

    e2e.py test PROGRAMS [--shots DIR]          the end-to-end cases, in sequence, under Xvfb
    e2e.py demo PROGRAMS --shots DIR            the same session with the shipped program, pictures
    e2e.py live PROGRAMS --display :N           the user's own display: start, wait for the end

PROGRAMS: --wizard --config --pgpack --nwinf --devsim --image (paths), --docs (folder).

Exit status 0 passed, 1 failed, 77 skipped (a tool this needs is missing).
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from kbrdrive import cdp, system, xwin  # noqa: E402
from kbrdrive.system import wait_until  # noqa: E402

FIRMWARE = "1.0.2.3"
# The adaptor's settings before the session: channel 23 alone (bit 22), MoCA privacy on (bit 12).
START_STATE = {"channelMask": str(1 << 22), "scanMask": "357908480",
               "SwConfig": str(0x1000 | 0x3), "password": "40527163948205716", "DiplexerMode": "0"}
LOGIN_TITLE = "Ethernet Coax Bridge - Login"
# A page window's caption is the title of the first page it loaded, and stays so.
MAIN_CAPTION = LOGIN_TITLE
UPGRADE_TITLE = "Ethernet Coax Bridge - Firmware Upgrade"
NEW_VERSION = "1.2.0.0"

# Bounded waits: generous, since CI runs this beside other tests on two cores.
START_TIMEOUT = 120
STEP_TIMEOUT = 45


class Failure(Exception):
    pass


def log(text):
    print(text, flush=True)


def expect(condition, text):
    if not condition:
        raise Failure(text)


class BoxLog:
    """What the test build of the configuration program wrote about each message box it showed."""

    def __init__(self, path):
        self.path = path
        self.done = 0  # lines already taken

    def lines(self):
        try:
            with open(self.path, encoding="utf-8", errors="replace") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def next_box(self, caption, timeout):
        """The text of the next box with this caption (boxes with other captions are passed)."""
        prefix = "box [%s] " % caption

        def look():
            lines = self.lines()
            for i in range(self.done, len(lines)):
                if lines[i].startswith(prefix):
                    self.done = i + 1
                    return lines[i][len(prefix):].replace("\\n", "\n").replace("\\\\", "\\")
            return None
        return wait_until(look, timeout, "the record of box \"%s\"" % caption)


class Session:
    def __init__(self, args, workdir):
        self.args = args
        self.workdir = workdir
        self.shots = args.shots
        self.programs = system.Programs(args)
        self.xvfb = None
        self.desktop = None
        self.simulator = None
        self.run_folder = None
        self.wizard = None
        self.main = None  # cdp.Page of the main window
        self.shot_number = 0
        # Box texts are checked where the test build of the program records them.
        self.boxes = BoxLog(os.path.join(workdir, "boxes.log")) if args.mode == "test" else None

    # -- set-up and clean-up -------------------------------------------------------------------
    def start_desktop(self, display=None):
        if display:
            self.desktop = xwin.Desktop(display)
        else:
            self.xvfb = xwin.Xvfb(self.workdir, log=open(os.path.join(self.workdir, "xvfb.log"), "w"))
            self.desktop = xwin.Desktop(self.xvfb.display)
            self.desktop.park_pointer()  # out of the pictures

    def start_system(self):
        state = dict(START_STATE, admPswd=self.args.password)
        self.simulator = system.Simulator(self.programs.devsim, self.workdir, self.args.password, state)
        self.simulator.start()
        log("    simulated adaptor on %s:%d, password \"%s\"" % (system.DEVICE_ADDRESS, system.DEVICE_PORT,
                                                                self.args.password))
        self.run_folder = system.RunFolder(self.programs, self.workdir)
        self.wizard = system.Wizard(self.programs, self.run_folder, self.workdir, self.desktop.display)
        if self.boxes:
            self.wizard.env["KBR_E2E_BOX_LOG"] = self.boxes.path
        if self.args.mode == "test":
            # Each start-up step with its time in the programs' log: a start that stalls shows where.
            self.wizard.env["KBR_STARTUP_TRACE"] = "1"
        if self.args.mode == "live":
            del self.wizard.env["QTWEBENGINE_REMOTE_DEBUGGING"]  # nothing drives the pages
        self.wizard.start()

    def close(self):
        if self.main:
            try:
                self.main.close()
            except OSError:
                pass
        system.kill_all(["KBR3300", "KBR3300_Wizardd", "nwinf"])
        if self.simulator:
            self.simulator.stop()
        if self.xvfb:
            self.xvfb.stop()
        system.reap()

    def diagnostics(self):
        log("--- windows: %s" % self.visible_windows())
        # Where a program that is still running is waiting, thread by thread.
        for name in ("KBR3300", "KBR3300_Wizardd"):
            for pid in system.processes_named(name):
                log("--- %s (pid %d) threads:" % (name, pid))
                for line in system.thread_stacks(pid).splitlines():
                    log("    " + line)
        for name, text in (("programs", self.wizard.log_text() if self.wizard else ""),
                           ("simulator", self.simulator.log_text() if self.simulator else "")):
            lines = text.splitlines()
            log("--- %s log (last 60 of %d lines)" % (name, len(lines)))
            for line in lines[-60:]:
                log("    " + line)
        if self.desktop:
            path = os.path.join(self.args.shots or self.workdir, "failure.png")
            try:
                self.desktop.screenshot(path)
                log("--- screen at the failure: %s" % path)
            except (OSError, xwin.XError) as error:
                log("--- no screenshot: %s" % error)

    def visible_windows(self):
        try:
            rc, out = self.desktop._xdotool("search", "--onlyvisible", "--name", ".")
            names = []
            for w in out.split():
                _, name = self.desktop._xdotool("getwindowname", w)
                names.append(name.strip())
            return names
        except (xwin.XError, AttributeError):
            return []

    # -- helpers -------------------------------------------------------------------------------
    def shot(self, name, window=None):
        # Pictures belong to the demo; the test takes one only when a case fails.
        if self.args.mode != "demo" or not self.shots:
            return
        os.makedirs(self.shots, exist_ok=True)
        self.shot_number += 1
        path = os.path.join(self.shots, "%02d-%s.png" % (self.shot_number, name))
        # The frame buffer file is written as the server draws; give a box time to paint.
        time.sleep(0.5)
        self.desktop.screenshot(path, window=window)
        log("    picture: %s" % path)

    def main_window(self, title):
        return self.desktop.wait_window(title, timeout=STEP_TIMEOUT)

    def answer_box(self, caption, expected_text, key="Return", picture=None, timeout=STEP_TIMEOUT):
        """Waits for a message box, checks its text, answers it with a key; returns its text."""
        box = self.desktop.wait_window(caption, timeout=timeout)
        text = self.box_text(caption)
        expect(not self.boxes or expected_text in text,
               "box \"%s\" says %r, expected %r" % (caption, text, expected_text))
        if picture:
            self.shot(picture, box)
        self.desktop.key(box, key)
        wait_until(lambda: box not in self.desktop.windows(caption), STEP_TIMEOUT, "box \"%s\" to close" % caption)
        return text

    def box_text(self, caption):
        """What the box with this caption says, where the program records it; else the expected
        text cannot be checked and an empty text is returned."""
        return self.boxes.next_box(caption, STEP_TIMEOUT) if self.boxes else ""

    def reconnect_main(self, predicate, what, timeout=STEP_TIMEOUT):
        if self.main:
            try:
                self.main.close()
            except OSError:
                pass
        self.main = system.find_page(predicate, timeout, what)
        return self.main

    def wait_eval(self, page, expression, what, timeout=STEP_TIMEOUT):
        def check():
            try:
                return page.evaluate(expression, timeout=5)
            except cdp.CdpError:
                return None
        return wait_until(check, timeout, what, interval=0.25)

    def config_program_pid(self):
        pids = system.processes_named("KBR3300")
        return pids[0] if pids else None

    # -- the cases -----------------------------------------------------------------------------
    def wizard_start_to_login_page(self):
        self.start_system()
        self.reconnect_main(lambda t: t["url"].lower().endswith("/index.html"), "the login page", START_TIMEOUT)
        self.wait_eval(self.main, "document.readyState == 'complete' && document.title == %r" % LOGIN_TITLE,
                       "the login page to load")
        window = self.main_window(MAIN_CAPTION)
        wait_until(lambda: not system.processes_named("KBR3300_Wizardd"), STEP_TIMEOUT,
                   "the configuration program to end the wizard")
        # The configuration program starts the IP helper ("nwinf 1", renewal off here), which
        # writes the PC's address into the current directory.
        wait_until(lambda: os.path.exists(os.path.join(self.run_folder.path, "ipinfo.tmp")), STEP_TIMEOUT,
                   "nwinf to write ipinfo.tmp")
        expect(self.run_folder.ipconfig_calls() == [],
               "the wizard renewed the address although the device answered: %s" % self.run_folder.ipconfig_calls())
        version = self.main.evaluate("document.getElementById('ver') ? document.getElementById('ver').textContent : ''")
        log("    login page shown; version cell %r" % version)
        self.shot("login", window)

    def login(self, password):
        self.main.evaluate("var f = document.forms.login.AdminPswd; f.value = ''; f.focus(); true")
        self.main.insert_text(password)
        self.main.run_later("document.forms.login.Login.click()")

    def wrong_password(self):
        self.login("wrong12")
        self.answer_box("Caption", "Password Incorrect!", picture="password-incorrect")
        expect(self.main.evaluate("document.title") == LOGIN_TITLE, "the login page was left")

    def right_password_shows_configuration(self):
        self.login(self.args.password)
        self.reconnect_main(lambda t: t["url"].lower().endswith("/setup.html"), "the setup page")
        self.wait_eval(self.main, "typeof config_loaded != 'undefined' && config_loaded == 1",
                       "the configuration read")
        shown = self.main.evaluate(
            "({channel: document.forms.setup.fs_channel.value,"
            " diplexer: document.forms.setup.fs_diplexer.selectedIndex,"
            " privacy: document.forms.setup.privacy[0].checked,"
            " version: document.getElementById('ver').textContent})")
        log("    setup page shows %s" % shown)
        expect(shown["channel"] == "23", "channel shown %r, the device has 23" % shown["channel"])
        expect(shown["diplexer"] == 1, "diplexer shown %r, the device has MoCA D band" % shown["diplexer"])
        expect(shown["privacy"] is True, "privacy shown off, the device has it on")
        expect(FIRMWARE in shown["version"], "firmware version shown %r, the device has %s" % (shown["version"], FIRMWARE))
        self.shot("setup", self.main_window(MAIN_CAPTION))

    def change_channel_and_privacy(self):
        self.main.evaluate("var l = document.forms.setup.fs_channel; l.value = '21';"
                           " l.dispatchEvent(new Event('change')); true")
        self.main.evaluate("document.forms.setup.privacy[1].click(); true")
        self.main.run_later("document.forms.setup.Apply.click()")
        state = wait_until(lambda: (lambda s: s if s.get("channelMask") == str(1 << 20) else None)(
            self.simulator.read_state()), STEP_TIMEOUT, "the device to store channel 21")
        expect(state.get("SwConfig") == "3", "the device's SwConfig is %r, expected 3 (privacy off)" % state.get("SwConfig"))
        self.wait_eval(self.main, "document.forms.setup.fs_channel.value == '21' &&"
                                  " document.forms.setup.privacy[1].checked", "the page to show what was applied")
        log("    device state now %s" % {k: state[k] for k in ("channelMask", "SwConfig")})
        self.shot("setup-applied", self.main_window(MAIN_CAPTION))

    def open_upgrade_window(self):
        self.main.run_later("location.href = 'help.html'")
        self.reconnect_main(lambda t: t["url"].lower().endswith("/help.html"), "the help page")
        self.wait_eval(self.main, "document.readyState == 'complete'", "the help page to load")
        self.main.run_later("document.querySelector('input[name=Upgrade]').click()")
        window = self.main_window(UPGRADE_TITLE)
        page = system.find_page(lambda t: t["url"].lower().endswith("/reflashecb.html"), STEP_TIMEOUT,
                                "the upgrade page")
        self.wait_eval(page, "document.readyState == 'complete'", "the upgrade page to load")
        return page, window

    def choose_file(self, page, path):
        """Clicks the file field and types the path into the file dialog, as a user would."""
        before = set(self.desktop.windows_any())
        try:
            page.evaluate("document.forms.upgrade.binFile.click(); true", timeout=3, user_gesture=True)
        except cdp.CdpError:
            pass  # the file dialog opens inside the engine's callback: the answer may come late
        dialog = wait_until(lambda: (set(self.desktop.windows_any()) - before) or None, STEP_TIMEOUT,
                            "the file dialog")
        dialog = sorted(dialog)[0]
        self.desktop.type_text(dialog, path)
        self.desktop.key(dialog, "Return")
        wait_until(lambda: dialog not in self.desktop.windows_any(), STEP_TIMEOUT, "the file dialog to close")
        chosen = self.wait_eval(page, "document.forms.upgrade.binFile.value", "the file field to be filled")
        log("    file field: %r" % chosen)

    def make_images(self):
        """A valid firmware image and one whose second section fails its CRC, both "osimage.bin"."""
        valid = os.path.join(self.workdir, "images", "osimage.bin")
        broken = os.path.join(self.workdir, "images", "broken", "osimage.bin")
        os.makedirs(os.path.dirname(broken), exist_ok=True)
        for path, extra in ((valid, []), (broken, ["--break", "crc2"])):
            subprocess.run([self.programs.image, "build", "--prod-id", "KBR3300", "--version", NEW_VERSION,
                            "--size1", "24K", "--size2", "40K", "-o", path] + extra, check=True,
                           stdout=subprocess.DEVNULL)
        return valid, broken

    def upgrade(self):
        valid, broken = self.make_images()
        page, window = self.open_upgrade_window()
        self.shot("upgrade-page", window)
        try:
            self.upgrade_valid(page, window, valid)
            self.upgrade_invalid(page, window, broken)
            page.run_later("document.forms.upgrade.Close.click()")
            reminder = self.desktop.wait_window("Reminder", timeout=STEP_TIMEOUT)
            self.desktop.key(reminder, "Return")
            wait_until(lambda: not self.desktop.windows(UPGRADE_TITLE), STEP_TIMEOUT, "the upgrade window to close")
        finally:
            page.close()

    def upgrade_valid(self, page, window, image):
        self.choose_file(page, image)
        page.run_later("document.forms.upgrade.Upgrade.click()")
        status = self.wait_eval(page, "(t => /completed successfully/.test(t) && t)"
                                      "(document.getElementById('upStatus').textContent)",
                                "the upgrade page to report the outcome", timeout=120)
        log("    upgrade page: %r" % status)
        self.shot("upgrade-done", window)
        sections = image_sections(self.programs.image, image)
        with open(image, "rb") as f:
            data = f.read()
        for number, (offset, size) in enumerate(sections, start=1):
            dumped = os.path.join(self.simulator.dump_dir, "section%d.bin" % number)
            expect(os.path.exists(dumped), "the device holds no section %d" % number)
            with open(dumped, "rb") as f:
                held = f.read()
            expect(held == data[offset:offset + size],
                   "section %d on the device (%d bytes) differs from the image's (%d bytes at %d)"
                   % (number, len(held), size, offset))
        log("    the device holds both sections of the image")

    def upgrade_invalid(self, page, window, image):
        for name in os.listdir(self.simulator.dump_dir):
            os.remove(os.path.join(self.simulator.dump_dir, name))
        requests_before = count_upgrade_requests(self.simulator.log_text())
        self.choose_file(page, image)
        page.run_later("document.forms.upgrade.Upgrade.click()")
        # The program refuses the file (a broken CRC brings no box of its own); the page reports it.
        status = self.wait_eval(page, "(t => /Upgrade failed/.test(t) && t)"
                                      "(document.getElementById('upStatus').textContent)",
                                "the upgrade page to report the refused image")
        log("    upgrade page: %r" % status)
        self.shot("upgrade-refused", window)
        expect("Not a valid upgrade file!" in status, "the page does not say why: %r" % status)
        expect(not self.desktop.windows("KBR3300") and not self.desktop.windows("Firmware Upgrade"),
               "a message box is open after the refused image")
        expect(os.listdir(self.simulator.dump_dir) == [], "the device received a section of a broken image")
        expect(count_upgrade_requests(self.simulator.log_text()) == requests_before,
               "upgrade requests reached the device for a broken image")

    def lost_connection_and_reconnect(self):
        self.simulator.kill()
        box = self.desktop.wait_window("KBR3300", timeout=STEP_TIMEOUT)
        text = self.box_text("KBR3300")
        expect("Lost connection to device." in text or not self.boxes, "unexpected box: %r" % text)
        self.shot("reconnect-question", box)
        self.simulator.start()
        self.desktop.key(box, "Return")  # Yes
        self.reconnect_main(lambda t: t["url"].lower().endswith("/index.html"), "the login page again")
        self.wait_eval(self.main, "document.readyState == 'complete' && document.title == %r" % LOGIN_TITLE,
                       "the login page after reconnecting")
        expect(not self.desktop.windows("KBR3300"), "the question is still open")

    def close_shows_reminder(self):
        pid = self.config_program_pid()
        expect(pid, "the configuration program is not running")
        window = self.main_window(MAIN_CAPTION)
        self.desktop.request_close(window)
        reminder = self.desktop.wait_window("Reminder", timeout=STEP_TIMEOUT)
        self.shot("reminder", reminder)
        self.desktop.key(reminder, "Return")  # OK
        wait_until(lambda: not self.config_program_pid(), STEP_TIMEOUT, "the configuration program to end")

    def no_sanitizer_reports(self):
        # A build with sanitizers (the asan preset) reports what they found, leaks when a program
        # ends. Leaks only held by memory whose own leak is suppressed (the browser engine's, see
        # cmake/sanitizers/lsan.supp) come as indirect ones and are the engine's too; a direct
        # leak, a bad access or undefined behaviour fails the run.
        found = re.search(r"ERROR: AddressSanitizer|Direct leak of|runtime error:", self.wizard.log_text())
        expect(not found, "a sanitizer report in the programs' log: %s" % (found.group(0) if found else ""))


def one_line(text):
    return " | ".join(line for line in text.splitlines() if line.strip() and not line.startswith("---"))


def count_upgrade_requests(log_text):
    return len(re.findall(r"UPGRADE", log_text))


def image_sections(image_tool, path):
    out = subprocess.run([image_tool, "info", path], capture_output=True, text=True).stdout
    found = re.findall(r"section (\d)\s+offset (\d+), (\d+) bytes", out)
    return [(int(offset), int(size)) for _, offset, size in sorted(found)]


CASES = [
    ("wizard start to login page", Session.wizard_start_to_login_page),
    ("wrong password: Password Incorrect!", Session.wrong_password),
    ("right password: setup page with the device's configuration", Session.right_password_shows_configuration),
    ("change channel and privacy, Apply: the device stored them", Session.change_channel_and_privacy),
    ("firmware upgrade: valid image stored, broken image refused", Session.upgrade),
    ("device lost: reconnect question, Yes returns to the login page", Session.lost_connection_and_reconnect),
    ("closing shows the Reminder", Session.close_shows_reminder),
    ("the programs report nothing to their sanitizers", Session.no_sanitizer_reports),
]


def run_cases(session):
    session.start_desktop()
    for name, case in CASES:
        started = time.monotonic()
        log("CASE %s" % name)
        case(session)
        log("PASS %s (%.1f s)" % (name, time.monotonic() - started))


def run_live(session, display):
    """The user's own display: start everything and wait until the configuration program ends."""
    session.start_desktop(display)
    valid, broken = session.make_images()
    session.start_system()
    log("The wizard is starting; log in with the password \"%s\"." % session.args.password)
    log("Firmware images for Help > Firmware Upgrade: %s (valid, version %s) and %s (broken CRC)."
        % (valid, NEW_VERSION, broken))
    wait_until(lambda: session.config_program_pid() or session.wizard.process.poll() is not None, START_TIMEOUT,
               "the configuration program to start")
    while session.config_program_pid() or session.wizard.process.poll() is None:
        system.reap()
        time.sleep(0.5)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mode", choices=("test", "demo", "live"))
    parser.add_argument("--wizard", required=True)
    parser.add_argument("--config", required=True)
    parser.add_argument("--pgpack", required=True)
    parser.add_argument("--nwinf", required=True)
    parser.add_argument("--devsim", required=True)
    parser.add_argument("--image", required=True)
    parser.add_argument("--docs", default="")
    parser.add_argument("--shots", default="")
    parser.add_argument("--display", default="")
    parser.add_argument("--password", default="e2epass1", help="the simulated adaptor's password")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()

    missing = [tool for tool in ("ip",) + (("Xvfb", "xdotool") if args.mode != "live" else ())
               if not shutil.which(tool)]
    if missing:
        log("SKIP: missing %s (scripts/install-deps installs them)" % ", ".join(missing))
        return 77
    try:
        system.check_private_network()
    except system.SystemError_ as error:
        log("FAIL: %s" % error)
        return 1

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    workdir = tempfile.mkdtemp(prefix="kbr-e2e-")
    session = Session(args, workdir)
    status = 0
    try:
        if args.mode == "live":
            run_live(session, args.display)
        else:
            run_cases(session)
            log("ALL PASSED" if args.mode == "test" else "demo session done")
    except (Failure, system.SystemError_, xwin.XError, cdp.CdpError, OSError, subprocess.SubprocessError) as error:
        log("FAIL: %s" % error)
        if not isinstance(error, Failure):
            traceback.print_exc(file=sys.stdout)
        session.diagnostics()
        status = 1
    finally:
        session.close()
        if args.keep or os.environ.get("KBR_E2E_KEEP"):
            log("work folder kept: %s" % workdir)
        else:
            shutil.rmtree(workdir, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
