#!/usr/bin/python3
"""How quickly the window answers the accessibility bus while a job runs.

A screen reader asks the window questions over AT-SPI (D-Bus); the window
answers them from its GUI thread, so an answer waits until that thread
lets events through. This measures that wait from another process, as a
screen reader would, in three phases:

  idle    the window runs no job: the floor of the measurement itself;
  search  the window searches a virtual PIC that never answers
          (vantlebld-sim --no-answer), for a search time of 25 s;
  write   the window writes a HEX file of 109 blocks into a virtual PIC
          that takes 100 ms to write each block (vantlebld-sim
          --write-ms 100).

Everything runs on this machine only, in a throw-away folder: a virtual X
server (Xvfb), a private D-Bus session bus, the AT-SPI bus launcher (which
starts the accessibility bus and the registry), the virtual PIC and a copy
of the window program, whose settings file is written in that folder. The
window runs in its automatic mode (-a -x -p<pty> file.hex): its job starts
on its own. Once the window's title names the HEX file (the job has
started; when idle, a second after the window is up), up to 50 questions
are asked, each after a random pause of 20..120 ms so that they land
anywhere in the window's busy cycle: the accessible name, child count or
role of the window's frame, with libatspi's cache cleared first so every
question goes over the bus. Each question is bounded by a timeout (3 s),
each phase by 20 s and the whole run, cleanup included, by 60 s.

Prints one line per phase, e.g.
  a11y latency during search: median 125.9 ms, max 179.5 ms (50 questions)
and exits 0 whatever the numbers are (it is a measurement, not a test).
Exits 1 when it could not measure, saying why.

Usage: bench/a11y_latency.py [--build-dir DIR] [--questions N] [--keep]
Runs with the system Python (/usr/bin/python3), whose AT-SPI bindings
(python3-gi, gir1.2-atspi-2.0) are Debian packages; ./dev.sh bench installs
them and runs this after the other benchmarks.
"""

import argparse
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import uuid

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
EXAMPLE_HEX = os.path.join(ROOT, "examples", "pic18f252_blink.hex")

QUESTION_TIMEOUT_MS = 3000  # one question's bound
SEARCH_SECONDS = 25  # the window's search time in the search phase
PHASE_SECONDS = 20  # the questions of one phase stop after this
TOTAL_SECONDS = 60  # the whole run, cleanup included, ends by then
GAP_MS = (20, 120)  # pause before each question
# (log name, label, the virtual PIC's options, HEX file): the window idle
# as a reference (no job, no PIC), searching a PIC that never answers, and
# writing the long HEX file into a PIC that takes 100 ms per block.
PHASES = [
    ("idle", "while idle (no job; reference)", [], None),
    ("search", "during search", ["--no-answer"], "example"),
    ("write", "during write", ["--write-ms", "100"], "long"),
]
# Marks every process this run starts (and what they start in turn), so
# that the cleanup finds them all, and only them.
TAG_NAME = "VANTLEBLD_A11Y_BENCH_RUN"


class CannotMeasure(Exception):
    pass


class OutOfTime(BaseException):
    """Not an Exception: no handler of a failed question may swallow it."""


def log(text):
    print(f"a11y_latency: {text}", file=sys.stderr, flush=True)


def hex_record(address, data, kind=0):
    body = [len(data), (address >> 8) & 0xFF, address & 0xFF, kind] + list(data)
    return ":" + "".join(f"{b:02X}" for b in body) + f"{(-sum(body)) & 0xFF:02X}"


def make_long_hex(path):
    """The PIC18F252 example with 6 KB more program below its code: 109
    blocks, about 11 s against a PIC that takes 100 ms per block."""
    with open(EXAMPLE_HEX, encoding="ascii") as f:
        example = [line.strip() for line in f if line.strip()]
    lines = [hex_record(0, bytes(2), kind=4)]
    for address in range(0x0400, 0x1C00, 16):
        lines.append(hex_record(address, bytes(((address + i) * 7) & 0xFF for i in range(16))))
    lines += [line for line in example if not line.startswith(":00000001")]
    lines.append(":00000001FF")
    with open(path, "w", encoding="ascii") as f:
        f.write("\n".join(lines) + "\n")


class Run:
    """The processes and files of one run, and their cleanup."""

    def __init__(self, build_dir, keep):
        self.build_dir = build_dir
        self.keep = keep
        self.tag = uuid.uuid4().hex
        self.tmp = tempfile.mkdtemp(prefix="vantlebld-a11y-")
        self.procs = []  # (name, Popen), in start order
        self.env = dict(os.environ)
        self.env[TAG_NAME] = self.tag
        runtime = os.path.join(self.tmp, "runtime")
        os.mkdir(runtime, 0o700)
        self.env["XDG_RUNTIME_DIR"] = runtime
        # Should the window ever keep its settings in the user's
        # configuration directory, that is this run's folder too.
        self.env["XDG_CONFIG_HOME"] = os.path.join(self.tmp, "config")
        # Nothing from the caller's desktop: this run's display and buses only.
        for name in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY",
                     "QT_QPA_PLATFORM", "DISPLAY", "XAUTHORITY"):
            self.env.pop(name, None)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def start(self, name, argv, **kwargs):
        out = open(self.path(f"{name}.log"), "ab")
        kwargs.setdefault("stdout", out)
        kwargs.setdefault("stderr", out)
        kwargs.setdefault("env", self.env)
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, start_new_session=True, **kwargs)
        out.close()
        self.procs.append((name, proc))
        return proc

    def stop(self, proc, grace=2.0):
        if proc.poll() is not None:
            return
        try:
            os.kill(proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            return
        try:
            proc.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            try:
                os.kill(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            try:
                proc.wait(timeout=2)
            except subprocess.TimeoutExpired:
                pass

    def tagged_pids(self):
        """Processes that carry this run's tag: ours and their children
        (the accessibility bus, the registry), whoever started them."""
        found = []
        marker = f"{TAG_NAME}={self.tag}".encode()
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open(f"/proc/{entry}/environ", "rb") as f:
                    if marker in f.read().split(b"\0"):
                        found.append(int(entry))
            except OSError:
                pass
        return found

    def cleanup(self):
        for _, proc in reversed(self.procs):
            self.stop(proc)
        for sig in (signal.SIGTERM, signal.SIGKILL):
            pids = self.tagged_pids()
            if not pids:
                break
            for pid in pids:
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
            deadline = time.monotonic() + 2
            while time.monotonic() < deadline and self.tagged_pids():
                time.sleep(0.05)
        left = self.tagged_pids()
        if left:
            log(f"processes left running: {left}")
        if self.keep:
            log(f"kept {self.tmp}")
        else:
            shutil.rmtree(self.tmp, ignore_errors=True)


def wait_for(what, predicate, seconds, proc=None):
    deadline = time.monotonic() + seconds
    while True:
        value = predicate()
        if value:
            return value
        if proc is not None and proc.poll() is not None:
            raise CannotMeasure(f"{what}: the process ended (exit {proc.returncode})")
        if time.monotonic() > deadline:
            raise CannotMeasure(f"{what}: not within {seconds} s")
        time.sleep(0.05)


def read_first_line(what, argv, name, run, seconds=10):
    """Starts argv, which writes one line to the descriptor given as
    {fd} in its arguments, and returns that line."""
    read_fd, write_fd = os.pipe()
    proc = run.start(name, [a.replace("{fd}", str(write_fd)) for a in argv], pass_fds=(write_fd,))
    os.close(write_fd)
    os.set_blocking(read_fd, False)
    got = b""

    def line():
        nonlocal got
        try:
            got += os.read(read_fd, 1024)
        except BlockingIOError:
            return None
        return got.decode().strip() if got.endswith(b"\n") else None

    try:
        return wait_for(what, line, seconds, proc)
    finally:
        os.close(read_fd)


def start_display(run):
    display = read_first_line("Xvfb's display number",
                              ["Xvfb", "-displayfd", "{fd}", "-screen", "0", "1280x1024x24",
                               "-nolisten", "tcp", "-noreset"], "xvfb", run)
    run.env["DISPLAY"] = ":" + display
    return display


def start_session_bus(run):
    run.env["DBUS_SESSION_BUS_ADDRESS"] = read_first_line(
        "the session bus", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                            "--print-address={fd}"], "dbus", run)


def start_accessibility_bus(run):
    """The AT-SPI bus launcher on the private session bus: it starts the
    accessibility bus, whose registry daemon comes up on demand."""
    proc = run.start("at-spi-bus-launcher", [BUS_LAUNCHER, "--launch-immediately"])
    from gi.repository import Gio, GLib

    flags = Gio.DBusConnectionFlags
    bus = Gio.DBusConnection.new_for_address_sync(
        run.env["DBUS_SESSION_BUS_ADDRESS"],
        flags.AUTHENTICATION_CLIENT | flags.MESSAGE_BUS_CONNECTION, None, None)

    def address():
        try:
            reply = bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                                  None, GLib.VariantType("(s)"), Gio.DBusCallFlags.NO_AUTO_START,
                                  1000, None)
            return reply.unpack()[0] or None
        except GLib.Error:
            return None

    a11y_address = wait_for("the accessibility bus", address, 10, proc)
    bus.close_sync(None)
    return a11y_address


def start_pic(run, name, args):
    """A virtual PIC; returns its process and the pseudo-terminal it serves."""
    sim = os.path.join(run.build_dir, "bin", "vantlebld-sim")
    out_path = run.path(f"{name}.out")
    with open(out_path, "wb") as out:
        proc = run.start(name, [sim, "--code", "41h", *args], stdout=out)

    def pty():
        with open(out_path, encoding="utf-8", errors="replace") as f:
            first = f.readline()
        if first.endswith("\n") and first.startswith("PTY "):
            return first.split()[1]
        return None

    return proc, wait_for(f"{name}'s PTY line", pty, 10, proc)


def find_window(atspi, pid, proc, seconds):
    """The window's application and frame on the accessibility bus."""
    def look():
        desktop = atspi.get_desktop(0)
        desktop.clear_cache()
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is None:
                continue
            try:
                if app.get_process_id() == pid and app.get_child_count() > 0:
                    frame = app.get_child_at_index(0)
                    if frame is not None:
                        return app, frame
            except Exception:  # an application that went away meanwhile
                continue
        return None

    return wait_for("the window on the accessibility bus", look, seconds, proc)


def ask(frame, kind):
    frame.clear_cache()
    if kind == 0:
        return frame.get_name()
    if kind == 1:
        return frame.get_child_count()
    return frame.get_role()


def measure_phase(run, atspi, name, pic_args, hex_file, questions, rng):
    """Without a HEX file the window runs no job: the idle reference."""
    pic, pty = start_pic(run, f"pic-{name}", pic_args) if hex_file else (None, None)
    bin_dir = run.path("bin")
    env = dict(run.env)
    env.update({"QT_QPA_PLATFORM": "xcb", "QT_ACCESSIBILITY": "1",
                "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"})
    argv = [os.path.join(bin_dir, "vantlebld")]
    if hex_file:
        argv += ["-a", "-x", f"-p{pty}", hex_file]
    window = run.start(f"window-{name}", argv, env=env, cwd=bin_dir)
    try:
        _, frame = find_window(atspi, window.pid, window, 15)
        if hex_file:
            # The title names the HEX file once the job has started.
            title = os.path.basename(hex_file)

            def started():
                try:
                    return ask(frame, 0).endswith(title)
                except Exception:  # a question that timed out: ask again
                    return False

            wait_for(f"the {name} job to start", started, 10, window)
        else:
            time.sleep(1)  # past the port list built at the start
        latencies = []
        failures = []
        deadline = time.monotonic() + PHASE_SECONDS
        while len(latencies) + len(failures) < questions and time.monotonic() < deadline:
            time.sleep(rng.uniform(*GAP_MS) / 1000)
            if window.poll() is not None:
                break
            start = time.perf_counter()
            try:
                ask(frame, (len(latencies) + len(failures)) % 3)
                latencies.append((time.perf_counter() - start) * 1000)
            except Exception as e:  # a timeout, or the window went away
                if window.poll() is not None:
                    break
                failures.append(f"{type(e).__name__}: {e}")
        ended = window.poll() is not None
    finally:
        run.stop(window, grace=1)
        if pic is not None:
            run.stop(pic, grace=1)
    return latencies, failures, ended


def report(name, latencies, failures, ended):
    asked = len(latencies) + len(failures)
    if not latencies:
        return False
    line = (f"a11y latency {name}: median {statistics.median(latencies):.1f} ms, "
            f"max {max(latencies):.1f} ms ({len(latencies)} questions")
    if failures:
        line += f", {len(failures)} more unanswered within {QUESTION_TIMEOUT_MS} ms"
    line += ")"
    if ended:
        line += f" [the window ended after {asked} questions]"
    print(line, flush=True)
    for reason in sorted(set(failures)):
        log(f"{name}: {reason}")
    return True


def check_prerequisites(build_dir):
    missing = []
    for tool in ("Xvfb", "dbus-daemon"):
        if shutil.which(tool) is None:
            missing.append(f"{tool} (not on PATH)")
    if not os.access(BUS_LAUNCHER, os.X_OK):
        missing.append(BUS_LAUNCHER)
    for f in ("vantlebld", "vantlebld-sim", "piccodes.ini"):
        if not os.path.isfile(os.path.join(build_dir, "bin", f)):
            missing.append(os.path.join(build_dir, "bin", f))
    if not os.path.isfile(EXAMPLE_HEX):
        missing.append(EXAMPLE_HEX)
    try:
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi  # noqa: F401
    except (ImportError, ValueError) as e:
        missing.append(f"the AT-SPI Python bindings ({e})")
    if missing:
        raise CannotMeasure("missing: " + ", ".join(missing))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build"))
    parser.add_argument("--questions", type=int, default=50)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", action="store_true", help="keep the run's folder and logs")
    args = parser.parse_args()

    def out_of_time(signum, frame):
        raise OutOfTime(f"the run took more than {TOTAL_SECONDS} s")

    def stopped(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGALRM, out_of_time)
    signal.signal(signal.SIGTERM, stopped)
    signal.alarm(TOTAL_SECONDS - 10)  # ten seconds left for the cleanup

    run = None
    measured = 0
    interrupted = False
    try:
        check_prerequisites(args.build_dir)
        run = Run(os.path.abspath(args.build_dir), args.keep)
        # A copy of the window program, so that its settings file (kept
        # beside the program) is this run's own: a search of SEARCH_SECONDS.
        bin_dir = run.path("bin")
        os.mkdir(bin_dir)
        for f in ("vantlebld", "piccodes.ini"):
            shutil.copy2(os.path.join(run.build_dir, "bin", f), bin_dir)
        with open(os.path.join(bin_dir, "vantlebld.ini"), "w", encoding="ascii") as f:
            f.write(f"[OPTIONS]\nSearchDelay={SEARCH_SECONDS}\n")
        long_hex = run.path("long.hex")
        make_long_hex(long_hex)

        start_display(run)
        start_session_bus(run)
        a11y_address = start_accessibility_bus(run)
        # libatspi reads the buses from the environment when it starts.
        for name in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME"):
            os.environ[name] = run.env[name]
        os.environ["AT_SPI_BUS_ADDRESS"] = a11y_address
        from gi.repository import Atspi
        Atspi.init()
        Atspi.set_timeout(QUESTION_TIMEOUT_MS, QUESTION_TIMEOUT_MS)

        rng = random.Random(args.seed)
        hex_files = {"example": EXAMPLE_HEX, "long": long_hex, None: None}
        for key, label, pic_args, hex_key in PHASES:
            try:
                result = measure_phase(run, Atspi, key, pic_args, hex_files[hex_key],
                                       args.questions, rng)
            except CannotMeasure as e:
                log(f"{label}: could not measure: {e}")
                continue
            if report(label, *result):
                measured += 1
            else:
                log(f"{label}: could not measure: no question was answered")
    except (CannotMeasure, OutOfTime) as e:
        log(f"could not measure: {e}")
    except KeyboardInterrupt:
        log("stopped")
        interrupted = True
    finally:
        signal.alarm(0)
        if run is not None:
            if measured < len(PHASES) and not interrupted:
                for name, _ in run.procs:
                    p = run.path(f"{name}.log")
                    if os.path.exists(p) and os.path.getsize(p):
                        with open(p, encoding="utf-8", errors="replace") as f:
                            tail = f.read()[-600:]
                        log(f"--- {name}.log (end) ---\n{tail}")
            run.cleanup()
    return 0 if measured == len(PHASES) else 1


if __name__ == "__main__":
    sys.exit(main())
