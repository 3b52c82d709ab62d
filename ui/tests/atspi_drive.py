#!/usr/bin/python3
"""Drives the real window from outside, as a screen reader or a test robot does.

The program runs on the simulated track under its own X server (Xvfb) with a private
D-Bus session and accessibility bus. This script finds every control through AT-SPI
by its role and accessible name, never by position: it opens the sample locomotive
file through the file dialog, reads all CVs, writes one CV through the CV box, sets a
speed table bar by its accessible value and applies the table, and checks the sheet
through its text interface. Then it ends the program with "ENDE" and checks what the
simulated decoder holds.

Commands that open a modal dialog or wait for the track do not return to the caller
until they end, so each menu command is set off by a short-lived child process while
this one goes on asking.

The outer run (no --inside) is what a test calls: it starts Xvfb, runs itself inside
dbus-run-session, and cleans up every process it started, whatever happens. Usage:

    atspi_drive.py --program build/ui/qarn2 --examples examples
"""

import argparse
import ctypes
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

APP_NAME = "qarn2"
# How long a menu command may run before the child that set it off gives up waiting.
COMMAND_TIMEOUT_MS = 30000
# The simulated decoder's values that differ from the sample file: after "Alle CVs"
# the sheet must show these, not the file's.
SIM_CV3 = 9
WRITTEN_CV3 = 5
BAR_CV = 75
BAR_VALUE = 123


def sim_curve(step):
    """Entry `step` (1..28) of the simulated decoder's speed table."""
    return 4 + 9 * (step - 1)


# --- The outer run: X server, session bus, clean-up. -------------------------------

PR_SET_CHILD_SUBREAPER = 36


def become_subreaper():
    """Orphans of our run (the bus daemons and the accessibility services they start)
    become our children, so we can reap them and end any that stay."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


def start_xvfb(log):
    """Starts an X server on a free display; returns it and the display's name."""
    read_end, write_end = os.pipe()
    # -noreset: an X server resets when its last client leaves, and refuses connections
    # meanwhile; the accessibility services come and go before the program connects.
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-noreset", "-screen", "0", "1024x768x24"],
        pass_fds=(write_end,), stdout=log, stderr=log, start_new_session=True)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 10
    with os.fdopen(read_end, "rb", buffering=0) as pipe:
        # The server writes the number once it takes connections.
        while not number.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([pipe], [], [], remaining)[0]:
                break
            chunk = pipe.read(16)
            if not chunk:
                break
            number += chunk
    if not number.strip().isdigit():
        stop_group(xvfb)
        raise RuntimeError("Xvfb did not start")
    return xvfb, ":" + number.decode().strip()


def stop_group(process, grace=3.0):
    """Asks `process` and the process group it leads (we made it its leader) to end,
    and ends it if it does not. What of the group outlives it is handed down to us
    and ended by reap_orphans."""
    try:
        os.killpg(process.pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    try:
        process.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()


def our_children():
    me = os.getpid()
    children = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == me:
            children.append((int(entry), fields[0]))
    return children


def reap_orphans(grace=5.0, limit=15.0):
    """Waits for the processes handed down to us; those still running after `grace`
    seconds are ended, and what they leave behind after a short while. Gives up after
    `limit` seconds (a service that keeps starting another is not waited for without
    end). Returns the names of the ones that had to be ended."""
    deadline = time.monotonic() + grace
    give_up = time.monotonic() + limit
    ended = []
    while time.monotonic() < give_up:
        try:
            while os.waitpid(-1, os.WNOHANG)[0] > 0:
                pass
        except ChildProcessError:
            return ended
        running = [(pid, state) for pid, state in our_children() if state != "Z"]
        if not running and not our_children():
            return ended
        if time.monotonic() > deadline:
            for pid, _ in running:
                try:
                    with open(f"/proc/{pid}/comm") as comm:
                        ended.append(comm.read().strip())
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass
            deadline = time.monotonic() + 0.5
        time.sleep(0.05)
    return ended


def outside(args):
    started = time.monotonic()
    become_subreaper()
    # Ended from outside (a time limit, Ctrl-C), we still clean up.
    for ending in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(ending, lambda number, _: sys.exit(128 + number))
    workdir = tempfile.mkdtemp(prefix="qarn2-atspi-")
    runtime = os.path.join(workdir, "runtime")
    os.mkdir(runtime, 0o700)
    services_log = os.path.join(workdir, "services.log")
    status = 1
    xvfb = inner = None
    try:
        with open(services_log, "wb") as log:
            xvfb, display = start_xvfb(log)
            env = {k: v for k, v in os.environ.items()
                   if k not in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY")}
            env.update(DISPLAY=display, XDG_RUNTIME_DIR=runtime, PYTHONDONTWRITEBYTECODE="1")
            report = os.dup(sys.stdout.fileno())
            print(f"X server {display}, session bus and accessibility bus of our own", flush=True)
            inner = subprocess.Popen(
                ["dbus-run-session", "--", sys.executable, os.path.abspath(__file__), "--inside",
                 "--report-fd", str(report), "--program", args.program, "--examples", args.examples,
                 "--workdir", workdir],
                env=env, pass_fds=(report,), stdout=log, stderr=log, start_new_session=True)
            os.close(report)
            try:
                status = inner.wait(timeout=args.timeout)
            except subprocess.TimeoutExpired:
                print(f"FAILED: no end after {args.timeout:g} s", flush=True)
        if status != 0:
            with open(services_log, errors="replace") as log:
                tail = log.read()[-3000:]
            if tail.strip():
                print("--- bus and X server messages ---\n" + tail, flush=True)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
        status = 130
    except Exception as error:  # noqa: BLE001 - reported, then cleaned up
        print(f"FAILED: {error}", flush=True)
        status = 1
    finally:
        for ending in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(ending, signal.SIG_IGN)  # the clean-up is not cut short
        if inner is not None:
            stop_group(inner)
        if xvfb is not None:
            stop_group(xvfb)
        leftovers = reap_orphans()
        if leftovers:
            # The checks are done; the services that outlived the session are ended
            # and said, but they are no fault of the program.
            print(f"ended left-over processes: {', '.join(sorted(set(leftovers)))} ({len(leftovers)})", flush=True)
        shutil.rmtree(workdir, ignore_errors=True)
        print(f"AT-SPI run took {time.monotonic() - started:.1f} s; no processes left", flush=True)
    return status


# --- The inner run: the program, driven through AT-SPI. ----------------------------

class Failure(Exception):
    pass


def wait_for(what, condition, timeout=10.0):
    """Polls `condition` (handling AT-SPI events meanwhile) until it gives a true
    value, which is returned; fails after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        pump_events()
        try:
            value = condition()
            if value:
                return value
        except Exception as error:  # noqa: BLE001 - objects come and go while we ask
            last_error = error
        if time.monotonic() > deadline:
            detail = f" ({last_error})" if last_error else ""
            raise Failure(f"timed out waiting for {what}{detail}")
        time.sleep(0.05)


def pump_events():
    from gi.repository import GLib
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def fresh(accessible):
    """The object with nothing of it cached: names and states change as the program runs."""
    accessible.clear_cache()
    return accessible


def name_of(accessible):
    return fresh(accessible).name


def showing(accessible):
    import pyatspi
    return fresh(accessible).getState().contains(pyatspi.STATE_SHOWING)


def descendants(root):
    fresh(root)
    yield root
    for i in range(root.childCount):
        child = root.getChildAtIndex(i)
        if child is not None:
            yield from descendants(child)


def find(root, role, name=None, description=None, visible=False):
    for accessible in descendants(root):
        if accessible.getRoleName() != role:
            continue
        if name is not None and accessible.name != name:
            continue
        if description is not None and accessible.description != description:
            continue
        if visible and not showing(accessible):
            continue
        return accessible
    return None


def find_app():
    import pyatspi
    desktop = pyatspi.Registry.getDesktop(0)
    fresh(desktop)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == APP_NAME:
            return app
    return None


def follow(app, path):
    """The control at the end of `path`, a list of (role, name) pairs each found below
    the one before."""
    here = app
    for role, name in path:
        found = find(here, role, name)
        if found is None:
            raise Failure(f"no {role} '{name}' below '{here.name}'")
        here = found
    return here


def press_in_child(path):
    """Chooses the control at `path` from a child process: the call returns only when
    the program's command has ended, and we go on asking meanwhile."""
    return subprocess.Popen([sys.executable, os.path.abspath(__file__), "--press", json.dumps(path)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def press(accessible):
    action = accessible.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    for wanted in ("Press", "Toggle"):
        if wanted in names:
            action.doAction(names.index(wanted))
            return
    raise Failure(f"'{accessible.name}' offers no press ({names})")


def child_press(path_json):
    """The child's part of press_in_child: returns when the command has ended."""
    import pyatspi  # noqa: F401 - connects to the accessibility bus
    from gi.repository import Atspi
    Atspi.set_timeout(COMMAND_TIMEOUT_MS, COMMAND_TIMEOUT_MS)
    app = find_app()
    if app is None:
        print(f"no {APP_NAME} on the accessibility bus", file=sys.stderr)
        return 2
    try:
        press(follow(app, json.loads(path_json)))
    except Failure as failure:
        print(failure, file=sys.stderr)
        return 3
    return 0


def type_keys(text):
    """Types `text` and Enter as the keyboard does, through the accessibility bus's
    device event controller (XTest on this X server)."""
    import pyatspi
    for char in text:
        pyatspi.Registry.generateKeyboardEvent(ord(char), None, pyatspi.KEY_SYM)
    pyatspi.Registry.generateKeyboardEvent(0xFF0D, None, pyatspi.KEY_SYM)  # Return


def sheet_lines(sheet):
    text = fresh(sheet).queryText()
    return text.getText(0, -1).split("\n")


CV_LINE = re.compile(r"^(\d+)\s+(\d+|\?)(?:\s|$)")


def sheet_values(lines):
    values = {}
    for line in lines:
        match = CV_LINE.match(line)
        if match:
            values[int(match.group(1))] = match.group(2)
    return values


def make_files(examples, workdir):
    """The sample file as the user opens it, and the simulated decoder: the sample's
    values, with CV 3 and the speed table changed."""
    sample = os.path.join(examples, "lokdecoder.LOC")
    opened = os.path.join(workdir, "lokdecoder.LOC")
    shutil.copyfile(sample, opened)
    with open(sample, "rb") as source:
        lines = source.read().split(b"\r\n")
    decoder_lines = []
    for line in lines:
        match = re.match(rb"^(\d+)(\s+)(\d+)(.*)$", line)
        if match:
            cv = int(match.group(1))
            value = SIM_CV3 if cv == 3 else sim_curve(cv - 66) if 67 <= cv <= 94 else int(match.group(3))
            line = b"%d %5d%s" % (cv, value, match.group(4))
        decoder_lines.append(line)
    decoder = os.path.join(workdir, "decoder-on-track.LOC")
    with open(decoder, "wb") as target:
        target.write(b"\r\n".join(decoder_lines))
    return opened, decoder


class Run:
    def __init__(self, args, report):
        self.args = args
        self.out = report
        self.passed = 0
        self.children = []
        self.events = []
        self.started = time.monotonic()
        self.window = None
        self.log_path = os.path.join(args.workdir, "qarn2.log")

    def say(self, text):
        print(text, file=self.out, flush=True)

    def step(self, title, body):
        begun = time.monotonic()
        body()
        self.passed += 1
        self.say(f"  ok  {title}  ({time.monotonic() - begun:.1f} s)")

    def on_event(self, event):
        try:
            self.events.append((event.type, event.source.getRoleName(), event.source.name,
                                event.source.description))
        except Exception:  # noqa: BLE001 - the source may be gone already
            pass

    def announced(self, description):
        """Whether a change of description to `description` reached us as an event."""
        return any(kind.startswith("object:property-change:accessible-description") and text == description
                   for kind, _, _, text in self.events)

    # --- The steps.

    def start(self):
        import pyatspi
        self.opened, self.decoder_file = make_files(self.args.examples, self.args.workdir)
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1",
                   QT_QPA_PLATFORM="xcb")
        with open(self.log_path, "wb") as log:
            self.window = subprocess.Popen(
                [self.args.program, "--simulate", "--sim-decoder", self.decoder_file],
                cwd=self.args.workdir, env=env, stdout=log, stderr=log)
        pyatspi.Registry.registerEventListener(
            self.on_event, "object:property-change:accessible-description",
            "object:property-change:accessible-name")

        def ready():
            app = find_app()
            frame = app and find(app, "frame")
            return frame if frame is not None and frame.name.startswith("QARN2") and find(frame, "text") else None
        self.frame = wait_for("the window on the accessibility bus", ready, 20)
        self.app = find_app()
        self.sheet = find(self.frame, "text", "Decoderblatt")
        if self.sheet is None:
            raise Failure("no text 'Decoderblatt' (the sheet is called "
                          f"'{find(self.frame, 'text').name}')")
        self.mode = find(self.frame, "label", description="Programmier- Mode")
        if self.mode is None or self.mode.name != "dir":
            raise Failure("no label described as 'Programmier- Mode' that reads 'dir'")
        self.say(f"  window: '{self.frame.name}', sheet '{self.sheet.name}', mode line '{self.mode.name}'")

    def focus(self, control):
        """Clicks into `control` where the screen shows it, as the user does to type
        there: the click also makes the window the one that takes the keys (this X
        server has no window manager to do that)."""
        import pyatspi
        if not (fresh(control).getState().contains(pyatspi.STATE_FOCUSED)
                and fresh(self.frame).getState().contains(pyatspi.STATE_ACTIVE)):
            box = control.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            pyatspi.Registry.generateMouseEvent(box.x + box.width // 2, box.y + box.height // 2, "b1c")
        wait_for(f"the focus in '{control.name}'",
                 lambda: fresh(control).getState().contains(pyatspi.STATE_FOCUSED)
                 and fresh(self.frame).getState().contains(pyatspi.STATE_ACTIVE))

    def choose(self, menu, item):
        """A menu command, set off from a child process, which ends with the command."""
        return self.set_off([["menu item", menu], ["menu item", item]])

    def set_off(self, path):
        child = press_in_child(path)
        self.children.append(child)
        return child

    def ended(self, child, what, timeout=10.0):
        """Waits for the command that `child` set off to end."""
        wait_for(f"{what} to end", lambda: child.poll() is not None, timeout)
        if child.returncode != 0:
            raise Failure(f"{what}: {child.stderr.read().decode(errors='replace').strip()}")

    def open_file(self):
        command = self.choose("Datei", "Decoderdatei \u00f6ffnen")

        def dialog():
            fresh(self.app)
            for i in range(self.app.childCount):
                child = self.app.getChildAtIndex(i)
                if child is not None and child.getRoleName() == "dialog" and showing(child):
                    return child
            return None
        box = wait_for("the file dialog", dialog)
        field = find(box, "text", "Dateiname:")
        if field is None:
            raise Failure("the file dialog has no field 'Dateiname:'")
        title = box.name
        field.queryEditableText().setTextContents(self.opened)
        press(find(box, "push button", "\u00d6ffnen"))
        self.ended(command, "opening the file")
        if not any(line.startswith("Lokdecoder Beispiel") for line in sheet_lines(self.sheet)):
            raise Failure("the sample is not in the sheet")
        self.say(f"  opened {os.path.basename(self.opened)} through the dialog '{title}' (field 'Dateiname:', "
                 f"button '\u00d6ffnen'): {len(sheet_lines(self.sheet))} lines in the sheet; "
                 f"title '{name_of(self.frame)}'")

    def choose_hardware(self, caption):
        self.ended(self.choose("Konfiguration", "Prog. Hardware"), "the hardware panel")
        button = find(self.frame, "radio button", caption, visible=True)
        if button is None:
            raise Failure(f"no '{caption}' in the hardware panel")
        # The choice waits 400 ms before it takes effect; the LGB interface is greeted.
        self.ended(self.set_off([["radio button", caption]]), f"the choice '{caption}'")
        if showing(button) or not name_of(self.frame).startswith("QARN2"):
            raise Failure(f"after '{caption}' the title reads '{self.frame.name}'")

    def read_all(self):
        # The simulated LGB interface answers each CV at once; the board would scan it bit
        # by bit in real time (a second per CV).
        self.choose_hardware("LGB-Interface")
        self.ended(self.choose("CV auslesen", "Alle CVs"), "reading all CVs", 20)
        self.result = find(self.frame, "label", description="Ergebnis", visible=True)
        outcome = name_of(self.result)
        if outcome != "0 Fehler beim Auslesen":
            raise Failure(f"result line: '{outcome}'")
        values = sheet_values(sheet_lines(self.sheet))
        expected = {3: str(SIM_CV3), **{cv: str(sim_curve(cv - 66)) for cv in range(67, 95)}}
        wrong = {cv: values.get(cv) for cv, value in expected.items() if values.get(cv) != value}
        if wrong or "?" in values.values():
            raise Failure(f"sheet after reading: {wrong or values}")
        wait_for("the announcement of the count", lambda: self.announced(outcome))
        self.say(f"  read {len(values)} CVs through the LGB interface: '{outcome}' (announced); "
                 f"CV 3 = {values[3]}, CV 67..94 = {values[67]} .. {values[94]}")

    def write_cv(self):
        self.choose_hardware("QARN/ Tesmora")
        self.ended(self.choose("CV Schreiben", "Einzelne CV"), "opening the CV box")
        entry = find(self.frame, "text", "CV-Nummer", visible=True)
        if entry is None or name_of(self.result) != "":
            raise Failure(f"no empty CV box (result line '{self.result.name}')")
        self.focus(entry)
        type_keys("3")
        wait_for("the value step", lambda: name_of(entry) == "CV-Wert")
        type_keys(str(WRITTEN_CV3))
        confirmed = f"CV Nr 3={WRITTEN_CV3} best\u00e4tigt"
        wait_for("the confirmation", lambda: name_of(self.result).strip() == confirmed)
        wait_for("the entry back at the CV step", lambda: name_of(entry) == "CV-Nummer")
        if fresh(entry).description != confirmed:
            raise Failure(f"the entry is described as '{entry.description}'")
        wait_for("the announcement of the outcome", lambda: self.announced(confirmed))
        self.say(f"  typed 3 and {WRITTEN_CV3} into the entry (named 'CV-Nummer', then 'CV-Wert'): "
                 f"'{confirmed}' (announced)")

    def speed_table(self):
        self.ended(self.choose("Bearbeiten", "Kennlinie"), "opening the speed table")
        first = find(self.frame, "slider", "CV 67", visible=True)
        last = find(self.frame, "slider", "CV 94")
        bar = find(self.frame, "slider", f"CV {BAR_CV}")
        if None in (first, last, bar):
            raise Failure(f"no sliders 'CV 67', 'CV {BAR_CV}', 'CV 94' shown")
        read = [fresh(b).queryValue().currentValue for b in (first, bar, last)]
        if read != [sim_curve(1), sim_curve(BAR_CV - 66), sim_curve(28)]:
            raise Failure(f"bars CV 67, {BAR_CV}, 94 read {read}")
        value = bar.queryValue()
        if (value.minimumValue, value.maximumValue) != (0, 255):
            raise Failure(f"bar range {value.minimumValue}..{value.maximumValue}")
        value.currentValue = BAR_VALUE
        shown = find(self.frame, "label", description="zuletzt ber\u00fchrte Stufe")
        wait_for("the value line", lambda: name_of(shown) == f"CV {BAR_CV}= {BAR_VALUE}")
        if fresh(bar).queryValue().currentValue != BAR_VALUE:
            raise Failure("the bar does not read the value set")
        press(find(self.frame, "push button", "\u00fcbernehmen"))
        wait_for("the editor to close", lambda: not showing(first))
        line = f"{BAR_CV}  {BAR_VALUE} Kennlinie Stufe {BAR_CV - 66}"
        wait_for(f"the line '{line}'", lambda: line in sheet_lines(self.sheet))
        self.say(f"  bars read {read[0]:g}, {read[1]:g}, {read[2]:g} (CV 67, {BAR_CV}, 94); set 'CV {BAR_CV}' to "
                 f"{BAR_VALUE}: '{shown.name}'; after \u00fcbernehmen the sheet has '{line}'")

    def check_sheet(self):
        lines = sheet_lines(self.sheet)
        values = sheet_values(lines)
        expected = {cv: str(sim_curve(cv - 66)) for cv in range(67, 95)}
        expected.update({3: str(SIM_CV3), BAR_CV: str(BAR_VALUE)})
        wrong = {cv: values.get(cv) for cv, value in expected.items() if values.get(cv) != value}
        if wrong:
            raise Failure(f"sheet lines differ: {wrong}")
        if lines[0] != "*dir" or not lines[1].startswith("Lokdecoder Beispiel"):
            raise Failure(f"sheet begins {lines[:2]}")
        self.say(f"  the sheet read through its text interface: {len(lines)} lines, {len(values)} CV lines, "
                 f"e.g. '{lines[4]}', '{lines[12]}'")

    def turnout_caption(self):
        self.ended(self.choose("Ausprobieren", "Weichendecoder"), "opening the turnout try-out")
        box = find(self.frame, "panel", "Weiche 3", visible=True)
        entry = find(self.frame, "text", "Weichennummer", visible=True)
        if box is None or entry is None:
            raise Failure("no turnout box 'Weiche 3' with its entry 'Weichennummer'")
        self.focus(entry)
        fresh(entry).queryEditableText().setTextContents("")
        type_keys("12")
        wait_for("the caption 'Weiche 12'", lambda: name_of(box) == "Weiche 12")
        press(find(self.frame, "push button", "Ende", visible=True))
        wait_for("the try-out to close", lambda: not showing(box))
        self.say("  turnout box read 'Weiche 3', then 'Weiche 12' after typing 12 into 'Weichennummer'")

    def connection_diagram(self):
        self.ended(self.choose("Info", "Anschl\u00fcsse"), "showing the connections")
        picture = find(self.frame, "image", "Anschlussplan", visible=True)
        if picture is None:
            raise Failure("no picture 'Anschlussplan'")
        if "DTR" not in picture.description or "R\u00fcckmeldung" not in picture.description:
            raise Failure(f"diagram described as '{picture.description}'")
        press(picture)
        wait_for("the sheet back", lambda: not showing(picture) and showing(self.sheet))
        self.say(f"  'Anschlussplan' ({picture.getRoleName()}): '{picture.description[:60]}...'; Press closed it")

    def end(self):
        command = self.choose("Datei", "ENDE")
        # The program goes away before it answers the child, whose call then fails.
        self.children.remove(command)
        try:
            status = self.window.wait(timeout=10)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end") from None
        finally:
            try:
                command.communicate(timeout=5)
            except subprocess.TimeoutExpired:
                command.kill()
                command.communicate()
        if status != 0:
            raise Failure(f"the program ended with status {status}")
        with open(self.decoder_file, "rb") as decoder:
            values = sheet_values(decoder.read().decode("cp1252").split("\r\n"))
        if values.get(3) != str(WRITTEN_CV3):
            raise Failure(f"the simulated decoder holds CV 3 = {values.get(3)}")
        self.say(f"  ENDE: the program ended (status 0); the simulated decoder holds CV 3 = {values[3]}")

    def show_what_is_shown(self):
        """What a failed step left on the screen, as the accessibility bus tells it."""
        app = find_app() if self.window is not None and self.window.poll() is None else None
        if app is None:
            return
        self.say("--- shown now ---")
        try:
            for accessible in descendants(app):
                if showing(accessible) and accessible.getRoleName() not in ("filler", "table cell", "list item"):
                    self.say(f"  {accessible.getRoleName()} '{accessible.name}' {accessible.description[:40]!r}")
        except Exception as error:  # noqa: BLE001
            self.say(f"  ({error})")

    def finish_children(self):
        failed = []
        for child in self.children:
            try:
                _, error = child.communicate(timeout=5)
                if child.returncode != 0:
                    failed.append(error.decode(errors="replace").strip() or f"status {child.returncode}")
            except subprocess.TimeoutExpired:
                child.kill()
                child.communicate()
                failed.append("a menu command did not return")
        return failed

    def stop_window(self):
        if self.window is not None and self.window.poll() is None:
            self.window.terminate()
            try:
                self.window.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.window.kill()
                self.window.wait()


def inside(args):
    report = os.fdopen(args.report_fd, "w", buffering=1)
    sys.stderr = report
    run = Run(args, report)
    steps = [
        ("start: the window on the simulated track", run.start),
        ("open the sample file through the modal file dialog", run.open_file),
        ("read all CVs", run.read_all),
        ("write one CV through the CV box", run.write_cv),
        ("speed table: set a bar by its accessible value, apply", run.speed_table),
        ("the sheet's lines", run.check_sheet),
        ("turnout box caption", run.turnout_caption),
        ("connection diagram", run.connection_diagram),
        ("end", run.end),
    ]
    failed = 0
    try:
        for title, body in steps:
            try:
                run.step(title, body)
            except Exception as error:  # noqa: BLE001 - one failure ends the run
                failed = 1
                run.say(f"  FAILED  {title}: {error}")
                run.show_what_is_shown()
                break
    finally:
        run.stop_window()
        for problem in run.finish_children():
            run.say(f"  FAILED  a menu command: {problem}")
            failed = 1
    if failed:
        with open(run.log_path, errors="replace") as log:
            tail = log.read()[-2000:]
        if tail.strip():
            run.say("--- the program's messages ---\n" + tail)
    run.say(f"the program's run took {time.monotonic() - run.started:.1f} s")
    run.say(f"AT-SPI: {run.passed} passed, {failed} failed")
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", help="the built qarn2")
    parser.add_argument("--examples", help="the folder of the sample decoder files")
    parser.add_argument("--timeout", type=float, default=120, help="seconds for the whole run")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--report-fd", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--workdir", help=argparse.SUPPRESS)
    parser.add_argument("--press", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.press:
        return child_press(args.press)
    if not args.program or not args.examples:
        parser.error("--program and --examples are needed")
    args.program = os.path.abspath(args.program)
    args.examples = os.path.abspath(args.examples)
    if not args.inside:
        return outside(args)
    status = inside(args)
    # Everything of ours has ended; pyatspi's exit hooks would still talk to buses that
    # are about to go.
    sys.stdout.flush()
    os._exit(status)


if __name__ == "__main__":
    sys.exit(main())
