#!/usr/bin/env python3
"""The quorvel program end to end, in temporary installation folders.

Silent runs as an installer makes them (exit status, migrated databases, messages on
standard error), and the terminal dialog driven through a pseudo-terminal as a user
would: run a migration, tick "重选" and pick another script, the About box, quit.

    quorvel_e2e.py --quorvel PROGRAM --dbrtool PROGRAM --source REPO
                   [--clients DIR] [--emulator 'RUNNER|ARG' --probe win_probe.exe]
                   [--makensis PROGRAM] [unittest options]

--clients names a folder with vennic-8.0.0V1203.exe and vennic-demo.exe made by the
build, in place of the committed ones. With --emulator the programs are the Windows
build's, run through that command (Wine); win_probe.exe starts them hidden. With
--makensis, InstallerTest builds the example installer of examples/installer and runs it.
"""
import argparse
import collections
import glob
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from demo_databases import connect, make_demo_databases, query


OPTIONS = None
TIMEOUT = 60  # seconds for any one expected output; sanitizer builds are slow


def source(*parts):
    return os.path.join(OPTIONS.source, *parts)


def windows():
    return bool(OPTIONS.emulator)


def command(program, *arguments):
    """How to run one of the build's programs here."""
    return [*OPTIONS.emulator, program, *arguments]


def client_exe(name):
    """A client stand-in: made by the build when it could, else the committed one."""
    if OPTIONS.clients:
        made = "vennic-demo.exe" if name == "demo" else name
        return os.path.join(OPTIONS.clients, made)
    if name == "demo":
        return source("examples", "demo", "vennic.exe")
    return source("tests", "data", "pe", name)


def encode_script(text, path):
    """Writes the scrambled script for `text` with dbrtool."""
    plain = path + ".txt"
    with open(plain, "w", encoding="utf-8") as f:
        f.write(text)
    env = dict(os.environ, QUORVEL_CODEPAGE="936")
    subprocess.run(command(OPTIONS.dbrtool, "encode", plain, path), check=True, env=env,
                   stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    os.remove(plain)


def user_script(target, column, main="1200", table="F_ID INTEGER PRIMARY KEY, F_NAME TEXT"):
    """A script that brings DB.s3db to `target`: TUSER made as `table` (the columns it has
    before the run, so that its rows can be carried), then `column` added."""
    return f"""HEAD
UPDATETIME=2026-12-08 10:00:00
MAIN={main}
DATABASEFILE=extra.s3db
DBNCOUNT=1
DBN1=DB.s3db
MAINDBVER1={target}
DBNPATH1=
<DBNAME:DBN1>
<NAME:TABLE>
TVERSION
<BEGIN>
CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);
<END>
<DBNAME:DBN1>
<NAME:TABLE>
TUSER
<BEGIN>
CREATE TABLE TUSER({table});
<END>
<DBNAME:DBN1>
<NAME:ALTER>
TUSER,{column}
<BEGIN>
TEXT
<END>
"""


def version(path):
    rows = query(path, "SELECT F_TABLEVERSION FROM TVERSION WHERE F_TABLENAME='TMAIN'")
    return rows[0][0] if rows else None


def columns(path, table):
    return [row[1] for row in query(path, f"PRAGMA table_info({table})")]


class Installation:
    """A temporary installation folder holding a copy of the program."""

    def __init__(self, test, name=None):
        # As the program sees its own folder: symbolic links resolved.
        self.folder = os.path.realpath(tempfile.mkdtemp(prefix="quorvel-e2e-"))
        test.addCleanup(shutil.rmtree, self.folder, True)
        if name:
            self.folder = os.path.join(self.folder, name)
            os.mkdir(self.folder)
        self.program = os.path.join(self.folder, "quorvel.exe" if windows() else "quorvel")
        shutil.copy2(OPTIONS.quorvel, self.program)

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def client(self, name="vennic-8.0.0V1203.exe"):
        shutil.copy(client_exe(name), self.path("vennic.exe"))

    def user_db(self, target_version="8.0.0.1"):
        with connect(self.path("DB.s3db")) as db:
            db.executescript(f"""
                CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);
                INSERT INTO TVERSION VALUES('TMAIN', '{target_version}');
                CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);
                INSERT INTO TUSER VALUES (1, '张三'), (2, 'O''Brien'), (3, NULL);""")

    def demo(self):
        """The demo installation of examples/demo, with its databases made fresh."""
        demo = source("examples", "demo")
        shutil.copy(client_exe("demo"), self.path("vennic.exe"))
        shutil.copy(os.path.join(demo, "upgrade.dbr"), self.path("upgrade.dbr"))
        make_demo_databases(demo, self.folder)

    def run(self, *arguments, env=None, timeout=TIMEOUT * 5):
        """Runs the program as an installer does: no terminal on standard input."""
        return subprocess.run(command(self.program, *arguments), stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=timeout,
                              env=None if env is None else dict(os.environ, **env))

    def run_hidden(self, *arguments):
        """Starts the program hidden: on Windows with the show command SW_HIDE, elsewhere
        without a terminal, which the program takes for the same."""
        if not windows():
            return self.run(*arguments)
        return subprocess.run(command(OPTIONS.probe, "run-hidden", self.program, *arguments),
                              stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=TIMEOUT * 5)

    def log(self):
        for path in (self.path("log", "ReData.log"), self.path("ReData.log")):
            if os.path.exists(path):
                with open(path, "rb") as f:
                    return f.read().decode("gbk")
        return ""

    def leftovers(self):
        found = []
        for root, _, files in os.walk(self.folder):
            found += [f for f in files if f.endswith((".tmp", ".bak"))]
        return sorted(found)


class SilentTest(unittest.TestCase):
    def test_demo_migrates_every_row(self):
        inst = Installation(self)
        inst.demo()
        with open(inst.path("settings.s3db"), "rb") as f:
            settings = f.read()
        result = inst.run("-S")
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        self.assertEqual(result.stdout, b"")
        self.assertEqual(result.stderr, b"")

        db = inst.path("DB.s3db")
        chat = inst.path("data", "chat", "chat.s3db")
        self.assertEqual(version(db), "8.1.0.1")
        self.assertEqual(version(chat), "8.1.0.1")
        self.assertEqual(query(db, "SELECT count(*), count(DISTINCT F_NAME) FROM TCONTACT"),
                         [(240, 240)])
        self.assertEqual(query(db, "SELECT F_NAME, F_SIGNATURE FROM TUSER ORDER BY F_ID"),
                         [("王伟", "还没有签名"), ("李娜", "还没有签名"),
                          ("O'Brien", "还没有签名")])
        self.assertEqual(columns(db, "TCONTACT")[-2:], ["F_REMARK", "F_STAR"])
        # The due SQLONE ran, the one older than the database did not.
        self.assertEqual(query(db, "SELECT count(*) FROM TCONTACT WHERE F_STAR = 1"), [(40,)])
        self.assertEqual(query(db, "SELECT count(*) FROM TGROUP"), [(6,)])
        # The trigger works on the migrated rows.
        with connect(db) as conn:
            conn.execute("DELETE FROM TCONTACT WHERE F_ID = 7")
        self.assertEqual(query(db, "SELECT F_CONTACTID, F_ACTION FROM TCONTACTLOG"),
                         [(7, "删除")])
        self.assertEqual(query(chat, "SELECT count(*), sum(F_READ) FROM TMESSAGE"), [(300, 300)])
        # SQLTWO filled the new table from the other database's contacts.
        self.assertEqual(query(chat, "SELECT count(*), sum(F_COUNT) FROM TCONVERSATION"),
                         [(60, 300)])
        self.assertEqual(query(chat, "SELECT F_NAME FROM TCONVERSATION WHERE F_CONTACTID = 2"),
                         [("张伟",)])
        # Up to date already: not touched.
        with open(inst.path("settings.s3db"), "rb") as f:
            self.assertEqual(f.read(), settings)
        self.assertEqual(inst.leftovers(), [])
        with open(inst.path("configure", "update.xml"), "rb") as f:
            self.assertIn(b"<LastUpdateTime>2026-05-20 09:00:00", f.read())
        self.assertIn("数据库settings.s3db版本号已经最新,不需要迁移！", inst.log())
        self.assertIn("数据迁移成功！", inst.log())

    def test_hidden_start_is_silent_without_the_switch(self):
        inst = Installation(self)
        inst.client()
        inst.user_db()
        encode_script(user_script("8.0.0.2", "F_NICK"), inst.path("up.dbr"))
        result = inst.run_hidden("/from", "7.5.0.12")
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        self.assertEqual(result.stdout + result.stderr, b"")
        self.assertEqual(version(inst.path("DB.s3db")), "8.0.0.2")
        self.assertEqual(query(inst.path("DB.s3db"), "SELECT * FROM TUSER ORDER BY F_ID"),
                         [(1, "张三", None), (2, "O'Brien", None), (3, None, None)])

    def test_failing_migration_exits_with_1(self):
        with self.subTest("a table that cannot be made: the database stays as it was"):
            inst = Installation(self)
            inst.client()
            inst.user_db()
            with open(inst.path("DB.s3db"), "rb") as f:
                old = f.read()
            script = user_script("8.0.0.2", "F_NICK", table="F_ID INTEGER PRIMARY KEY,")
            encode_script(script, inst.path("up.dbr"))
            result = inst.run("/S")
            self.assertEqual(result.returncode, 1)
            self.assertEqual(result.stderr, b"")
            self.assertIn("数据迁移失败！", inst.log())
            self.assertEqual(inst.leftovers(), [])
            with open(inst.path("DB.s3db"), "rb") as f:
                self.assertEqual(f.read(), old)
        with self.subTest("a client older than the script needs: nothing touched"):
            inst = Installation(self)
            inst.client()
            inst.user_db()
            encode_script(user_script("8.0.0.2", "F_NICK", main="1300"), inst.path("up.dbr"))
            result = inst.run("-S")
            self.assertEqual(result.returncode, 1)
            self.assertEqual(version(inst.path("DB.s3db")), "8.0.0.1")
            self.assertIn("主程序版本号不对，迁移失败！", inst.log())
        with self.subTest("no script at all"):
            inst = Installation(self)
            inst.client()
            inst.user_db()
            self.assertEqual(inst.run("-S").returncode, 1)
            self.assertEqual(version(inst.path("DB.s3db")), "8.0.0.1")

    def test_unusable_code_page_is_refused_before_anything(self):
        if windows():
            self.skipTest("the Windows build takes the system's code page")
        for setting in ("99999", "garbage", "936x"):
            with self.subTest(setting):
                inst = Installation(self)
                inst.client()
                inst.user_db()
                encode_script(user_script("8.0.0.2", "F_NICK"), inst.path("up.dbr"))
                before = sorted(os.listdir(inst.folder))
                result = inst.run("-S", env={"QUORVEL_CODEPAGE": setting})
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stdout, b"")
                self.assertIn(f"QUORVEL_CODEPAGE 的值“{setting}”不是本系统能转换的代码页",
                              result.stderr.decode())
                self.assertEqual(sorted(os.listdir(inst.folder)), before)  # no log either
                self.assertEqual(version(inst.path("DB.s3db")), "8.0.0.1")

    def test_installation_folder_no_windows_path_can_name_is_refused(self):
        if windows():
            self.skipTest("Linux names only")
        # A backslash in the folder's name, with a folder that a separator would lead to
        # beside it; bytes that are not UTF-8.
        for name in (b"inst\\other", b"inst\xff"):
            with self.subTest(name):
                parent = os.fsencode(tempfile.mkdtemp(prefix="quorvel-e2e-"))
                self.addCleanup(shutil.rmtree, parent, True)
                folders = [os.path.join(parent, name)]
                if b"\\" in name:
                    folders.append(os.path.join(parent, name.replace(b"\\", b"/")))
                for folder in folders:
                    os.makedirs(folder)
                    shutil.copy(client_exe("vennic-8.0.0V1203.exe"),
                                os.path.join(folder, b"vennic.exe"))
                    inst = Installation(self)
                    inst.user_db()
                    encode_script(user_script("8.0.0.2", "F_NICK"), inst.path("up.dbr"))
                    for f in ("DB.s3db", "up.dbr"):
                        shutil.copy(inst.path(f), os.path.join(folder, os.fsencode(f)))
                program = os.path.join(folders[0], b"quorvel")
                shutil.copy2(OPTIONS.quorvel, program)
                before = {f: sorted(os.listdir(f)) for f in folders}
                result = subprocess.run([program, b"-S"], stdin=subprocess.DEVNULL,
                                        capture_output=True, timeout=TIMEOUT)
                self.assertEqual(result.returncode, 1)
                message = result.stderr.decode()
                self.assertIn("安装文件夹“", message)
                self.assertIn("”的路径含有反斜杠或不是 UTF-8 的字节", message)
                self.assertIn(os.fsdecode(parent), message)
                self.assertIn("\\xFF" if b"\xff" in name else "inst\\other", message)
                for folder in folders:
                    self.assertEqual(sorted(os.listdir(folder)), before[folder])
                    self.assertEqual(version(os.path.join(folder, b"DB.s3db")), "8.0.0.1")

    def test_scripts_that_are_no_regular_files_are_passed_over(self):
        if windows():
            self.skipTest("pipes and links to devices are Linux's")
        # First by name, but a pipe would hang a silent run and /dev/zero fill its memory;
        # a dangling link is no file at all.
        inst = Installation(self)
        inst.client()
        inst.user_db()
        os.mkfifo(inst.path("a.dbr"))
        os.symlink("/dev/zero", inst.path("b.dbr"))
        os.symlink(inst.path("gone", "up.dbr"), inst.path("b2.dbr"))  # dangling
        result = inst.run("-S", timeout=TIMEOUT)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(version(inst.path("DB.s3db")), "8.0.0.1")
        encode_script(user_script("8.0.0.2", "F_NICK"), inst.path("c.dbr"))
        result = inst.run("-S", timeout=TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stderr.decode())
        self.assertEqual(version(inst.path("DB.s3db")), "8.0.0.2")


def all_rows(path):
    """Every row of every table of a database, by table: its column names and its rows."""
    with connect(path) as db:
        tables = [row[0] for row in db.execute(
            "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'")]
        return {table: ([row[1] for row in db.execute(f'PRAGMA table_info("{table}")')],
                        db.execute(f'SELECT * FROM "{table}"').fetchall())
                for table in tables}


def lost_rows(before, folder):
    """The rows of `before` ({database path below `folder`: all_rows}) that a run lost.
    A table's rows may be in its database, with columns added, or all of them in a file
    that a failed run keeps: the set-aside ".tmp" or a ".bak". The version record is the
    run's own to rewrite."""
    lost = []
    for name, tables in before.items():
        path = os.path.join(folder, name)
        kept = [p for p in [path, path + ".tmp", *glob.glob(glob.escape(path) + ".*.bak")]
                if os.path.exists(p)]
        after = [all_rows(p) for p in kept]
        for table, (columns, rows) in tables.items():
            if table == "TVERSION":
                rows = [row for row in rows if row[0] != "TMAIN"]
            wanted = collections.Counter(rows)
            missing = len(rows)
            for found in after:
                have_columns, have_rows = found.get(table, ([], []))
                if set(columns) <= set(have_columns):
                    picked = [have_columns.index(c) for c in columns]
                    have = collections.Counter(tuple(r[i] for i in picked) for r in have_rows)
                    missing = min(missing, sum((wanted - have).values()))
            if missing:
                lost.append(f"{name} {table}: {missing} of {len(rows)} rows")
    return lost


class InstallerTest(unittest.TestCase):
    """The example installer of examples/installer, built with makensis from the demo's
    files, updating an older installation of the demo as a vendor's client update would."""

    def setUp(self):
        if not OPTIONS.makensis:
            self.skipTest("no makensis")

    def setup_exe(self, script):
        """The installer, carrying the program, the demo's client and `script`."""
        files = tempfile.mkdtemp(prefix="quorvel-setup-")
        self.addCleanup(shutil.rmtree, files, True)
        shutil.copy(OPTIONS.quorvel, os.path.join(files, "quorvel.exe"))
        shutil.copy(client_exe("demo"), os.path.join(files, "vennic.exe"))
        shutil.copy(script, os.path.join(files, "upgrade.dbr"))
        setup = os.path.join(files, "vennic-update.exe")
        subprocess.run([OPTIONS.makensis, "-V2", f"-DFILES={files}", f"-DOUTFILE={setup}",
                        source("examples", "installer", "setup.nsi")],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        return setup

    def old_installation(self):
        """The demo's databases as client 8.0.0V1203 left them, with the script of an
        earlier update, in a folder with a Chinese name. (No space: /D= takes the rest of
        the command line unquoted, and Wine quotes an argument that holds a space.)"""
        inst = Installation(self, "Vennic客户端")
        inst.client()
        make_demo_databases(source("examples", "demo"), inst.folder)
        with open(inst.path("vennic-8.0.0.3.dbr"), "wb") as f:
            f.write(b"whatever an earlier script holds, this update must not run it")
        return inst, {name: all_rows(inst.path(name))
                      for name in ("DB.s3db", os.path.join("data", "chat", "chat.s3db"),
                                   "settings.s3db")}

    def install(self, setup, inst):
        folder = "Z:" + inst.folder.replace("/", "\\")
        return subprocess.run(command(setup, "/S", "/D=" + folder), stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=TIMEOUT * 5).returncode

    def test_update_migrates_and_installing_again_succeeds(self):
        setup = self.setup_exe(source("examples", "demo", "upgrade.dbr"))
        inst, before = self.old_installation()
        self.assertEqual(self.install(setup, inst), 0, inst.log())
        for name in ("DB.s3db", os.path.join("data", "chat", "chat.s3db")):
            self.assertEqual(version(inst.path(name)), "8.1.0.1", name)
        self.assertEqual(query(inst.path("DB.s3db"), "SELECT count(*) FROM TCONTACT"), [(240,)])
        self.assertEqual(lost_rows(before, inst.folder), [])
        self.assertEqual(inst.leftovers(), [])
        self.assertEqual(sorted(glob.glob(inst.path("*.dbr"))), [inst.path("upgrade.dbr")])
        with open(inst.path("log", "ReData.log"), "rb") as f:
            self.assertIn("数据迁移成功！", f.read().decode("gbk"))

        # A repair: the same update again finds every database at the script's version.
        migrated = {name: all_rows(inst.path(name)) for name in before}
        self.assertEqual(self.install(setup, inst), 0, inst.log())
        self.assertIn("全部数据库版本号已经最新,不需要迁移", inst.log())
        self.assertEqual({name: all_rows(inst.path(name)) for name in before}, migrated)

    def test_failing_table_item_fails_the_update_and_loses_no_row(self):
        with open(source("examples", "demo", "upgrade.txt"), encoding="utf-8") as f:
            text = f.read()
        broken = text.replace("CREATE TABLE TCONTACT(", "CREATE TABLE TCONTACT(F_ID TEXT, ")
        self.assertNotEqual(broken, text)
        inst, before = self.old_installation()
        script = os.path.join(os.path.dirname(inst.folder), "broken.dbr")
        encode_script(broken, script)
        setup = self.setup_exe(script)
        self.assertEqual(self.install(setup, inst), 2, inst.log())
        self.assertIn("数据迁移失败！", inst.log())
        self.assertEqual(lost_rows(before, inst.folder), [])
        # The database whose table could not be made stays exactly as it was; the one
        # migrated beside it keeps its old file until that database is done.
        self.assertEqual(version(inst.path("DB.s3db")), "8.0.0.3")
        self.assertFalse(any(name.startswith("DB.s3db.") for name in inst.leftovers()))


class Terminal:
    """The program on a pseudo-terminal: what it prints, and keys typed to it."""

    def __init__(self, test, program, *arguments):
        master, slave = os.openpty()
        self.master = master
        self.process = subprocess.Popen([program, *arguments], stdin=slave, stdout=slave, stderr=slave,
                                        start_new_session=True)
        os.close(slave)
        self.output = b""
        self.seen = 0  # how far expect() has matched
        test.addCleanup(self.close)

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        os.close(self.master)

    def read(self, timeout):
        ready, _, _ = select.select([self.master], [], [], timeout)
        if not ready:
            return False
        try:
            data = os.read(self.master, 65536)
        except OSError:  # the program has ended and closed the terminal
            return False
        self.output += data
        return bool(data)

    def text(self):
        return self.output.decode("utf-8", "replace").replace("\r\n", "\n")

    def expect(self, pattern):
        """Waits until `pattern` (a regular expression) appears after the last match."""
        deadline = time.monotonic() + TIMEOUT
        regex = re.compile(pattern)
        while True:
            match = regex.search(self.text(), self.seen)
            if match:
                self.seen = match.end()
                return match
            remaining = deadline - time.monotonic()
            if remaining <= 0 or (not self.read(remaining) and self.process.poll() is not None):
                raise AssertionError(f"no {pattern!r} in:\n{self.text()[self.seen:]}")

    def send(self, keys):
        os.write(self.master, keys.encode("utf-8"))

    def wait(self):
        while self.read(0.2) or self.process.poll() is None:
            pass
        return self.process.wait(timeout=TIMEOUT)


class TerminalTest(unittest.TestCase):
    def installation(self):
        inst = Installation(self)
        inst.client()
        inst.user_db()
        encode_script(user_script("8.0.0.2", "F_NICK"), inst.path("up.dbr"))
        return inst

    def test_migrate_reselect_about_quit(self):
        inst = self.installation()
        term = Terminal(self, inst.program)
        native = inst.folder
        screen = term.expect(r"Vennic数据迁移程序\n(?:.*\n)*?> ").group(0)
        self.assertIn("当前Vennic版本:     8.0.0\n", screen)
        self.assertIn("当前Vennic子版本:   1203\n", screen)
        self.assertIn("当前脚本文件版本:   未知的版本\n", screen)
        self.assertIn(f"升级脚本文件:       {native}/up.dbr\n", screen)
        self.assertIn("[ ] 重选\n", screen)

        # "数据迁移": progress while it runs, then the result box waits for Enter.
        term.send("m\n")
        term.expect(r"迁移数据库 DB\.s3db \(8\.0\.0\.1 -> 8\.0\.0\.2\)\n")
        term.expect(r"表 TUSER: 3 行\n")
        term.expect(r"数据迁移成功！\n  \[Enter\] ")
        term.send("\n")
        term.expect(r"当前脚本文件版本:   1203\n(?:.*\n)*?> ")
        self.assertEqual(version(inst.path("DB.s3db")), "8.0.0.2")

        # A newer script arrives; "重选" unlocks browsing, which picks it.
        encode_script(user_script("8.0.0.3", "F_MAIL",
                                  table="F_ID INTEGER PRIMARY KEY, F_NAME TEXT, F_NICK TEXT"),
                      inst.path("newer.dbr"))
        term.send("p\n")
        term.expect(r"先勾选“重选” \(r\)")
        term.send("r\n")
        term.expect(r"\[x\] 重选\n.*p 输入路径   b \.\.\.\.(?:.*\n)*?> ")
        term.send("b\n")
        term.expect(re.escape(f"文件夹 [{native}]: "))
        term.send("\n")
        term.expect(r"  1  newer\.dbr\n  2  up\.dbr\n  编号 \[Enter: 取消\]: ")
        term.send("1\n")
        term.expect(re.escape(f"升级脚本文件:       {native}/newer.dbr\n"))
        term.send("m\n")
        term.expect(r"迁移数据库 DB\.s3db \(8\.0\.0\.2 -> 8\.0\.0\.3\)\n")
        term.expect(r"数据迁移成功！\n  \[Enter\] ")
        term.send("\n")
        term.expect(r"> ")
        self.assertEqual(version(inst.path("DB.s3db")), "8.0.0.3")
        self.assertEqual(columns(inst.path("DB.s3db"), "TUSER"),
                         ["F_ID", "F_NAME", "F_NICK", "F_MAIL"])

        term.send("a\n")
        term.expect(r"关于 Quorvel ──\n  Quorvel 1\.0 版\n.*\n  \[确定: Enter\] ")
        term.send("\n")
        term.expect(r"> ")
        term.send("q\n")
        self.assertEqual(term.wait(), 0)
        self.assertEqual(inst.leftovers(), [])

    def test_end_of_input_quits(self):
        inst = self.installation()
        term = Terminal(self, inst.program)
        term.expect(r"q 退出\n> ")
        term.send("\x04")  # Ctrl-D
        self.assertEqual(term.wait(), 0)
        self.assertEqual(version(inst.path("DB.s3db")), "8.0.0.1")
        # An interactive run writes no update record.
        self.assertFalse(os.path.exists(inst.path("configure")))

    def test_switch_s_on_a_terminal_shows_nothing(self):
        inst = self.installation()
        term = Terminal(self, inst.program, "-S")
        self.assertEqual(term.wait(), 0)
        self.assertEqual(term.text(), "")
        self.assertEqual(version(inst.path("DB.s3db")), "8.0.0.2")


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quorvel", required=True)
    parser.add_argument("--dbrtool", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--clients")
    parser.add_argument("--emulator", default="")
    parser.add_argument("--probe")
    parser.add_argument("--makensis")
    OPTIONS, rest = parser.parse_known_args()
    OPTIONS.emulator = [part for part in OPTIONS.emulator.split("|") if part]
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
