#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The demo program's main window as a screen reader reads it: over AT-SPI, on a D-Bus session
bus and an accessibility bus of the test's own, with the demo under a private Xvfb display.

    atspi_demo_test.py QX_77ZT_demo qx77zt [--dump]

Changes the virtual unit's settings through `qx77zt --demo` and checks, as a table, the role,
name, value and states a reader finds on each control, and that the meters tell a reader of their
readings as they change, about once a second. Everything it starts is ended before it returns;
it gives up after a bounded time.
"""
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

PATIENCE_S = 60  # for the demo to show and connect; generous for sanitizer builds
SKIP = 77  # ctest's SKIP_RETURN_CODE for this test


class Failed(Exception):
    pass


class Processes:
    """Each process started in a process group of its own, so that what it starts in turn (the
    bus launcher's bus, the registry the bus activates) ends with it."""

    def __init__(self):
        self.started = []

    def start(self, args, env, **kw):
        p = subprocess.Popen(args, env=env, start_new_session=True, **kw)
        self.started.append(p)
        return p

    def end_all(self):
        for p in reversed(self.started):
            for sig, wait in ((signal.SIGTERM, 5), (signal.SIGKILL, 5)):
                try:
                    os.killpg(p.pid, sig)
                except ProcessLookupError:
                    pass
                try:
                    p.wait(wait)
                except subprocess.TimeoutExpired:
                    continue
                # The group's other members (children the leader left behind).
                if not group_alive(p.pid):
                    break
        left = [p.pid for p in self.started if group_alive(p.pid)]
        if left:
            raise Failed("processes left running in groups %s" % left)


def group_alive(pgid):
    """Whether a process of the group still runs (one that ended but was not yet reaped by the
    parent it was left to does not count)."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[2]) == pgid and fields[0] not in ("Z", "X"):
            return True
    return False


def read_line(stream, until):
    """One line from a pipe, or None when `until` (a monotonic time) has passed."""
    data = b""
    while time.monotonic() < until:
        ready, _, _ = select.select([stream], [], [], 0.2)
        if ready:
            chunk = os.read(stream.fileno(), 1)
            if not chunk:
                return None
            if chunk == b"\n":
                return data.decode()
            data += chunk
    return None


def start_session(procs, env, home):
    deadline = time.monotonic() + 20
    bus = procs.start(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                       "--print-address=1"], env, stdout=subprocess.PIPE,
                      stderr=subprocess.DEVNULL)
    address = read_line(bus.stdout, deadline)
    if not address:
        raise Failed("the private session bus did not start")
    env["DBUS_SESSION_BUS_ADDRESS"] = address
    procs.start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    read_end, write_end = os.pipe()
    # -noreset: by default the server starts anew when its last client leaves, and refuses
    # connections meanwhile; the socket probe below and the bus launcher are such clients.
    procs.start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp", "-noreset"], env, pass_fds=(write_end,),
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end, "rb", buffering=0) as displayfd:
        display = read_line(displayfd, deadline)
    if not display:
        raise Failed("Xvfb did not start")
    env["DISPLAY"] = ":" + display.strip()
    # Taking connections, before the demo tries once and gives up.
    wait_for("Xvfb's socket", lambda: x_answers(display.strip()), deadline)


def x_answers(display):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        s.connect("/tmp/.X11-unix/X" + display)
        return True
    except OSError:
        return False
    finally:
        s.close()


def find(node, predicate, depth=0):
    if node is None or depth > 30:
        return None
    try:
        if predicate(node):
            return node
        for i in range(node.childCount):
            found = find(node.getChildAtIndex(i), predicate, depth + 1)
            if found is not None:
                return found
    except Exception:  # a node that went away while it was read
        return None
    return None


def wait_for(what, check, until):
    while time.monotonic() < until:
        got = check()
        if got:
            return got
        time.sleep(0.2)
    raise Failed("timed out waiting for " + what)


def dump(node, depth=0, out=sys.stdout):
    if node is None or depth > 30:
        return
    value = ""
    try:
        v = node.queryValue()
        value = " value=%s" % v.currentValue
    except NotImplementedError:
        pass
    text = ""
    try:
        t = node.queryText()
        text = " text=%r" % t.getText(0, -1)
    except NotImplementedError:
        pass
    states = ",".join(sorted(s.value_nick for s in node.getState().getStates()))
    rels = ";".join("%s:%s" % (r.getRelationType().value_nick, r.getTarget(0).name)
                    for r in node.getRelationSet())
    out.write("%s%s %r%s%s [%s] %s\n" % ("  " * depth, node.getRoleName(), node.name, value,
                                          text, states, rels))
    for i in range(node.childCount):
        dump(node.getChildAtIndex(i), depth + 1, out)


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    demo, cli = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    want_dump = "--dump" in sys.argv[3:]
    for tool in ("dbus-daemon", "Xvfb", "/usr/libexec/at-spi-bus-launcher"):
        if shutil.which(tool) is None:
            print("SKIP: %s is missing (tools/setup-extra.d/accessibility.list)" % tool)
            return SKIP
    try:
        import gi  # noqa: F401
        gi.require_version("Atspi", "2.0")
    except (ImportError, ValueError):
        print("SKIP: python3-pyatspi is missing (tools/setup-extra.d/accessibility.list)")
        return SKIP

    home = tempfile.mkdtemp(prefix="qx-atspi-")
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("DBUS_", "XDG_", "QT_", "AT_SPI", "WAYLAND"))
           and k not in ("DISPLAY", "XAUTHORITY")}
    env.update(HOME=home, TMPDIR=home, XDG_RUNTIME_DIR=home, XDG_CONFIG_HOME=home + "/config",
               XDG_STATE_HOME=home + "/state", XDG_DATA_HOME=home + "/data",
               XDG_CACHE_HOME=home + "/cache", NO_AT_BRIDGE="0")
    procs = Processes()
    failures = []
    try:
        start_session(procs, env, home)
        demo_env = dict(env, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                        QT_ACCESSIBILITY="1")
        # Read by a demo built with ThreadSanitizer only.
        demo_env["TSAN_OPTIONS"] = "%s suppressions=%s" % (
            re.sub(r"suppressions=\S*", "", demo_env.get("TSAN_OPTIONS", "")),
            os.path.join(os.path.dirname(os.path.abspath(__file__)), "tsan.supp"))
        with open(os.path.join(home, "demo.log"), "wb") as log:
            demo_proc = procs.start([demo], demo_env, stdout=log, stderr=subprocess.STDOUT,
                                    cwd=home)
        failures = check(demo_proc, cli, env, want_dump)
    except Failed as e:
        failures.append(str(e))
    finally:
        try:
            procs.end_all()
        except Failed as e:
            failures.append(str(e))
        failures += sanitizer_reports(os.path.join(home, "demo.log"))
        if failures:
            try:
                with open(os.path.join(home, "demo.log"), "rb") as log:
                    sys.stdout.write("--- demo output ---\n%s\n" % log.read().decode(
                        errors="replace")[-4000:])
            except OSError:
                pass
        shutil.rmtree(home, ignore_errors=True)
    for f in failures:
        print("FAIL: " + f)
    print("%d passed, %d failed" % (ROWS_CHECKED[0] - len(failures), len(failures)))
    return 1 if failures else 0


ROWS_CHECKED = [0]
# What a demo built with a sanitizer writes when it finds a fault.
SANITIZER_REPORTS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                     "WARNING: ThreadSanitizer", "runtime error:")


def sanitizer_reports(log_path):
    ROWS_CHECKED[0] += 1
    try:
        with open(log_path, "rb") as log:
            text = log.read().decode(errors="replace")
    except OSError:
        return []
    found = [r for r in SANITIZER_REPORTS if r in text]
    return ["the demo program's output has %s" % ", ".join(found)] if found else []


def check(demo_proc, cli, env, want_dump):
    # The reader's side: this process on the private buses.
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = env["DBUS_SESSION_BUS_ADDRESS"]
    os.environ["DISPLAY"] = env["DISPLAY"]
    import pyatspi
    until = time.monotonic() + PATIENCE_S

    def window():
        if demo_proc.poll() is not None:
            raise Failed("the demo program ended with status %s" % demo_proc.returncode)
        desktop = pyatspi.Registry.getDesktop(0)
        return find(desktop, lambda n: n.getRoleName() == "frame" and
                    find(n, lambda m: m.name == "Preset 1") is not None)

    main = wait_for("the demo's main window over AT-SPI", window, until)

    def named(name):
        return find(main, lambda n: n.name == name)

    def cli_run(*args):
        r = subprocess.run([cli, "--demo", *args], env=env, capture_output=True, timeout=30)
        if r.returncode != 0:
            raise Failed("qx77zt --demo %s: status %d, %s" % (" ".join(args), r.returncode,
                                                            r.stderr.decode().strip()))

    # Connected: the presets take clicks.
    wait_for("the virtual unit to connect", lambda: named("Preset 1") is not None and
             named("Preset 1").getState().contains(pyatspi.STATE_ENABLED), until)

    failures = []
    level = re.compile(r"^(Left|Right) level -?\d+(\.\d)? dB(, peak -?\d+(\.\d)? dB)?(, over)?$")

    def row(name, role, value=None, checked=None, labelled_by=None, text=None, parent=None,
            node=None):
        ROWS_CHECKED[0] += 1
        n = node if node is not None else named(name)
        if n is None:
            failures.append("%s: not found" % name)
            return None
        problems = []
        if n.getRoleName() != role:
            problems.append("role %r, not %r" % (n.getRoleName(), role))
        if value is not None:
            try:
                v = n.queryValue()
                if not value(v):
                    problems.append("value %s (%s..%s)" % (v.currentValue, v.minimumValue,
                                                           v.maximumValue))
            except NotImplementedError:
                problems.append("no value")
        if text is not None:
            try:
                t = n.queryText().getText(0, -1)
                if not text(t):
                    problems.append("text %r" % t)
            except NotImplementedError:
                problems.append("no text")
        if checked is not None:
            # (Qt tells no "checkable" state over AT-SPI; checked or not is what a reader says.)
            s = n.getState()
            if s.contains(pyatspi.STATE_CHECKED) != checked:
                problems.append("checked" if not checked else "not checked")
        if labelled_by is not None:
            labels = [r.getTarget(i).name for r in n.getRelationSet()
                      if r.getRelationType() == pyatspi.RELATION_LABELLED_BY
                      for i in range(r.getNTargets())]
            if labelled_by not in labels:
                problems.append("labelled by %s, not %r" % (labels, labelled_by))
        if parent is not None:
            p = n.parent
            if p is None or p.name != parent[0] or p.getRoleName() != parent[1]:
                problems.append("in %r (%s), not in %r (%s)" % (
                    p.name if p else None, p.getRoleName() if p else None, *parent))
        if problems:
            failures.append("%s: %s" % (name, "; ".join(problems)))
        return n

    def settled(what, condition):
        ROWS_CHECKED[0] += 1
        try:
            wait_for(what, condition, time.monotonic() + 15)
        except Failed as e:
            failures.append(str(e))

    in_range = lambda v: v.minimumValue == -52 and v.maximumValue == 8 and \
        -52 <= v.currentValue <= 8

    # The unit set from the command line; the window follows, and so does what a reader hears.
    cli_run("set", "preset=3", "dim=+20 dB", "source.left=SDI #5", "source.right=ANALOG R")
    settled("Preset 3 to be checked", lambda: named("Preset 3") is not None and
            named("Preset 3").getState().contains(pyatspi.STATE_CHECKED))
    if want_dump:
        dump(main)

    preset_group = ("Presets", "panel")
    table = [
        # name, role, what else (a list's text is its choice)
        ("Left level", "progress bar", dict(value=in_range, text=lambda t: bool(level.match(t))
                                            and t.startswith("Left level"))),
        ("Right level", "progress bar", dict(value=in_range, text=lambda t: bool(level.match(t))
                                             and t.startswith("Right level"))),
        ("Left source", "combo box", dict(labelled_by="Source", text=lambda t: t == "SDI #5")),
        ("Right source", "combo box", dict(labelled_by="Source",
                                           text=lambda t: t == "ANALOG R")),
        ("Presets", "panel", {}),
        ("Preset 1", "radio button", dict(checked=False, parent=preset_group)),
        ("Preset 2", "radio button", dict(checked=False, parent=preset_group)),
        ("Preset 3", "radio button", dict(checked=True, parent=preset_group)),
        ("Preset 4", "radio button", dict(checked=False, parent=preset_group)),
        ("Dim +20 dB", "push button", dict(checked=True)),
        ("Mute", "push button", dict(checked=False)),
    ]
    for name, role, more in table:
        row(name, role, **more)

    # The dim button's name follows the unit's dim mode.
    for setting, name in (("-20 dB", "Dim -20 dB"), ("off", "Dim off")):
        cli_run("set", "dim=" + setting)
        settled("the dim button to be named %r" % name, lambda: named(name) is not None)
        row(name, "push button", checked=setting != "off")

    # The meters tell a reader of their readings as they change, about once a second.
    counts = count_value_events(pyatspi, main, ("Left level", "Right level"), 4.5)
    for name, count in counts.items():
        ROWS_CHECKED[0] += 1
        if not 2 <= count <= 6:
            failures.append("%s: %d value changes told in 4.5 s, not 2 to 6" % (name, count))
    return failures


def count_value_events(pyatspi, main, names, seconds):
    from gi.repository import GLib
    counts = {n: 0 for n in names}

    def heard(event):
        try:
            name = event.source.name
        except Exception:
            return
        if name in counts:
            counts[name] += 1

    pyatspi.Registry.registerEventListener(heard, "object:property-change:accessible-value")
    # Let the registration reach the program before counting.
    GLib.timeout_add(500, lambda: counts.update({n: 0 for n in names}) or False)
    GLib.timeout_add(int((seconds + 0.5) * 1000), lambda: pyatspi.Registry.stop() or False)
    pyatspi.Registry.start()
    pyatspi.Registry.deregisterEventListener(heard, "object:property-change:accessible-value")
    return counts


if __name__ == "__main__":
    sys.exit(main())
