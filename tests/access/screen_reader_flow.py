#!/usr/bin/python3
"""The whole ringtone flow as a screen reader drives it.

Starts the real program (a copy of the build's module folder, settings and
work folder of its own) with a song, as the file-manager entry does, and the
demo service on loopback, then uses the accessibility bus alone: it finds
controls by role and name and presses them through their actions, never a
synthetic key or click. WebKit offers no editable text for a page's fields
(a person types into them), so the profile comes from the settings of an
earlier run, and the test reads it back from the fields. On the way it
checks that

  - every control it meets (in the main window, the About dialog, the file
    chooser) has a name, and page dialogs' names carry no stray blanks;
  - a press that opens a window of the program (a page dialog, the file
    chooser) is answered while the window is open;
  - the making and the sending are announced as they go (a live region's
    text changes), a failed send too (the service is down for the first).

The names it looks for come from NAMES, one table per language; the run
takes the table of the language in LANG (a language without a table is
skipped, with a reason).

  screen_reader_flow.py BUILD_DIR

Run it in a D-Bus session of its own under an X display (ctest does:
dbus-run-session, under xvfb-run); it starts the accessibility bus itself.
Exit status 0: passed, 1: failed, 77: skipped.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

SKIP = 77

try:
    import gi

    gi.require_version("Atspi", "2.0")
    from gi.repository import Gio, GLib
    import pyatspi
except (ImportError, ValueError) as e:
    print(f"SKIP: no pyatspi for this Python ({e}): install python3-pyatspi")
    sys.exit(SKIP)

# What a person hears, by language. Keys are this test's own names.
NAMES = {
    "en": {
        "main": "Zimbrel - The Ringtone Creator",
        "about": "About",
        "about_dialog": "About Zimbrel",
        "about_ok": "OK",
        "choose_file": "Choose a file\u2026",
        "chooser": "Select audio file to use on mobile phone as ringtone",
        "chooser_cancel": "Cancel",
        "choose_cd": "Choose a CD track\u2026",
        "cd_step": "Choose a CD track",
        "back": "Back",
        "make": "Make ringtone",
        "part_step": "Choose the part that rings",
        "part": "The part that rings",
        "part_words": " seconds",
        "ready": "Your ringtone is ready",
        "making_steps": [
            "Converting the song to a phone ringtone (MP3)\u2026",
            "Removing old volume information\u2026",
            "Measuring and adjusting the loudness\u2026",
            "Giving it a clear ringing volume\u2026",
        ],
        "continue": "Continue",
        "your_name": "Your name",
        "phone": "Mobile phone number",
        "network": "Mobile network",
        "send": "Send ringtone",
        "sending_steps": ["Contacting the ringtone service\u2026", "Sending the ringtone\u2026"],
        "not_sent": "The ringtone was not sent",
        "try_again": "Try again",
        "sent_title": "Ringtone delivered",
        "script_box": "Zimbrel",
        "question_box": "Question",
        "ok": "OK",
        "yes": "Yes",
    },
    # From the pages' German catalogue (res/i18n/de.js) and po/de.po.
    "de": {
        "main": "Zimbrel - Klingelt\u00f6ne selbst gemacht",
        "about": "\u00dcber",
        "about_dialog": "\u00dcber Zimbrel",
        "about_ok": "OK",
        "choose_file": "Datei w\u00e4hlen\u2026",
        "chooser": "Audiodatei als Klingelton f\u00fcr Ihr Handy w\u00e4hlen",
        "chooser_cancel": "Abbrechen",
        "choose_cd": "CD-Titel w\u00e4hlen\u2026",
        "cd_step": "CD-Titel w\u00e4hlen",
        "back": "Zur\u00fcck",
        "make": "Klingelton erstellen",
        "part_step": "W\u00e4hlen Sie den Abschnitt, der klingelt",
        "part": "Der Abschnitt, der klingelt",
        "part_words": " Sekunden",
        "ready": "Ihr Klingelton ist fertig",
        "making_steps": [
            "Das Lied wird in einen Handy-Klingelton (MP3) umgewandelt\u2026",
            "Alte Lautst\u00e4rkeangaben entfernen\u2026",
            "Lautst\u00e4rke messen und anpassen\u2026",
            "Eine deutliche Klingellautst\u00e4rke einstellen\u2026",
        ],
        "continue": "Weiter",
        "your_name": "Ihr Name",
        "phone": "Handynummer",
        "network": "Mobilfunkanbieter",
        "send": "Klingelton senden",
        "sending_steps": [
            "Verbindung zum Klingelton-Dienst wird aufgebaut\u2026",
            "Der Klingelton wird gesendet\u2026",
        ],
        "not_sent": "Der Klingelton wurde nicht gesendet",
        "try_again": "Erneut versuchen",
        "sent_title": "Klingelton \u00fcbertragen",
        "script_box": "Zimbrel",
        "question_box": "Frage",
        "ok": "OK",
        "yes": "Ja",
    },
}

# Roles a person operates; each must have a name.
CONTROL_ROLES = {
    pyatspi.ROLE_PUSH_BUTTON,
    pyatspi.ROLE_TOGGLE_BUTTON,
    pyatspi.ROLE_CHECK_BOX,
    pyatspi.ROLE_RADIO_BUTTON,
    pyatspi.ROLE_ENTRY,
    pyatspi.ROLE_PASSWORD_TEXT,
    pyatspi.ROLE_SPIN_BUTTON,
    pyatspi.ROLE_COMBO_BOX,
    pyatspi.ROLE_SLIDER,
    pyatspi.ROLE_PROGRESS_BAR,
    pyatspi.ROLE_LINK,
    pyatspi.ROLE_MENU_ITEM,
    pyatspi.ROLE_PAGE_TAB,
    pyatspi.ROLE_DIALOG,
    pyatspi.ROLE_FRAME,
    pyatspi.ROLE_ALERT,
    pyatspi.ROLE_FILE_CHOOSER,
}

# Roles whose text a screen reader reads out as it changes (WebKit gives
# role="status" the status bar's role, role="alert" the notification's).
LIVE_ROLES = {pyatspi.ROLE_STATUS_BAR, pyatspi.ROLE_ALERT, pyatspi.ROLE_NOTIFICATION}

# A start page that opens a message box of each kind (after its click has
# been answered) and says how it was answered.
BOX_PAGE = {
    "selectSong.html": "<!doctype html><html><head><meta charset=utf-8>"
    "<title>Zimbrel - The Ringtone Creator</title></head><body>"
    "<button id=a>Alert</button><button id=q>Question</button><p id=r></p>"
    "<script src=boxes.js></script></body></html>",
    "boxes.js": """var r = document.getElementById("r");
document.getElementById("a").addEventListener("click", function () {
  setTimeout(function () { alert("The song is ready."); r.textContent = "alert done"; }, 0);
});
document.getElementById("q").addEventListener("click", function () {
  setTimeout(function () {
    r.textContent = "answer " + window.external.ZBL_MessageBox("Send it now?", 4 | 0x20);
  }, 0);
});
""",
}

PROFILE = {"your_name": "Ann Example", "phone": "+447700900123", "network": "Tellwave"}

failures = []


def fail(what):
    failures.append(what)
    print("FAIL:", what, flush=True)


def pump(seconds=0.0):
    """Lets the accessibility events in for a while."""
    end = time.monotonic() + seconds
    ctx = GLib.MainContext.default()
    while True:
        while ctx.iteration(False):
            pass
        if time.monotonic() >= end:
            return
        time.sleep(0.05)


def wait_for(pred, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            value = pred()
        except Exception:  # an object that went away while we looked
            value = None
        if value:
            return value
        pump(0.2)
    raise TimeoutError(what)


def states(acc):
    try:
        return acc.getState()
    except Exception:
        return None


def showing(acc):
    s = states(acc)
    return s is not None and s.contains(pyatspi.STATE_SHOWING)


def walk(acc, depth=0):
    """The objects below acc (acc included), depth first. (Pages leave what
    they hide out of the tree; GTK keeps closed menus in it.)"""
    if acc is None or depth > 60:
        return
    yield acc
    try:
        children = list(acc)
    except Exception:
        return
    for child in children:
        if child is not None:
            yield from walk(child, depth + 1)


def find(root, role, name=None, exact=True):
    for acc in walk(root):
        try:
            if acc.getRole() != role:
                continue
            n = acc.name or ""
        except Exception:
            continue
        if name is None or (n == name if exact else name in n):
            return acc
    return None


def text_of(acc):
    try:
        t = acc.queryText()
        return t.getText(0, t.characterCount)
    except Exception:
        return ""


def ancestry(acc):
    """Where an object is, for a failure's message."""
    path = []
    acc = acc.parent
    while acc is not None and len(path) < 4:
        path.append(f"{acc.getRoleName()} {acc.name!r}")
        acc = acc.parent
    return " < ".join(path)


def value_text(acc):
    """What a screen reader says of a slider's value (aria-valuetext, which
    WebKit gives as the attribute "valuetext")."""
    try:
        attrs = acc.getAttributes() or []
    except Exception:
        return ""
    return next((a[len("valuetext:"):] for a in attrs if a.startswith("valuetext:")), "")


def check_names(root, where, seen):
    """Every control below root has a name; each one is told once."""
    for acc in walk(root):
        try:
            role = acc.getRole()
            name = (acc.name or "").strip()
            key = (role, acc.name, where)
        except Exception:
            continue
        if role not in CONTROL_ROLES or key in seen or not showing(acc):
            continue
        seen.add(key)
        if not name:
            fail(f"{where}: a {acc.getRoleName()} without a name, in {ancestry(acc)}")
        elif name != acc.name:
            fail(f"{where}: the {acc.getRoleName()} {acc.name!r} has blanks round its name")


def press(acc, what):
    """Does the first action of acc (press, click, activate). The action is
    answered before anything it opens is closed: a press that waits for the
    window it opened is never answered (the bus's time-out ends it)."""
    try:
        ok = acc.queryAction().doAction(0)
    except Exception as e:
        fail(f"pressing {what} was never answered: {e}")
        return
    if not ok:
        fail(f"pressing {what}: the action was refused")


def application(name_part, timeout):
    desktop = pyatspi.Registry.getDesktop(0)

    def look():
        # The desktop's list of applications as it is now, not as cached
        # before the program joined the bus.
        desktop.clear_cache()
        for app in desktop:
            if app is None:
                continue
            for win in app:
                if win is not None and name_part == (win.name or ""):
                    return app
        return None

    return wait_for(look, timeout, f"no application with a window {name_part!r}")


def window(app, name, timeout):
    def look():
        for win in app:
            if win is not None and (win.name or "").strip() == name:
                return win
        return None

    return wait_for(look, timeout, f"no window {name!r}")


def gone(app, name):
    for win in app:
        if win is not None and (win.name or "").strip() == name:
            return False
    return True


class Announcements:
    """What a screen reader would read out by itself: text put into a live
    region (role status or alert, or aria-live) and progress values."""

    def __init__(self):
        self.heard = []
        pyatspi.Registry.registerEventListener(
            self.on_event,
            "object:text-changed:insert",
            "object:children-changed:add",
            "object:property-change:accessible-value",
            "object:value-changed",
        )

    @staticmethod
    def live(acc):
        for _ in range(6):
            if acc is None:
                return False
            try:
                if acc.getRole() in LIVE_ROLES:
                    return True
                attrs = acc.getAttributes() or []
            except Exception:
                return False
            if any(a.startswith(("live:", "container-live:")) and not a.endswith(":off") for a in attrs):
                return True
            acc = acc.parent
        return False

    def on_event(self, event):
        try:
            src = event.source
            if event.type.startswith("object:text-changed"):
                if self.live(src) and isinstance(event.any_data, str) and event.any_data.strip():
                    self.heard.append(("text", event.any_data.strip()))
            elif event.type.startswith("object:children-changed"):
                child = event.any_data
                if child is not None and self.live(child):
                    said = (text_of(child) or child.name or "").strip()
                    if said:
                        self.heard.append(("text", said))
            elif src.getRole() == pyatspi.ROLE_PROGRESS_BAR:
                self.heard.append(("value", src.queryValue().currentValue))
        except Exception:
            pass

    def mark(self):
        return len(self.heard)

    def since(self, mark):
        return self.heard[mark:]


def start_service(build, data, port=0):
    proc = subprocess.Popen(
        [os.path.join(build, "bin", "zimbrel-service"), "--port", str(port), data],
        stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL,
        text=True,
    )
    line = proc.stdout.readline()
    at = line.find("http://127.0.0.1:")
    if at < 0:
        proc.kill()
        raise RuntimeError(f"the service did not start: {line!r}")
    port = int(line[at + len("http://127.0.0.1:") :].split("/")[0])
    return proc, port


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    build = os.path.abspath(sys.argv[1])
    lang = (os.environ.get("LANG") or "en").split("_")[0].split(".")[0] or "en"
    if lang == "C":
        lang = "en"
    names = NAMES.get(lang)
    if not names:
        print(f"SKIP: no names for the language {lang!r} yet")
        return SKIP
    if not os.environ.get("DISPLAY"):
        print("SKIP: no X display")
        return SKIP

    work = tempfile.mkdtemp(prefix="zimbrel-access-")
    procs = []
    main_win = None
    try:
        home = os.path.join(work, "Zimbrel Home")
        os.makedirs(home)
        shutil.copy2(os.path.join(build, "zimbrel"), home)
        shutil.copytree(os.path.join(build, "extensions"), os.path.join(home, "extensions"))
        shutil.copytree(os.path.join(build, "res"), os.path.join(home, "res"), symlinks=True)
        os.makedirs(os.path.join(home, "res", "tmp"), exist_ok=True)
        # The native strings' catalogues, found beside the program.
        if os.path.isdir(os.path.join(build, "locale")):
            shutil.copytree(os.path.join(build, "locale"), os.path.join(home, "locale"))
        song = os.path.join(work, "My Song.wav")
        subprocess.run(
            ["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
             "sine=frequency=440:sample_rate=44100:duration=20", "-ac", "2", song],
            check=True,
        )
        data = os.path.join(work, "service")
        os.makedirs(data)
        service, port = start_service(build, data)
        procs.append(service)
        # The person's details, kept from an earlier run.
        key = os.path.join(work, "registry", "HKEY_CURRENT_USER", "Software", "Zimbrel")
        os.makedirs(key)
        for value, label in (("ZBName", "your_name"), ("ZBPhone", "phone"), ("ZBNetwork", "network")):
            with open(os.path.join(key, value), "wb") as f:
                f.write(b"\x03\x00\x00\x00" + PROFILE[label].encode())  # binary: the bytes as they are

        # The accessibility bus of this session (the program's bridge and
        # pyatspi meet there).
        bus = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
        procs.append(bus)
        session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        wait_for(lambda: session.call_sync(
            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
            GLib.Variant("(s)", ("org.a11y.Bus",)), None, Gio.DBusCallFlags.NONE, 5000, None)[0],
            30, "the accessibility bus never started")

        env = dict(os.environ)
        env.update({
            "ZIMBREL_REGISTRY_DIR": os.path.join(work, "registry"),
            "XDG_CACHE_HOME": os.path.join(work, "cache"),
            "WEBKIT_DISABLE_COMPOSITING_MODE": "1",
            "GSK_RENDERER": "cairo",
            "NO_AT_BRIDGE": "0",
            "GTK_MODULES": "",
            "ZIMBREL_SERVICE_HOST": f"127.0.0.1:{port}",
        })
        out = open(os.path.join(work, "program.txt"), "w")
        program = subprocess.Popen([os.path.join(home, "zimbrel"), song], env=env,
                                   stdout=out, stderr=subprocess.STDOUT)
        procs.append(program)
        heard = Announcements()

        app = application(names["main"], 60)
        main_win = window(app, names["main"], 10)
        seen = set()
        make = wait_for(lambda: find(main_win, pyatspi.ROLE_PUSH_BUTTON, names["make"]), 60,
                        "no Make ringtone button")
        wait_for(lambda: states(make).contains(pyatspi.STATE_ENABLED), 30,
                 "Make ringtone never became available (the song was not taken)")
        check_names(main_win, "the song step", seen)

        # A page dialog: the press is answered while the dialog is open, its
        # name has no blanks round it, its controls have names.
        press(find(main_win, pyatspi.ROLE_PUSH_BUTTON, names["about"]), "About")
        about = window(app, names["about_dialog"], 30)
        if about.name != names["about_dialog"]:
            fail(f"the About dialog is named {about.name!r}")
        ok = wait_for(lambda: find(about, pyatspi.ROLE_PUSH_BUTTON, names["about_ok"]), 30,
                      "no OK in the About dialog")
        check_names(about, "the About dialog", seen)
        press(ok, "OK in the About dialog")
        wait_for(lambda: gone(app, names["about_dialog"]), 30, "the About dialog stays open")

        # The file chooser: reachable, named, and closed again with Cancel.
        press(find(main_win, pyatspi.ROLE_PUSH_BUTTON, names["choose_file"]), "Choose a file")
        chooser = window(app, names["chooser"], 30)
        check_names(chooser, "the file chooser", seen)
        cancel = find(chooser, pyatspi.ROLE_PUSH_BUTTON, names["chooser_cancel"])
        if cancel is None:
            fail("the file chooser has no Cancel button")
        else:
            press(cancel, "Cancel in the file chooser")
        wait_for(lambda: gone(app, names["chooser"]), 30, "the file chooser stays open")

        # The CD step (no drive here): named, and Back returns.
        press(find(main_win, pyatspi.ROLE_PUSH_BUTTON, names["choose_cd"]), "Choose a CD track")
        wait_for(lambda: find(main_win, pyatspi.ROLE_HEADING, names["cd_step"]), 30,
                 "the CD step never showed")
        check_names(main_win, "the CD step", seen)
        press(find(main_win, pyatspi.ROLE_PUSH_BUTTON, names["back"]), "Back")
        make = wait_for(lambda: find(main_win, pyatspi.ROLE_PUSH_BUTTON, names["make"]), 30,
                        "Back did not return to the song")

        # The part that rings: a slider that says which part in words.
        press(make, "Make ringtone")
        wait_for(lambda: find(main_win, pyatspi.ROLE_HEADING, names["part_step"]), 30,
                 "the part step never showed")
        part = wait_for(lambda: find(main_win, pyatspi.ROLE_SLIDER, names["part"]), 60,
                        "no slider for the part that rings")
        said = wait_for(lambda: value_text(part), 60, "the part's slider says nothing")
        print(f"the part's slider says {said!r}", flush=True)
        if not names["part_words"] in said:
            fail(f"the part's slider says {said!r}, not the part in words")
        check_names(main_win, "the part step", seen)
        make = wait_for(lambda: find(main_win, pyatspi.ROLE_PUSH_BUTTON, names["make"]), 30,
                        "no Make ringtone on the part step")

        # Making: announced while it runs.
        mark = heard.mark()
        press(make, "Make ringtone (the part)")
        wait_for(lambda: find(main_win, pyatspi.ROLE_HEADING, names["ready"]), 120,
                 "the ringtone was never ready")
        pump(0.5)
        making = [t for kind, t in heard.since(mark) if kind == "text"]
        if not set(making) & set(names["making_steps"]):
            fail(f"the making was not announced: heard {heard.since(mark)}")
        check_names(main_win, "the ready step", seen)

        # The profile, filled in from the settings (WebKit offers no
        # editable text for a page's fields: a person types into them with
        # the keyboard). The screen reader reads each field's name and text.
        press(find(main_win, pyatspi.ROLE_PUSH_BUTTON, names["continue"]), "Continue")
        wait_for(lambda: find(main_win, pyatspi.ROLE_ENTRY, names["your_name"]), 30,
                 "no name field")
        check_names(main_win, "the profile step", seen)
        for label, value in PROFILE.items():
            box = find(main_win, pyatspi.ROLE_ENTRY, names[label])
            if box is None:
                fail(f"no field {names[label]!r}")
            elif text_of(box) != value:
                fail(f"the field {names[label]!r} reads {text_of(box)!r}, not {value!r}")
        press(find(main_win, pyatspi.ROLE_PUSH_BUTTON, names["continue"]), "Continue")

        # The service is down for the first send: the failure is announced.
        send = wait_for(lambda: find(main_win, pyatspi.ROLE_PUSH_BUTTON, names["send"]), 30,
                        "no Send ringtone button")
        check_names(main_win, "the send step", seen)
        service.terminate()
        service.wait()
        mark = heard.mark()
        press(send, "Send ringtone")
        wait_for(lambda: find(main_win, pyatspi.ROLE_HEADING, names["not_sent"]), 60,
                 "the send never failed")
        pump(0.5)
        if not any(kind == "text" and names["not_sent"] in t for kind, t in heard.since(mark)):
            fail(f"the failed send was not announced: heard {heard.since(mark)}")
        check_names(main_win, "the failed send", seen)
        service, _ = start_service(build, data, port)
        procs.append(service)

        # Sent again: announced as it goes, and the result too.
        mark = heard.mark()
        press(find(main_win, pyatspi.ROLE_PUSH_BUTTON, names["try_again"]), "Try again")
        wait_for(lambda: find(main_win, pyatspi.ROLE_HEADING, names["sent_title"]), 60,
                 "the ringtone was never sent")
        pump(0.5)
        sending = heard.since(mark)
        if not any(kind == "text" and t in names["sending_steps"] for kind, t in sending):
            fail(f"the sending was not announced: heard {sending}")
        if not any(kind == "text" and names["sent_title"] in t for kind, t in sending):
            fail(f"the result was not announced: heard {sending}")
        check_names(main_win, "the done step", seen)
        phones = os.path.join(data, "phones", "447700900123")
        delivered = [f for f in os.listdir(phones) if not f.startswith(".")] if os.path.isdir(phones) else []
        if len(delivered) != 1:
            fail(f"the service holds {len(delivered)} ringtones for the phone")
        print(f"controls met: {len(seen)}; heard: {heard.heard}", flush=True)

        # Message boxes: a page's alert() and a question of the program, each
        # named without blanks and answered through its buttons.
        program.terminate()
        program.wait()
        for name, text in BOX_PAGE.items():
            with open(os.path.join(home, "res", name), "w") as f:
                f.write(text)
        program = subprocess.Popen([os.path.join(home, "zimbrel")], env=env, stdout=out,
                                   stderr=subprocess.STDOUT)
        procs.append(program)
        main_win = None
        app = wait_for(lambda: next((a for a in pyatspi.Registry.getDesktop(0)
                                     if a is not None and any(
                                         w is not None and find(w, pyatspi.ROLE_PUSH_BUTTON, "Question")
                                         for w in a)), None), 60, "the boxes' page never showed")
        main_win = window(app, names["main"], 10)
        for opener, box_name, answer, said in (("Alert", names["script_box"], names["ok"], "alert done"),
                                               ("Question", names["question_box"], names["yes"], "answer 6")):
            press(find(main_win, pyatspi.ROLE_PUSH_BUTTON, opener), opener)
            box = window(app, box_name, 30)
            named = box.name
            if named != box_name:
                fail(f"the box {opener} opens is named {named!r}")
            check_names(box, f"the box {opener} opens", seen)
            button = find(box, pyatspi.ROLE_PUSH_BUTTON, answer)
            if button is None:
                fail(f"the box {opener} opens has no {answer!r}")
                continue
            press(button, f"{answer} in the box {opener} opens")
            wait_for(lambda: find(main_win, pyatspi.ROLE_PARAGRAPH, None) and any(
                text_of(a) == said for a in walk(main_win)), 30, f"the page never heard {said!r}")
            print(f"{opener}: {named!r} answered, the page says {said!r}", flush=True)
    except Exception as e:  # a step that could not go on
        fail(f"{type(e).__name__}: {e}\n{traceback.format_exc()}")
        if main_win is not None:
            print("The window shows:", flush=True)
            for acc in walk(main_win):
                try:
                    if acc.getRole() in (pyatspi.ROLE_HEADING, pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_PARAGRAPH) or acc.getRole() in LIVE_ROLES:
                        print(f"  {acc.getRoleName()} {acc.name!r} {text_of(acc)!r}", flush=True)
                except Exception:
                    pass
    finally:
        for p in reversed(procs):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        if failures:
            try:
                with open(os.path.join(work, "program.txt")) as f:
                    print(f.read()[-4000:])
            except OSError:
                pass
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
