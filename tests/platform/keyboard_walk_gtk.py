#!/usr/bin/env python3
"""The real window under Xvfb with a window manager and the accessibility bus, walked by keyboard
only through Check, Download, the beta folder dialog and Install. At every step something enabled
has the focus and every control that takes the focus has a name and a role.

usage: keyboard_walk_gtk.py BUILD_DIR   (exit 0: passed, 77: a tool is missing, else failed)
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

BUILD = os.path.abspath(sys.argv[1])
TOOLS = ["Xvfb", "xdpyinfo", "metacity", "dbus-launch", "xdotool"]
if any(shutil.which(t) is None for t in TOOLS):
    print("skipped: needs " + ", ".join(TOOLS))
    sys.exit(77)
try:
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
except (ImportError, ValueError):
    print("skipped: needs python3-gi and gir1.2-atspi-2.0")
    sys.exit(77)

work = tempfile.mkdtemp(prefix="fw-a11y-")
procs = []
failures = []


def start(args, **kw):
    p = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)
    procs.append(p)
    return p


def wait_for(what, test, limit=20.0):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        value = test()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def check(ok, message):
    if not ok:
        failures.append(message)
        print("FAIL: " + message)


def start_display():
    for n in range(140, 240):
        if os.path.exists("/tmp/.X%d-lock" % n):
            continue
        display = ":%d" % n
        x = start(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"])
        for _ in range(100):
            if x.poll() is not None:
                break
            if subprocess.run(["xdpyinfo", "-display", display],
                              capture_output=True).returncode == 0:
                return display
            time.sleep(0.05)
    raise AssertionError("no virtual display")


def key(*keys):
    subprocess.run(["xdotool", "key", "--clearmodifiers", *keys], check=True)
    time.sleep(0.15)


# ---- the accessibility tree ----

INTERACTIVE = {Atspi.Role.PUSH_BUTTON, Atspi.Role.CHECK_BOX, Atspi.Role.TOGGLE_BUTTON,
               Atspi.Role.TEXT, Atspi.Role.ENTRY, Atspi.Role.TREE_TABLE, Atspi.Role.TABLE,
               Atspi.Role.LIST, Atspi.Role.LIST_BOX, Atspi.Role.SCROLL_PANE}
ROWS = {Atspi.Role.TREE_TABLE, Atspi.Role.TABLE, Atspi.Role.TABLE_CELL}


def states(obj):
    return obj.get_state_set()


def walk(obj, found, depth=0):
    """Every showing object under obj; the rows of a list are not walked."""
    try:
        if not states(obj).contains(Atspi.StateType.SHOWING) and depth > 0:
            return
        found.append(obj)
        if obj.get_role() in ROWS:
            return
        for i in range(obj.get_child_count()):
            walk(obj.get_child_at_index(i), found, depth + 1)
    except Exception:  # an object that went away while we looked
        pass


def app_of(pid):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        a = desktop.get_child_at_index(i)
        if a is not None and a.get_process_id() == pid:
            return a
    return None


def windows(app):
    out = []
    for i in range(app.get_child_count()):
        w = app.get_child_at_index(i)
        if w is not None and states(w).contains(Atspi.StateType.SHOWING):
            out.append(w)
    return out


def objects(app):
    found = []
    for w in windows(app):
        walk(w, found)
    return found


def find(app, role, name=None):
    for o in objects(app):
        if o.get_role() == role and (name is None or o.get_name() == name):
            return o
    return None


def focused_with_states(app):
    """The focused control and its states, read in one call (the program runs on meanwhile)."""
    for o in objects(app):
        s = states(o)
        if s.contains(Atspi.StateType.FOCUSED) and o.get_role() not in (
                Atspi.Role.FRAME, Atspi.Role.DIALOG, Atspi.Role.ALERT):
            return o, s
    return None, None


def focused(app):
    return focused_with_states(app)[0]


def assert_step(app, step):
    """Something enabled has the focus; every focusable control has a name and a role."""
    # A walk of the tree is many calls: the focus may move from a control not yet read to one
    # already read. A focus really lost stays lost for longer than a few looks.
    for _ in range(5):
        f, s = focused_with_states(app)
        if f is not None and s.contains(Atspi.StateType.ENABLED):
            break
        time.sleep(0.02)
    check(f is not None, step + ": nothing has the focus")
    if f is not None:
        check(s.contains(Atspi.StateType.ENABLED) and s.contains(Atspi.StateType.SENSITIVE),
              step + ": the focus is on a disabled " + f.get_role_name() + " " + f.get_name())
    for o in objects(app):
        if o.get_role() in INTERACTIVE and states(o).contains(Atspi.StateType.FOCUSABLE):
            check(o.get_name() != "", step + ": an unnamed " + o.get_role_name())
    return f


def name_of(f):
    return f.get_name() if f is not None else "(none)"


def rows(table):
    return Atspi.Table.get_n_rows(table)


# ---- the run ----

def main():
    sample = os.path.join(BUILD, "tools/sample-install/fablewright-sample")
    server = os.path.join(BUILD, "tools/update-server/fablewright-update-server")
    program = os.path.join(BUILD, "app/fablewright-update")
    subprocess.run([sample, "--out", work], check=True, stdout=subprocess.DEVNULL)

    files = os.path.join(work, "server/files")
    faults = []
    for f in os.listdir(files):  # slow enough to watch the focus during the download
        faults += ["--fault", "/files/%s:rate=400000" % f]
    port_file = os.path.join(work, "port")
    start([server, "--root", os.path.join(work, "server"), "--port", "0", "--port-file",
           port_file, *faults])
    port = wait_for("the server", lambda: open(port_file).read().strip()
                    if os.path.exists(port_file) else "")

    display = start_display()
    env = dict(os.environ, DISPLAY=display, GTK_A11Y="atk",
               FABLEWRIGHT_REGISTRY=os.path.join(work, "registry.reg"))
    env.pop("NO_AT_BRIDGE", None)
    bus = subprocess.run(["dbus-launch", "--sh-syntax"], env=env, check=True,
                         capture_output=True, text=True).stdout
    for line in bus.splitlines():
        if "=" in line and line.startswith("DBUS_SESSION_BUS_"):
            name, value = line.rstrip(";").split("=", 1)
            env[name] = value.strip("'")
    bus_pid = int(env["DBUS_SESSION_BUS_PID"])
    os.environ.update(env)
    start(["metacity", "--sm-disable", "--compositor=none"], env=env)
    time.sleep(0.5)
    app_proc = start([program, "-server", "127.0.0.1:" + port, "-infoserver",
                      "127.0.0.1:" + port], env=env)
    try:
        walk_through(app_proc)
    finally:
        for p in reversed(procs):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
        for p in procs:
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
        try:
            os.kill(bus_pid, signal.SIGTERM)
        except ProcessLookupError:
            pass


def walk_through(app_proc):
    # The program starts the accessibility bus; asked before that, the library stays without it.
    wait_for("the window", lambda: subprocess.run(
        ["xdotool", "search", "--name", "^Fablewright Update Downloader$"],
        capture_output=True).returncode == 0)
    app = wait_for("the window on the accessibility bus", lambda: app_of(app_proc.pid))
    wait_for("the main window", lambda: find(app, Atspi.Role.DIALOG,
                                                          "Fablewright Update Downloader"))
    wait_for("the first focus", lambda: focused(app))
    # Keys go to the window with the input focus: under load the window manager may hand it
    # over after the toolkit already reports a focused control.
    wait_for("the window to be active", lambda: subprocess.run(
        ["xdotool", "getactivewindow", "getwindowname"], capture_output=True,
        text=True).stdout.strip() == "Fablewright Update Downloader")
    f = assert_step(app, "start")
    check(name_of(f) == "Check", "start: the focus is on " + name_of(f))

    # One label per control: the list is named by its label and described by the instructions.
    table = find(app, Atspi.Role.TABLE)
    check(table is not None and table.get_name() == "Available Updates",
          "the list is named " + repr(table.get_name() if table else None))
    if table is not None:
        labels = [rel for rel in table.get_relation_set()
                  if rel.get_relation_type() == Atspi.RelationType.LABELLED_BY]
        check(len(labels) == 1 and labels[0].get_n_targets() == 1,
              "the list has %d labelled-by targets" % sum(r.get_n_targets() for r in labels))
        check("Step 1" in table.get_description(), "the list's description: " +
              repr(table.get_description()))
    for name in ("Current file progress", "Whole download progress"):
        check(find(app, Atspi.Role.PROGRESS_BAR, name) is not None, "no progress bar " + name)
    status = [o for o in objects(app) if o.get_role() == Atspi.Role.LABEL and
              o.get_attributes().get("container-live") == "polite"]
    check(len(status) == 2, "%d live texts (the instructions and the status)" % len(status))

    # A Yes/No box: focus on a named button, no unnamed Tab stop, Escape answers No.
    key("Escape")
    wait_for("the Yes/No box", lambda: find(app, Atspi.Role.ALERT))
    f = assert_step(app, "Yes/No box")
    check(name_of(f) in ("Yes", "No"), "the box's focus is on " + name_of(f))
    key("Escape")
    wait_for("Escape to answer the box", lambda: find(app, Atspi.Role.ALERT) is None, 5)

    # About through the window menu (F10).
    key("F10")
    item = wait_for("the window menu", lambda: find(app, Atspi.Role.MENU_ITEM))
    check(states(item).contains(Atspi.StateType.SELECTED) or
          states(item).contains(Atspi.StateType.FOCUSED), "the menu's first item is not selected")
    key("Return")
    wait_for("the About box", lambda: find(app, Atspi.Role.DIALOG, "About Fablewright Update "
                                           "Downloader"))
    assert_step(app, "About")
    key("Return")
    wait_for("About to close", lambda: find(app, Atspi.Role.DIALOG, "About Fablewright "
                                            "Update Downloader") is None, 5)

    # The beta channel, then Check.
    key("alt+b")
    key("alt+c")
    wait_for("the list", lambda: rows(table) > 0)
    wait_for("Download to have the focus", lambda: name_of(focused(app)) == "Download")
    assert_step(app, "checked")
    check("Step 2" in table.get_description(), "the list's description did not follow the "
          "instructions: " + repr(table.get_description()))

    # Delete leaves the selected template out, as a double click does.
    key("alt+a")
    before = rows(table)
    check(name_of(focused(app)) == "Available Updates", "Alt+A focuses " + name_of(focused(app)))
    key("Down")
    key("Delete")
    wait_for("Delete to leave a template out", lambda: rows(table) == before - 1, 5)
    check(rows(table) > 0, "the sample offers too few templates")

    # Download: the focus stays on something enabled, and reaches Cancel.
    key("Tab")
    check(name_of(focused(app)) == "Download", "Tab from the list reaches " +
          name_of(focused(app)))
    key("Return")
    seen = set()
    end = time.monotonic() + 60
    while time.monotonic() < end:
        f = assert_step(app, "downloading")
        seen.add(name_of(f))
        if name_of(f) == "Install":
            break
        time.sleep(0.1)
    check("Cancel" in seen, "the focus never reached Cancel during the download: %s" % seen)
    check(name_of(focused(app)) == "Install", "after the download the focus is on " +
          name_of(focused(app)))

    # Install: the beta folder dialog comes first.
    key("alt+i")
    beta = wait_for("the beta folder dialog", lambda: find(
        app, Atspi.Role.DIALOG, "Select Beta Installation Directory"))
    check("release version" in beta.get_description(), "the beta dialog's description: " +
          repr(beta.get_description()))
    f = wait_for("the beta dialog's focus", lambda: focused(app))
    assert_step(app, "beta folder")
    check(f.get_role() == Atspi.Role.TEXT and f.get_name().startswith("Select the directory"),
          "the beta dialog's focus is on a %s named %r" % (f.get_role_name(), f.get_name()))
    key("Return")
    end = time.monotonic() + 60
    while time.monotonic() < end:
        f = assert_step(app, "installing")
        if name_of(f) == "Install" and rows(table) < before - 1:
            break
        time.sleep(0.1)
    while rows(table) > 0 and time.monotonic() < end:
        if name_of(focused(app)) == "Install":
            key("alt+i")
        assert_step(app, "installing")
        time.sleep(0.2)
    wait_for("the last install", lambda: name_of(focused(app)) == "Exit", 10)
    assert_step(app, "complete")
    key("alt+x")
    wait_for("the program to end", lambda: app_proc.poll() is not None, 10)


try:
    main()
except AssertionError as e:
    failures.append(str(e))
    print("FAIL: " + str(e))
finally:
    shutil.rmtree(work, ignore_errors=True)
print("%d failures" % len(failures))
sys.exit(1 if failures else 0)
