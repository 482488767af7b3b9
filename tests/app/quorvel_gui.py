#!/usr/bin/env python3
"""The Windows program's dialog under Wine, used as a user uses it.

Starts quorvel.exe interactively in the demo installation, on an X server of its own
(Xvfb) inside a Wine virtual desktop, takes a screenshot of the dialog, clicks "数据迁移"
with the mouse (xdotool), waits for the box "数据迁移成功！", checks the migrated databases,
opens the About box, and quits with "退出". Then the same on a client with a long chat
history, whose migration takes several seconds: while it runs the dialog must answer
within a second, keep its buttons disabled, show the progress in its caption and outlive
every way of closing it; afterwards the box comes, and the program ends by itself.
Windows are found and read with win_probe.exe, which runs in the same desktop.

    quorvel_gui.py --wine-run cmake/wine-run.sh --prefix DIR --quorvel quorvel.exe
                   --probe win_probe.exe --dbrtool dbrtool.exe --client vennic.exe
                   --source REPO --work DIR [--screenshot FILE]

Screenshots go to --work; --screenshot (or the environment variable
QUORVEL_GUI_SCREENSHOT) also copies the dialog's picture to FILE, and its picture during
the long migration beside it (FILE without .png, then -migrating.png).
"""
import argparse
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from demo_databases import connect, make_demo_databases, make_history_databases, query


TITLE = "Vennic数据迁移程序"
ABOUT_TITLE = "关于 Quorvel"
SUCCEEDED = "数据迁移成功！"
CLOSE_AFTER_RUN = "迁移结束后退出"
# The long migration: chat tables and their messages. About ten seconds under Wine.
HISTORY_TABLES = 800
HISTORY_ROWS = 400
DESKTOP = "800x600"
# Where the client is usually installed; inside the prefix, so that Windows sees it there.
WINDOWS_FOLDER = "C:\\Program Files\\Vennic"
WM_CLOSE = 0x0010
WM_SYSCOMMAND = 0x0112
IDM_ABOUTBOX = 0x0010
# The first start in a new prefix builds Wine's font cache: up to half a minute.
START_TIMEOUT = 180
STEP_TIMEOUT = 60

OPTIONS = None
started = time.monotonic()


def step(text):
    print(f"[{time.monotonic() - started:5.1f} s] {text}", flush=True)


class Failure(Exception):
    pass


class Session:
    """An X server, a Wine desktop on it, and the program under test."""

    def __init__(self):
        self.xvfb = None
        self.program = None
        self.env = None

    def start_x(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + STEP_TIMEOUT
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], max(0, deadline - time.monotonic()))
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                raise Failure("Xvfb did not start")
            number += chunk
        os.close(read_end)
        self.env = dict(os.environ, DISPLAY=":" + number.decode().strip(),
                        QUORVEL_WINE_DESKTOP=DESKTOP)
        step(f"Xvfb on display {self.env['DISPLAY']}")

    def wine(self, *arguments, timeout=STEP_TIMEOUT, check=True):
        """Runs a Windows program in the desktop; returns its standard output."""
        # Into files, not pipes: a program that is the first to need the desktop starts
        # Wine's desktop process, which inherits its output and would keep a pipe open
        # for as long as the desktop lives.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run([OPTIONS.wine_run, OPTIONS.prefix, *arguments],
                                    env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            stdout, stderr = out.read(), err.read()
        if check and result.returncode != 0:
            raise Failure(f"{' '.join(arguments)}: exit {result.returncode}\n"
                          f"{stderr.decode('utf-8', 'replace')}")
        return stdout.decode("utf-8")

    def probe(self, *arguments, timeout=STEP_TIMEOUT):
        """Runs win_probe; the window it found, as a dictionary."""
        out = self.wine(OPTIONS.probe, *arguments, str(timeout), timeout=timeout + 30)
        return json.loads(out) if out.strip() else None

    def wait_until(self, condition, what, timeout=STEP_TIMEOUT):
        """Reads the main dialog until `condition` holds for it; returns it."""
        deadline = time.monotonic() + timeout
        while True:
            dialog = self.probe("wait", TITLE)
            if condition(dialog):
                return dialog
            if time.monotonic() > deadline:
                raise Failure(f"{what}: not after {timeout} s: {dialog}")
            time.sleep(0.2)

    def x(self, *arguments):
        return subprocess.run(arguments, env=self.env, check=True, capture_output=True,
                              timeout=STEP_TIMEOUT).stdout.decode()

    def desktop_window(self):
        return self.x("xdotool", "search", "--sync", "--onlyvisible", "--name",
                      "Wine desktop").split()[0]

    def desktop_origin(self):
        """Where the Wine desktop's top left corner is on the X screen."""
        window = self.desktop_window()
        geometry = dict(line.split("=", 1)
                        for line in self.x("xdotool", "getwindowgeometry", "--shell",
                                           window).split())
        return int(geometry["X"]), int(geometry["Y"])

    def activate(self, dialog):
        """Makes the dialog active, as a user sees it after clicking into it. With no window
        manager the X server gives Wine the keyboard only when asked, and the dialog shows
        itself active once it has been clicked after something else."""
        self.x("xdotool", "windowfocus", "--sync", self.desktop_window())
        self.click({"rect": [700, 500, 700, 500]})  # the desktop's background
        left, top, right, bottom = dialog["window"]["rect"]
        self.click({"rect": [left + 100, top + 4, left + 100, top + 4]})  # the caption
        time.sleep(0.5)

    def click(self, control):
        """Clicks the middle of a control with the mouse."""
        left, top, right, bottom = control["rect"]
        ox, oy = self.desktop_origin()
        x, y = ox + (left + right) // 2, oy + (top + bottom) // 2
        self.x("xdotool", "mousemove", "--sync", str(x), str(y), "click", "1")

    def screenshot(self, name, window=None):
        """The screen, or one window of it, as a PNG file in the work folder."""
        path = os.path.join(OPTIONS.work, name)
        command = ["import", "-window", "root"]
        if window:
            left, top, right, bottom = window["rect"]
            ox, oy = self.desktop_origin()
            command += ["-crop", f"{right - left}x{bottom - top}+{ox + left}+{oy + top}",
                        "+repage"]
        self.x(*command, path)
        return path

    def close(self):
        """Ends whatever is left: the program, Wine's processes, the X server."""
        wine_env = dict(self.env or os.environ, WINEPREFIX=OPTIONS.prefix)
        if self.program and self.program.poll() is None:
            subprocess.run(["wineserver", "-k"], env=wine_env, check=False)
            self.program.wait(timeout=STEP_TIMEOUT)
        # Wine's processes must be gone before their X server is, or the next run stalls.
        try:
            subprocess.run(["wineserver", "-w"], env=wine_env, check=False, timeout=STEP_TIMEOUT)
        except subprocess.TimeoutExpired:
            subprocess.run(["wineserver", "-k"], env=wine_env, check=False)
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()


def control(window, *, id=None, text=None, cls=None):
    for c in window["controls"]:
        if ((id is None or c["id"] == id) and (text is None or c["text"] == text)
                and (cls is None or c["class"].lower() == cls.lower())):
            return c
    raise Failure(f"no control id={id} text={text!r} class={cls} in {window}")


def make_installation(folder):
    shutil.copy(OPTIONS.quorvel, os.path.join(folder, "quorvel.exe"))
    shutil.copy(OPTIONS.client, os.path.join(folder, "vennic.exe"))
    demo = os.path.join(OPTIONS.source, "examples", "demo")
    shutil.copy(os.path.join(demo, "upgrade.dbr"), folder)
    # The same script elsewhere, for the file dialog to pick.
    os.makedirs(os.path.join(folder, "scripts"))
    shutil.copy(os.path.join(demo, "upgrade.dbr"), os.path.join(folder, "scripts"))
    make_demo_databases(demo, folder)


def version(path):
    return query(path, "SELECT F_TABLEVERSION FROM TVERSION WHERE F_TABLENAME='TMAIN'")


def expect(condition, message):
    if not condition:
        raise Failure(message)


def run(session, folder):
    program = os.path.join(folder, "quorvel.exe")
    session.program = subprocess.Popen([OPTIONS.wine_run, OPTIONS.prefix, program],
                                       env=session.env, stdin=subprocess.DEVNULL)
    step("quorvel.exe started")

    dialog = session.probe("wait", TITLE, timeout=START_TIMEOUT)
    step("dialog shown")
    windows_folder = WINDOWS_FOLDER
    script_path = windows_folder + "\\upgrade.dbr"
    expect(control(dialog, id=1007)["text"] == "8.1.0", "client version")
    expect(control(dialog, id=1008)["text"] == "2105", "client sub-version")
    expect(control(dialog, id=1010)["text"] == "未知的版本", "script version before a run")
    expect(control(dialog, id=1004)["text"].lower() == script_path.lower(),
           f"script path: {control(dialog, id=1004)['text']}")
    expect(not control(dialog, id=1004)["enabled"], "the path edit starts locked")
    expect(version(os.path.join(folder, "DB.s3db")) == [("8.0.0.3",)], "untouched before the click")

    session.activate(dialog)
    picture = session.screenshot("dialog.png", dialog["window"])
    step(f"screenshot {picture}")

    # "重选" unlocks browsing; the file dialog starts in the installation folder and is
    # titled with it, so a relative name picks a script below it. Only the picked file's
    # name counts for the migration.
    session.click(control(dialog, id=1005, text="重选"))
    dialog = session.wait_until(lambda d: control(d, id=1004)["enabled"]
                                and control(d, id=1006)["enabled"], "重选 unlocks")
    session.click(control(dialog, id=1006, text="...."))
    browse = session.probe("wait", windows_folder)
    session.screenshot("browse.png", browse["window"])
    session.x("xdotool", "type", "--delay", "20", "scripts\\upgrade.dbr")
    session.x("xdotool", "key", "Return")
    session.probe("gone", windows_folder)
    picked = windows_folder + "\\scripts\\upgrade.dbr"
    dialog = session.wait_until(
        lambda d: control(d, id=1004)["text"].lower() == picked.lower(), "the picked path")
    step("重选 and .... picked a script below the installation folder")

    session.click(control(dialog, id=1, text="数据迁移"))
    step("clicked 数据迁移")
    box = session.probe("wait-text", SUCCEEDED, timeout=STEP_TIMEOUT)
    step(f"result box \"{box['window']['text']}\": {SUCCEEDED}")
    expect(box["window"]["owner"] == dialog["window"]["handle"], "the box belongs to the dialog")
    session.screenshot("screen-result.png")
    db = os.path.join(folder, "DB.s3db")
    chat = os.path.join(folder, "data", "chat", "chat.s3db")
    expect(version(db) == [("8.1.0.1",)], f"DB.s3db at {version(db)}")
    expect(version(chat) == [("8.1.0.1",)], f"chat.s3db at {version(chat)}")
    expect(query(db, "SELECT count(*) FROM TCONTACT") == [(240,)], "contacts kept")
    expect(query(chat, "SELECT count(*) FROM TMESSAGE") == [(300,)], "messages kept")
    expect(version(os.path.join(folder, "settings.s3db")) == [("8.1.0.1",)], "settings untouched")
    leftovers = [name for _, _, files in os.walk(folder) for name in files
                 if name.endswith((".tmp", ".bak"))]
    expect(not leftovers, f"set-aside files left: {leftovers}")

    session.click(control(box, cls="Button"))
    session.probe("gone", box["window"]["text"])
    dialog = session.wait_until(lambda d: control(d, id=1010)["text"] == "2105",
                                "the script version line shows the sub-version")
    step("result box closed")

    # The About entry is the system menu's last (Wine adds its own above it).
    session.x("xdotool", "key", "alt+space")
    time.sleep(0.3)
    session.x("xdotool", "key", "Up", "Return")
    about = session.probe("wait", ABOUT_TITLE)
    texts = [c["text"] for c in about["controls"]]
    expect("Quorvel 1.0 版" in texts and "确定" in texts, f"About box: {texts}")
    session.screenshot("about.png", about["window"])
    session.click(control(about, id=1))
    session.probe("gone", ABOUT_TITLE)
    step("About box from the system menu shown and closed")

    session.click(control(dialog, id=2, text="退出"))
    code = session.program.wait(timeout=STEP_TIMEOUT)
    expect(code == 0, f"exit status {code}")
    step("退出: the program ended with 0")


class Watcher:
    """win_probe watching the dialog from its own process: its looks, as they come."""

    def __init__(self, session, dialog):
        self.samples = []
        self.ended = None
        self.lock = threading.Lock()
        self.process = subprocess.Popen(
            [OPTIONS.wine_run, OPTIONS.prefix, OPTIONS.probe, "watch",
             f"#{dialog['window']['handle']}", SUCCEEDED, "300"],
            env=session.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        for line in self.process.stdout:
            record = json.loads(line)
            with self.lock:
                if "ended" in record:
                    self.ended = record["ended"]
                else:
                    self.samples.append(record)

    def count(self):
        with self.lock:
            return len(self.samples)

    def wait_for(self, condition, what, timeout=STEP_TIMEOUT, after=0):
        """Waits for a look, after the first `after` ones, for which `condition` holds;
        fails at once when the dialog did not answer."""
        deadline = time.monotonic() + timeout
        seen = after
        while True:
            reading = self.thread.is_alive()
            with self.lock:
                fresh = self.samples[seen:]
                seen = len(self.samples)
            for sample in fresh:
                if not sample["answered"] or sample["hung"]:
                    raise Failure(f"the dialog did not answer within a second: {sample}")
                if condition(sample):
                    return sample
            if not reading or time.monotonic() > deadline:
                raise Failure(f"{what}: not seen ({'after' if reading else 'before the end of'}"
                              f" watching, {timeout} s)")
            time.sleep(0.1)

    def finish(self, timeout):
        self.process.wait(timeout=timeout)
        self.thread.join(timeout=STEP_TIMEOUT)
        return self.samples, self.ended


def running(sample):
    """Whether the look saw a migration running, its controls included: the caption showed
    progress both before and after the controls were read."""
    return (sample.get("caption") not in (None, TITLE)
            and sample.get("caption_after") not in (None, TITLE))


def run_long_migration(session, folder):
    program = os.path.join(folder, "quorvel.exe")
    session.program = subprocess.Popen([OPTIONS.wine_run, OPTIONS.prefix, program],
                                       env=session.env, stdin=subprocess.DEVNULL)
    dialog = session.probe("wait", TITLE)
    step("quorvel.exe started on the long history")
    session.activate(dialog)
    watcher = Watcher(session, dialog)
    watcher.wait_for(lambda s: True, "win_probe watching", timeout=START_TIMEOUT)

    session.click(control(dialog, id=1, text="数据迁移"))
    started = time.monotonic()
    step("clicked 数据迁移")
    sample = watcher.wait_for(lambda s: running(s) and "表 " in s["caption"],
                              "a table's progress in the caption")
    step(f"caption: {sample['caption']}")
    session.screenshot("dialog-migrating.png", dialog["window"])

    # Every way a user closes a window, and a close request from outside. The first one
    # shows in the caption; none ends the process.
    left, top, right, bottom = dialog["window"]["rect"]
    requests = [
        ("Escape", lambda: session.x("xdotool", "key", "Escape")),
        ("退出", lambda: session.click(control(dialog, id=2, text="退出"))),
        ("Alt+F4", lambda: session.x("xdotool", "key", "alt+F4")),
        ("the close box", lambda: session.click({"rect": [right - 12, top + 12,
                                                          right - 12, top + 12]})),
        ("WM_CLOSE", lambda: session.wine(OPTIONS.probe, "post", f"#{dialog['window']['handle']}",
                                          str(WM_CLOSE), "0", "0")),
    ]
    for name, request in requests:
        request()
        if name == "Escape":
            watcher.wait_for(lambda s: running(s) and s["caption"].startswith(CLOSE_AFTER_RUN),
                             "Escape held until the end", timeout=10)
        time.sleep(0.3)
        expect(session.program.poll() is None, f"{name} ended the program during the migration")
    sample = watcher.wait_for(lambda s: True, "a look after the close requests",
                              after=watcher.count())
    expect(running(sample), "the migration ended before every close request was made "
                            f"({time.monotonic() - started:.1f} s): make HISTORY_TABLES larger")
    step(f"Escape, 退出, Alt+F4, the close box and WM_CLOSE held: {sample['caption']}")

    samples, ended = watcher.finish(timeout=300)
    expect(ended, "win_probe saw no result box")
    expect(all(s["answered"] and not s["hung"] for s in samples),
           f"the dialog did not answer within a second: "
           f"{[s for s in samples if not s['answered'] or s['hung']][:3]}")
    busy = [s for s in samples if running(s)]
    span = (busy[-1]["ms"] - busy[0]["ms"]) / 1000
    expect(span >= 2, f"the migration showed for {span:.1f} s only: make HISTORY_TABLES larger")
    wrong = [s for s in busy if s["enabled"].get("1") or s["enabled"].get("1005")
             or s["enabled"].get("1006") or not s["enabled"].get("2")]
    expect(not wrong, f"buttons while migrating: {wrong[:3]}")
    changes = sum(1 for a, b in zip(busy, busy[1:]) if a["caption"] != b["caption"])
    expect(changes >= 2, f"the progress changed {changes} times")
    step(f"{len(samples)} looks over {span:.1f} s of migration: every one answered within a "
         f"second, the buttons disabled, {changes} changes of the caption")

    box = session.probe("wait-text", SUCCEEDED)
    expect(box["window"]["owner"] == dialog["window"]["handle"], "the box belongs to the dialog")
    session.screenshot("screen-result-long.png")
    session.click(control(box, cls="Button"))
    # The close requests were held: with the box gone the program ends by itself.
    code = session.program.wait(timeout=STEP_TIMEOUT)
    expect(code == 0, f"exit status {code}")
    step("result box closed; the held close request ended the program with 0")

    chat = os.path.join(folder, "data", "chat", "chat.s3db")
    expect(version(chat) == [("8.1.0.1",)], f"chat.s3db at {version(chat)}")
    with connect(chat) as db:
        tables = db.execute("SELECT name FROM sqlite_master "
                            "WHERE type='table' AND name LIKE 'TMSG%'").fetchall()
        expect(len(tables) == HISTORY_TABLES, f"{len(tables)} tables")
        for (table,) in tables:
            rows = db.execute(f"SELECT count(*), count(F_READ) FROM {table}").fetchall()
            expect(rows == [(HISTORY_ROWS, HISTORY_ROWS)], f"{table}: {rows}")
    leftovers = [name for _, _, files in os.walk(folder) for name in files
                 if name.endswith((".tmp", ".bak"))]
    expect(not leftovers, f"set-aside files left: {leftovers}")
    step("the long history migrated: every table and row carried, F_READ added")


def make_history_installation(session, folder):
    shutil.copy(OPTIONS.quorvel, os.path.join(folder, "quorvel.exe"))
    shutil.copy(OPTIONS.client, os.path.join(folder, "vennic.exe"))
    plain = os.path.join(folder, "upgrade.txt")
    with open(plain, "w", encoding="utf-8") as f:
        f.write(make_history_databases(folder, HISTORY_TABLES, HISTORY_ROWS))
    session.wine(OPTIONS.dbrtool, "encode", plain, os.path.join(folder, "upgrade.dbr"))
    os.remove(plain)


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("wine-run", "prefix", "quorvel", "probe", "dbrtool", "client", "source", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--screenshot", default=os.environ.get("QUORVEL_GUI_SCREENSHOT"))
    OPTIONS = parser.parse_args()
    for tool in ("Xvfb", "xdotool", "import", "wineserver"):
        if not shutil.which(tool):
            print(f"{tool} is missing (scripts/test.sh installs it)", file=sys.stderr)
            return 1
    os.makedirs(OPTIONS.work, exist_ok=True)

    folder = os.path.join(OPTIONS.prefix, "drive_c", "Program Files", "Vennic")
    session = Session()
    try:
        # Nothing of an earlier run may be left in the prefix: Wine keeps the desktop of
        # its first process, and that one's X server may be gone.
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=OPTIONS.prefix),
                       check=False, stderr=subprocess.DEVNULL)
        session.start_x()
        # The prefix is made on first use; the installation goes into it.
        session.wine("cmd", "/c", "exit", timeout=START_TIMEOUT)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        make_installation(folder)
        run(session, folder)
        shutil.rmtree(folder)
        os.makedirs(folder)
        make_history_installation(session, folder)
        step(f"a chat history of {HISTORY_TABLES} tables of {HISTORY_ROWS} messages")
        run_long_migration(session, folder)
        if OPTIONS.screenshot:
            migrating = OPTIONS.screenshot.removesuffix(".png") + "-migrating.png"
            shutil.copy(os.path.join(OPTIONS.work, "dialog.png"), OPTIONS.screenshot)
            shutil.copy(os.path.join(OPTIONS.work, "dialog-migrating.png"), migrating)
            step(f"copied the dialog's pictures to {OPTIONS.screenshot} and {migrating}")
        step("passed")
        return 0
    except (Failure, subprocess.SubprocessError, OSError, ValueError, KeyError) as error:
        print(f"FAILED: {error}", file=sys.stderr)
        try:
            print(f"screen at the failure: {session.screenshot('screen-failure.png')}",
                  file=sys.stderr)
        except (subprocess.SubprocessError, OSError):
            pass
        return 1
    finally:
        session.close()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
