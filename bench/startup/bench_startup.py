"""Start-up of the configuration program beside the browser engine's own.

Starts the built KBR3300 and a bare page view (one QWebEngineView, one local page) under the same
conditions, alternating, and prints for each the median time from the process's start until its
first page's document.readyState is "complete" (read over the DevTools protocol), the main
process's peak RSS and the whole process tree's RSS at that moment, and each as a ratio to the
bare view. It prints figures; it checks nothing.

Everything runs inside a private network namespace (scripts/netns-run; the script enters one by
itself) under an Xvfb of its own, with the device simulator on 192.168.0.20:52121 inside that
namespace: KBR3300 connects to the device address at start, and there it reaches the simulator
and nothing else. KBR3300 runs only when the setup wizard runs; a stand-in process carrying the
wizard's executable name takes its place, as the program ends it at start.

  bench_startup.py --config KBR3300 --bare kbr3300-bare-view --page pages/Index.html
                   --pgpack PgPack.dll --nwinf nwinf --devsim kbr3300-devsim [--rounds N]
                   [--trace] [--baseline OTHER_KBR3300]

--baseline adds another build of KBR3300 (an earlier commit's, say) to every round, so that a
change is measured side by side with what it changes rather than across runs of a shared machine.
--trace asks both programs for their start-up trace (KBR_STARTUP_TRACE=1) and prints the median
time of each step. Exit 77 when namespaces or Xvfb cannot be had here.

The login page asks for a larger window while it loads (its MFCDoResize call), and the program
obeys at once, so a third program runs in every round: the bare view resized to that size as its
page starts to load. KBR3300 against it is the program's own cost; the bare view against it is
what the resize costs the engine.
"""

import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "devtools", "drive"))

from kbrdrive import cdp, system  # noqa: E402

DEBUG_PORT = 9331
WIZARD_NAME = "KBR3300_Wizardd"
READY_TIMEOUT = 60.0
TRACE_PREFIX = "startup-trace:"


class BenchError(Exception):
    pass


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--config", required=True, help="the built KBR3300")
    parser.add_argument("--bare", required=True, help="the bare page view")
    parser.add_argument("--page", required=True, help="the local page the bare view shows")
    parser.add_argument("--pgpack", required=True)
    parser.add_argument("--nwinf", required=True)
    parser.add_argument("--devsim", required=True)
    parser.add_argument("--rounds", type=int, default=9, help="rounds of each, alternating (default 9)")
    parser.add_argument("--trace", action="store_true", help="print the start-up traces, step by step")
    parser.add_argument("--baseline", help="another build of KBR3300, run in every round too")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    return parser.parse_args()


def enter_namespace():
    """Runs this script again inside a private network namespace; never returns."""
    netns_run = os.path.join(SOURCE, "scripts", "netns-run")
    os.execv(netns_run, [netns_run, sys.executable, os.path.abspath(__file__), "--inside"] + sys.argv[1:])


def start_xvfb():
    if not shutil.which("Xvfb"):
        print("SKIP: Xvfb is missing (scripts/install-deps installs it)")
        sys.exit(77)
    read_end, write_end = os.pipe()
    process = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-ac", "-nolisten", "tcp",
                                "-screen", "0", "1280x1024x24"], pass_fds=(write_end,),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb") as pipe:
        number = pipe.readline().strip()
    if not number:
        process.kill()
        raise BenchError("Xvfb did not start")
    return process, ":" + number.decode()


def children_of(pid):
    """Every live process below pid (its descendants), by the parent ids in /proc."""
    parents = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if fields[0] != "Z":
            parents[int(entry)] = int(fields[1])
    found, frontier = [], [pid]
    while frontier:
        parent = frontier.pop()
        for child, its_parent in parents.items():
            if its_parent == parent:
                found.append(child)
                frontier.append(child)
    return found


def status_kib(pid, field):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def end_tree(process):
    tree = children_of(process.pid)
    for pid in [process.pid] + tree:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    process.wait()
    deadline = time.monotonic() + 10
    while any(os.path.exists("/proc/%d" % pid) for pid in tree) and time.monotonic() < deadline:
        system.reap()
        time.sleep(0.02)


class Setup:
    def __init__(self, args, workdir, display):
        self.args = args
        self.page_size = page_size(args.page)  # what the bare view is resized to, when the page asks
        self.run = os.path.join(workdir, "run")
        self.stubs = os.path.join(workdir, "stubs")
        home = os.path.join(workdir, "home")
        for d in (self.run, self.stubs, home, os.path.join(workdir, "xdg-runtime")):
            os.makedirs(d, mode=0o700, exist_ok=True)
        for name, target in (("KBR3300", args.config), ("PgPack.dll", args.pgpack), ("nwinf", args.nwinf)):
            os.symlink(os.path.abspath(target), os.path.join(self.run, name))
        # The baseline runs from a run folder of its own: the wizard starts ./KBR3300, so does this.
        self.baseline_run = None
        if args.baseline:
            self.baseline_run = os.path.join(workdir, "run-baseline")
            os.makedirs(self.baseline_run, mode=0o700)
            for name, target in (("KBR3300", args.baseline), ("PgPack.dll", args.pgpack), ("nwinf", args.nwinf)):
                os.symlink(os.path.abspath(target), os.path.join(self.baseline_run, name))
        # Processes are known by their executable's name: a copy of sleep under the wizard's name.
        self.wizard = os.path.join(self.stubs, WIZARD_NAME)
        shutil.copy(shutil.which("sleep"), self.wizard)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "QTWEBENGINE_", "WAYLAND", "KBR_"))}
        env.update({
            "DISPLAY": display,
            "QT_QPA_PLATFORM": "xcb",
            "HOME": home,
            "XDG_RUNTIME_DIR": os.path.join(workdir, "xdg-runtime"),
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
            "NWINF_NO_RENEW": "1",
            # Only inside the private namespace.
            "QTWEBENGINE_REMOTE_DEBUGGING": "127.0.0.1:%d" % DEBUG_PORT,
        })
        if os.geteuid() == 0:
            env["QTWEBENGINE_CHROMIUM_FLAGS"] = "--no-sandbox"
        self.env = env
        self.log = os.path.join(workdir, "programs.log")
        self.trace_log = os.path.join(workdir, "trace.log")

    def command(self, kind):
        """The command line, its working folder and the scheme of its first page."""
        if kind == "bare":
            return [os.path.abspath(self.args.bare), os.path.abspath(self.args.page)], self.run, "file:"
        if kind == "resized":
            size = "%dx%d" % self.page_size
            return [os.path.abspath(self.args.bare), os.path.abspath(self.args.page), size], self.run, "file:"
        return ["./KBR3300"], self.baseline_run if kind == "baseline" else self.run, "res:"


def page_size(page):
    """The window size the page asks for while it loads (its MFCDoResize call), or None."""
    with open(page, errors="replace") as f:
        found = re.search(r"MFCDoResize\(\s*(\d+)\s*,\s*(\d+)\s*\)", f.read())
    return (int(found.group(1)), int(found.group(2))) if found else None


def wait_ready(process, url_prefix):
    """Seconds from now until the first page of url_prefix is complete; raises when the process
    ends or the time runs out first."""
    deadline = time.monotonic() + READY_TIMEOUT
    page = None
    try:
        while time.monotonic() < deadline:
            if process.poll() is not None:
                raise BenchError("the program ended (exit %s) before its page was ready" % process.returncode)
            if page is None:
                try:
                    targets = cdp.list_targets(DEBUG_PORT, timeout=2)
                except (OSError, cdp.CdpError, ValueError):
                    time.sleep(0.005)
                    continue
                target = next((t for t in targets if t.get("type") == "page" and t.get("webSocketDebuggerUrl")
                               and t.get("url", "").startswith(url_prefix)), None)
                if target is None:
                    time.sleep(0.005)
                    continue
                page = cdp.Page(target)
            try:
                state = page.evaluate("location.protocol + ' ' + document.readyState", timeout=10)
            except cdp.CdpError:
                state = None
            if state == url_prefix + " complete":
                return time.monotonic()
            time.sleep(0.003)
        raise BenchError("the page was not ready within %.0f s" % READY_TIMEOUT)
    finally:
        if page is not None:
            page.close()


def run_once(setup, kind, trace):
    env = dict(setup.env)
    stand_in = None
    if kind not in ("bare", "resized"):
        stand_in = subprocess.Popen([setup.wizard, "3600"], cwd=setup.run)
        system.wait_until(lambda: system.processes_named(WIZARD_NAME), 10, "the stand-in wizard")
    if trace:
        env["KBR_STARTUP_TRACE"] = "1"
    command, cwd, url_prefix = setup.command(kind)
    with open(setup.log, "ab") as log:
        log.write(("---- %s\n" % kind).encode())
        log.flush()
        err = open(setup.trace_log, "wb") if trace else log
        started = time.monotonic()
        process = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=log,
                                   stderr=err)
        if err is not log:
            err.close()
    try:
        ready = wait_ready(process, url_prefix)
        seconds = ready - started
        peak = status_kib(process.pid, "VmHWM")
        tree = sum(status_kib(pid, "VmRSS") for pid in [process.pid] + children_of(process.pid))
    finally:
        end_tree(process)
        if stand_in is not None and stand_in.poll() is None:
            stand_in.kill()
        if stand_in is not None:
            stand_in.wait()
        system.reap()
    steps = []
    if trace:
        with open(setup.trace_log, errors="replace") as f:
            lines = f.read().splitlines()
        for line in lines:
            if line.startswith(TRACE_PREFIX):
                parts = line[len(TRACE_PREFIX):].split(None, 1)
                if len(parts) == 2:
                    steps.append((parts[1], float(parts[0])))
    return seconds, peak, tree, steps


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def main():
    args = parse_args()
    if not args.inside:
        enter_namespace()
    system.check_private_network()
    for path in (args.config, args.bare, args.page, args.pgpack, args.nwinf, args.devsim):
        if not os.path.isfile(path):
            raise BenchError("missing: %s" % path)
    workdir = tempfile.mkdtemp(prefix="kbr-bench-startup-")
    xvfb, display = start_xvfb()
    simulator = system.Simulator(args.devsim, workdir, "admin")
    try:
        simulator.start()
        setup = Setup(args, workdir, display)
        print("load average at start: %s" % load_average())
        kinds = (["bare"] + (["resized"] if setup.page_size else []) + ["config"] +
                 (["baseline"] if args.baseline else []))
        # One round of each that is not counted: the files are in the page cache afterwards.
        for kind in kinds:
            run_once(setup, kind, False)
        results = {kind: [] for kind in kinds}
        traces = {kind: [] for kind in kinds}
        loads = []
        for round_number in range(args.rounds):
            # Each program starts first, in the middle and last equally often.
            order = kinds[round_number % len(kinds):] + kinds[:round_number % len(kinds)]
            if round_number // len(kinds) % 2 == 1:
                order.reverse()
            for kind in order:
                seconds, peak, tree, steps = run_once(setup, kind, args.trace)
                results[kind].append((seconds, peak, tree))
                if steps:
                    traces[kind].append(steps)
                print("round %d %-8s %.3f s  peak RSS %6.1f MiB  tree RSS %6.1f MiB" %
                      (round_number + 1, kind, seconds, peak / 1024, tree / 1024), flush=True)
            loads.append(float(load_average().split()[0]))
        print("load average at end: %s; 1-minute load after each round: min %.2f, median %.2f, max %.2f" %
              (load_average(), min(loads), statistics.median(loads), max(loads)))

        def median(kind, index):
            return statistics.median(row[index] for row in results[kind])

        print()
        titles = {"bare": "bare view", "resized": "resized", "config": "KBR3300", "baseline": "baseline"}
        for kind in kinds[1:]:
            print("median of %d rounds each       bare view %11s   ratio" % (args.rounds, titles[kind]))
            for label, index, scale, unit in (("start-up until ready", 0, 1.0, "s"),
                                              ("main process peak RSS", 1, 1 / 1024, "MiB"),
                                              ("process tree RSS", 2, 1 / 1024, "MiB")):
                bare, config = median("bare", index), median(kind, index)
                print("%-24s %9.3f %-3s %7.3f %-3s %6.2fx" % (label, bare * scale, unit, config * scale, unit,
                                                             config / bare))
            # Each round's ratio to the bare view started in the same round, then their median.
            paired = [c[0] / b[0] for b, c in zip(results["bare"], results[kind])]
            print("%-24s %34.2fx" % ("start-up, rounds' median", statistics.median(paired)))
            print()
        if "resized" in results:
            paired = [c[0] / b[0] for b, c in zip(results["resized"], results["config"])]
            print("KBR3300 / bare view resized as the page asks (%dx%d), start-up: median of the rounds' ratios "
                  "%.2fx" % (setup.page_size + (statistics.median(paired),)))
        if args.baseline:
            paired = [c[0] / b[0] for b, c in zip(results["baseline"], results["config"])]
            print("KBR3300 / baseline, start-up: median of the rounds' ratios %.2fx" % statistics.median(paired))
        for kind, title in titles.items():
            if kind not in traces:
                continue
            if not traces[kind]:
                continue
            print()
            print("%s start-up trace, median ms since main (%d rounds):" % (title, len(traces[kind])))
            names = [name for name, _ in traces[kind][0]]
            for name in names:
                values = [dict(steps).get(name) for steps in traces[kind]]
                values = [v for v in values if v is not None]
                print("  %8.1f  %s" % (statistics.median(values), name))
    finally:
        simulator.stop()
        xvfb.kill()
        xvfb.wait()
        shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (BenchError, system.SystemError_, cdp.CdpError) as error:
        print("bench_startup: %s" % error, file=sys.stderr)
        sys.exit(1)
