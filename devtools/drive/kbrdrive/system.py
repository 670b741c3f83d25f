"""The whole system in a private network namespace: the simulated adaptor on 192.168.0.20:52121,
a run folder laid out as the programs expect it, and the wizard started from there.

Everything here must run inside the namespace that scripts/netns-run makes: the programs
connect to 192.168.0.20, which must be the namespace's own loopback and nothing else.
"""

import json
import os
import shutil
import signal
import subprocess
import time

from . import cdp
from .common import end_process, read_text

DEVICE_ADDRESS = "192.168.0.20"
DEVICE_PORT = 52121
DEBUG_PORT = 9229


class SystemError_(Exception):
    pass


def check_private_network():
    """Refuses to go on unless the only interface is a loopback holding the device address."""
    out = subprocess.run(["ip", "-o", "addr", "show"], capture_output=True, text=True).stdout
    interfaces = {line.split()[1] for line in out.splitlines() if line.strip()}
    if interfaces != {"lo"} or (" %s/" % DEVICE_ADDRESS) not in out:
        raise SystemError_("not in a private network namespace with %s on lo:\n%s" % (DEVICE_ADDRESS, out))


def processes_named(name):
    """Pids of live processes whose executable's base name is `name` (zombies are left out)."""
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if os.path.basename(os.readlink("/proc/%s/exe" % entry)) != name:
                continue
            with open("/proc/%s/stat" % entry) as f:
                if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                    continue
        except OSError:
            continue
        pids.append(int(entry))
    return pids


def reap():
    """Collects ended children; in a new pid namespace we are its init, orphans come to us."""
    try:
        while os.waitpid(-1, os.WNOHANG)[0] > 0:
            pass
    except ChildProcessError:
        pass


def wait_until(condition, timeout, what, interval=0.1):
    deadline = time.monotonic() + timeout
    while True:
        reap()
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise SystemError_("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


class Programs:
    def __init__(self, args):
        self.wizard = args.wizard
        self.config = args.config
        self.pgpack = args.pgpack
        self.nwinf = args.nwinf
        self.devsim = args.devsim
        self.image = args.image
        self.docs = args.docs
        for path in (self.wizard, self.config, self.pgpack, self.nwinf, self.devsim, self.image):
            if not os.path.isfile(path):
                raise SystemError_("missing program or file: %s" % path)


class Simulator:
    def __init__(self, program, workdir, password, state=None):
        self.program = program
        self.password = password
        self.state = os.path.join(workdir, "device.state")
        self.dump_dir = os.path.join(workdir, "device-dump")
        self.log_path = os.path.join(workdir, "devsim.log")
        os.makedirs(self.dump_dir, exist_ok=True)
        if state:
            with open(self.state, "w") as f:
                f.writelines("%s=%s\n" % item for item in state.items())
        self.process = None

    def start(self, timeout=20):
        log = open(self.log_path, "a")
        # No idle timeout: the configuration program's connection says nothing until the first
        # login, and a person at the login page of the demo may take their time.
        self.process = subprocess.Popen(
            [self.program, "--listen", "%s:%d" % (DEVICE_ADDRESS, DEVICE_PORT), "--password", self.password,
             "--state", self.state, "--dump-dir", self.dump_dir, "--reboot-time", "1000", "--idle-timeout", "0",
             "--verbose"],
            stdout=subprocess.PIPE, stderr=log, text=True)
        log.close()
        line = self.process.stdout.readline()  # the first line is flushed at once
        if not line.startswith("listening on "):
            self.process.kill()
            raise SystemError_("the simulator did not start: %r (see %s)" % (line, self.log_path))

    def kill(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait(10)

    def stop(self):
        end_process(self.process)

    def read_state(self):
        values = {}
        try:
            with open(self.state) as f:
                for line in f:
                    if "=" in line:
                        key, value = line.rstrip("\n").split("=", 1)
                        values[key] = value
        except FileNotFoundError:
            pass
        return values

    def log_text(self):
        return read_text(self.log_path)


class RunFolder:
    """The folder the wizard runs in: KBR3300, PgPack.dll, nwinf and doc/ beside each other (the
    wizard starts ./KBR3300 and opens doc/... from its current directory), and a recording
    ipconfig first on the search path: nothing in here may renew a real address."""

    def __init__(self, programs, workdir):
        self.path = os.path.join(workdir, "run")
        self.stubs = os.path.join(workdir, "stubs")
        self.ipconfig_log = os.path.join(workdir, "ipconfig.log")
        os.makedirs(self.path, exist_ok=True)
        os.makedirs(self.stubs, exist_ok=True)
        for name, target in (("KBR3300", programs.config), ("PgPack.dll", programs.pgpack),
                             ("nwinf", programs.nwinf)):
            os.symlink(os.path.abspath(target), os.path.join(self.path, name))
        if programs.docs and os.path.isdir(programs.docs):
            os.symlink(os.path.abspath(programs.docs), os.path.join(self.path, "doc"))
        stub = os.path.join(self.stubs, "ipconfig")
        with open(stub, "w") as f:
            f.write('#!/bin/sh\necho "$*" >> "%s"\n' % self.ipconfig_log)
        os.chmod(stub, 0o755)

    def ipconfig_calls(self):
        try:
            with open(self.ipconfig_log) as f:
                return f.read().split("\n")[:-1]
        except FileNotFoundError:
            return []


class Wizard:
    """The wizard as the user starts it, with what the programs need to run here."""

    def __init__(self, programs, run_folder, workdir, display):
        self.program = programs.wizard
        self.run_folder = run_folder
        self.log_path = os.path.join(workdir, "programs.log")
        home = os.path.join(workdir, "home")
        runtime = os.path.join(workdir, "xdg-runtime")
        for d in (home, runtime):
            os.makedirs(d, mode=0o700, exist_ok=True)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "QTWEBENGINE_", "WAYLAND"))}
        env.update({
            "DISPLAY": display,
            "QT_QPA_PLATFORM": "xcb",
            "HOME": home,
            "XDG_RUNTIME_DIR": runtime,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
            "PATH": run_folder.stubs + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin"),
            "NWINF_NO_RENEW": "1",
            # Only inside the private namespace: the page driver's way in.
            "QTWEBENGINE_REMOTE_DEBUGGING": "127.0.0.1:%d" % DEBUG_PORT,
        })
        if os.geteuid() == 0:
            env["QTWEBENGINE_CHROMIUM_FLAGS"] = "--no-sandbox"
        self.env = env
        self.process = None

    def start(self):
        log = open(self.log_path, "a")
        self.process = subprocess.Popen([self.program], cwd=self.run_folder.path, env=self.env,
                                        stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        log.close()

    def log_text(self):
        return read_text(self.log_path)


def find_page(predicate, timeout, what):
    """Connects to the first page target for which predicate(target) holds."""
    def look():
        try:
            targets = cdp.list_targets(DEBUG_PORT, timeout=3)
        except (OSError, cdp.CdpError, json.JSONDecodeError):
            return None
        for target in targets:
            if target.get("type") == "page" and target.get("webSocketDebuggerUrl") and predicate(target):
                return target
        return None
    target = wait_until(look, timeout, what, interval=0.25)
    return cdp.Page(target)


def thread_stacks(pid):
    """The stack of every thread of a running process, read by gdb; a line saying why when there is
    no gdb or it cannot attach."""
    gdb = "/usr/bin/gdb"  # the system's, never one found on the search path (this may run as root)
    if not os.access(gdb, os.X_OK):
        return "(no gdb here to read the stacks)"
    try:
        result = subprocess.run([gdb, "-p", str(pid), "-batch", "-nx", "-ex", "thread apply all bt 30"],
                                capture_output=True, text=True, timeout=120, stdin=subprocess.DEVNULL)
    except (OSError, subprocess.TimeoutExpired) as error:
        return "(gdb failed: %s)" % error
    return "\n".join(line for line in result.stdout.splitlines() if line.startswith(("Thread ", "#")))


def kill_all(names):
    for name in names:
        for pid in processes_named(name):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
    reap()


def copy_logs(workdir, destination):
    os.makedirs(destination, exist_ok=True)
    for name in ("devsim.log", "programs.log", "ipconfig.log"):
        source = os.path.join(workdir, name)
        if os.path.exists(source):
            shutil.copy(source, destination)
