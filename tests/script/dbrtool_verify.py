#!/usr/bin/env python3
"""dbrtool verify end to end: installations made with Python's sqlite3, scripts encoded by
dbrtool, the JSON report read back, and every installation folder compared byte for byte
before and after each rehearsal.

    dbrtool_verify.py --dbrtool PROGRAM --source REPO [--emulator 'RUNNER|ARG']
                      [unittest options]

With --emulator the program is the Windows build's, run through that command (Wine).
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "app"))
from demo_databases import make_demo_databases  # noqa: E402

OPTIONS = None
ENV = dict(os.environ, QUORVEL_CODEPAGE="936")


def source(*parts):
    return os.path.join(OPTIONS.source, *parts)


def run(*arguments):
    return subprocess.run([*OPTIONS.emulator, OPTIONS.dbrtool, *arguments], env=ENV,
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=300)


def item(kind, text, body, db=1):
    return f"<DBNAME:DBN{db}>\n<NAME:{kind}>\n{text}\n<BEGIN>\n{body}\n<END>\n"


def script(*items, target="8.0.0.2"):
    """DB.s3db brought to `target` by `items`; item k begins on line 3 + 6 k."""
    return ("HEAD\nUPDATETIME=2026-12-08 10:00:00\nMAIN=1200\nDATABASEFILE=extra.s3db\n"
            f"DBNCOUNT=1\nDBN1=DB.s3db\nMAINDBVER1={target}\nDBNPATH1=\n" +
            "".join(item(*i) for i in items))


def line_of(k):
    return 3 + 6 * k


OLD_DB = """
    CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);
    INSERT INTO TVERSION VALUES ('TMAIN', '8.0.0.1');
    CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);
    INSERT INTO TUSER VALUES (1, '张三'), (2, 'O''Brien'), (3, NULL);
    CREATE TRIGGER TR_OLD AFTER DELETE ON TUSER BEGIN SELECT 1; END;
    CREATE TABLE TGROUP(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);
    INSERT INTO TGROUP VALUES (1, '同事'), (2, '家人');"""

TVERSION = ("TABLE", "TVERSION", "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);")
TUSER = ("TABLE", "TUSER", "CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);")
NICK = ("ALTER", "TUSER,F_NICK", "TEXT DEFAULT '无'")
TGROUP = ("TABLE", "TGROUP", "CREATE TABLE TGROUP(F_ID INTEGER PRIMARY KEY, F_NAME TEXT); "
          "CREATE INDEX IX_GROUP_NAME ON TGROUP(F_NAME);")
TRIGGER = ("TRIGGER", "TR_GROUP", "CREATE TRIGGER TR_GROUP AFTER DELETE ON TGROUP BEGIN "
           "DELETE FROM TUSER WHERE F_ID = old.F_ID; END;")
DUE = ("SQLONE", "8.0.0.2", "UPDATE TUSER SET F_NICK = F_NAME;")
NOT_DUE = ("SQLONE", "8.0.0.1", "DELETE FROM TUSER;")
CLEAN = (TVERSION, TUSER, NICK, TGROUP, TRIGGER, DUE, NOT_DUE)

# What a fresh installation of 8.0.0.2 makes, written as its developers would.
FRESH_DB = """
    CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);
    CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT, F_NICK TEXT DEFAULT '无');
    CREATE TABLE TGROUP(F_ID INTEGER PRIMARY KEY, F_NAME TEXT);
    CREATE INDEX IX_GROUP_NAME ON TGROUP (F_NAME);
    CREATE TRIGGER TR_GROUP AFTER DELETE ON TGROUP
    BEGIN
        DELETE FROM TUSER WHERE F_ID = old.F_ID;
    END;"""


def make_db(path, sql):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    db = sqlite3.connect(path)
    try:
        with db:
            db.executescript(sql)
    finally:
        db.close()


def fingerprint(folder):
    """Every file below `folder` with its bytes' hash."""
    found = {}
    for root, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = hashlib.sha256(f.read()).hexdigest()
    return found


class VerifyTest(unittest.TestCase):
    def folder(self):
        path = os.path.realpath(tempfile.mkdtemp(prefix="dbrtool-verify-test-"))
        self.addCleanup(shutil.rmtree, path, True)
        return path

    def installation(self, sql=OLD_DB, client=False):
        folder = self.folder()
        make_db(os.path.join(folder, "DB.s3db"), sql)
        if client:
            shutil.copy(source("examples", "demo", "vennic.exe"), folder)
        return folder

    def encode(self, text):
        plain = os.path.join(self.folder(), "up.txt")
        with open(plain, "w", encoding="utf-8") as f:
            f.write(text)
        result = run("encode", plain, plain[:-4] + ".dbr")
        self.assertEqual(result.returncode, 0, result.stderr)
        return plain[:-4] + ".dbr"

    def verify(self, script_path, *arguments, status=None, as_json=True):
        """Runs verify; every folder among the arguments must be unchanged afterwards."""
        folders = [a for a in arguments if os.path.isdir(a)]
        before = [fingerprint(f) for f in folders]
        result = run("verify", script_path, *arguments, *(["--json"] if as_json else []))
        for folder, prints in zip(folders, before):
            self.assertEqual(fingerprint(folder), prints, f"{folder} changed")
        # The Windows program writes CR LF line ends.
        output = result.stdout.decode("utf-8").replace("\r\n", "\n")
        if status is not None:
            self.assertEqual(result.returncode, status, output + result.stderr.decode())
        if not as_json:
            return output
        report = json.loads(output)
        self.assertEqual(report["passed"], result.returncode == 0)
        return report

    def one(self, report):
        self.assertEqual(len(report["installations"]), 1)
        found = report["installations"][0]
        self.assertEqual(found["verdict"] == "pass", not found["problems"], found["problems"])
        return found

    @staticmethod
    def tables(database):
        return {table["name"]: table for table in database["tables"]}

    def test_rehearsals(self):
        good = self.installation(client=True)
        # A clean pass, the client's version from the folder's vennic.exe.
        found = self.one(self.verify(self.encode(script(*CLEAN)), good, status=0))
        self.assertEqual((found["verdict"], found["exitStatus"], found["message"]),
                         ("pass", 0, ""))
        self.assertEqual(found["client"], {"version": "8.1.0V2105", "subVersion": "2105",
                                           "from": "vennic.exe"})
        self.assertGreaterEqual(found["seconds"], 0)
        db = found["databases"][0]
        self.assertEqual((db["state"], db["versionBefore"], db["versionAfter"], db["path"]),
                         ("migrated", "8.0.0.1", "8.0.0.2", "DB.s3db"))
        tables = self.tables(db)
        self.assertEqual(list(tables), ["TVERSION", "TUSER", "TGROUP"])
        user = tables["TUSER"]
        self.assertEqual((user["source"], user["sourceFile"], user["rowsBefore"],
                          user["rowsCopied"], user["rowsAfter"]), ("own", "DB.s3db", 3, 3, 3))
        self.assertEqual(user["columnsAdded"], ["F_NICK"])
        # Old triggers are not carried: the report says which were not made again.
        self.assertEqual(user["oldTriggersNotMade"], ["TR_OLD"])
        group = tables["TGROUP"]
        self.assertEqual((group["rowsBefore"], group["rowsAfter"], group["indexesCreated"],
                          group["triggersCreated"]), (2, 2, ["IX_GROUP_NAME"], ["TR_GROUP"]))
        outcomes = {(i["line"], i["kind"], i["text"]): i["outcome"] for i in found["items"]}
        self.assertEqual(outcomes[(line_of(6), "SQLONE", "8.0.0.2")], "done")
        self.assertEqual(outcomes[(line_of(7), "SQLONE", "8.0.0.1")], "notDue")
        self.assertEqual(len(outcomes), 7)

        # The same in words, and --client instead of vennic.exe.
        text = self.verify(self.encode(script(*CLEAN)), good, "--client", "8.1.0V1300",
                           status=0, as_json=False)
        for part in ("verdict: PASS", "quorvel /S would exit with 0", "migration took",
                     "client: 8.1.0V1300 (sub-version 1300, from --client)",
                     "8.0.0.1 -> 8.0.0.2  migrated", "columns added: F_NICK",
                     f"line {line_of(7)}: DBN1 SQLONE 8.0.0.1"):
            self.assertIn(part, text)
        self.assertRegex(text, r"TUSER +3 -> 3 rows")

        # A TABLE item whose columns are not the old table's: nothing is replaced.
        wider = ("TABLE", "TUSER", "CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_NAME TEXT, "
                 "F_NICK TEXT);")
        found = self.one(self.verify(self.encode(script(TVERSION, wider, TGROUP)), good,
                                     status=1))
        self.assertEqual((found["verdict"], found["exitStatus"]), ("fail", 1))
        db = found["databases"][0]
        self.assertEqual((db["state"], db["versionAfter"]), ("discarded", "8.0.0.1"))
        user = self.tables(db)["TUSER"]
        self.assertTrue(user["failed"])
        self.assertIn("makes 3 columns (F_ID, F_NAME, F_NICK)", user["columnMismatch"])
        self.assertIn("has 2 (F_ID, F_NAME)", user["columnMismatch"])
        failed = [i for i in found["items"] if i["outcome"] == "failed"]
        self.assertEqual([(i["line"], i["kind"], i["text"]) for i in failed],
                         [(line_of(2), "TABLE", "TUSER")])
        self.assertIn("TUSER", failed[0]["error"])

        # A forgotten table: the database stays as it was, and says where the rows are.
        found = self.one(self.verify(self.encode(script(TVERSION, TUSER, NICK)), good,
                                     status=1))
        db = found["databases"][0]
        self.assertEqual(db["state"], "discarded")
        self.assertEqual(db["leftBehind"], [{"table": "TGROUP", "rows": 2, "keptIn": "DB.s3db"}])
        self.assertTrue(any("TGROUP (2 rows)" in p for p in found["problems"]))

        # An ALTER that fails on rows some users have: check cannot see it, verify does.
        checked = ("ALTER", "TUSER,F_CODE", "TEXT DEFAULT 'a' CHECK (F_NAME IS NOT NULL)")
        alter = self.encode(script(TVERSION, TUSER, checked, TGROUP))
        self.assertEqual(run("check", "--strict", alter).returncode, 0)
        found = self.one(self.verify(alter, good, status=1))
        failed = [i for i in found["items"] if i["outcome"] == "failed"]
        self.assertEqual([(i["line"], i["kind"], i["text"]) for i in failed],
                         [(line_of(3), "ALTER", "TUSER,F_CODE")])
        self.assertIn("CHECK constraint failed", failed[0]["error"])

        # Against a fresh installation: the same schema however it is written, then a
        # default, an index and a trigger that differ.
        fresh = self.folder()
        make_db(os.path.join(fresh, "DB.s3db"), FRESH_DB)
        found = self.one(self.verify(self.encode(script(*CLEAN)), good, "--expect", fresh,
                                     status=0))
        db = found["databases"][0]
        self.assertEqual((db["compared"], db["schemaDifferences"]), (True, []))
        other = self.folder()
        make_db(os.path.join(other, "DB.s3db"),
                FRESH_DB.replace("DEFAULT '无'", "DEFAULT ''").replace(
                    "DELETE FROM TUSER WHERE F_ID = old.F_ID;", "SELECT 1;") +
                "CREATE UNIQUE INDEX IX_USER_NAME ON TUSER(F_NAME) WHERE F_NAME IS NOT NULL;")
        found = self.one(self.verify(self.encode(script(*CLEAN)), good, "--expect", other,
                                     status=1))
        self.assertEqual(found["exitStatus"], 0)  # quorvel itself would have succeeded
        differences = found["databases"][0]["schemaDifferences"]
        self.assertEqual(len(differences), 3, differences)
        self.assertIn("table TUSER: column F_NICK has the default '无', in the fresh database "
                      "the default ''", differences)
        self.assertTrue(any(d.startswith("index IX_USER_NAME on TUSER is missing") and
                            "WHERE F_NAME IS NOT NULL" in d for d in differences), differences)
        self.assertTrue(any(d.startswith("trigger TR_GROUP is defined as") for d in differences),
                        differences)

        # Two names of one file in the installation (a link): the copy cannot show it, the
        # installation refuses the script as the migration would.
        linked = self.installation()
        os.symlink("DB.s3db", os.path.join(linked, "alias.s3db"))
        twice = script(*CLEAN).replace("DBNCOUNT=1\n", "DBNCOUNT=2\n").replace(
            "DBNPATH1=\n", "DBNPATH1=\nDBN2=alias.s3db\nMAINDBVER2=8.0.0.2\nDBNPATH2=\n")
        found = self.one(self.verify(self.encode(twice), linked, "--client", "1200", status=1))
        self.assertEqual(found["exitStatus"], 1)
        self.assertNotEqual(found["message"], "")
        self.assertTrue(any("数据库2与数据库1是同一个文件" in p and "alias.s3db" in p
                            for p in found["problems"]), found["problems"])
        self.assertEqual([d["state"] for d in found["databases"]], ["notReached"] * 2)

        # Several installations: one table at the end; one failure fails the whole.
        wrong = self.installation(OLD_DB + "ALTER TABLE TUSER ADD F_MORE;")
        text = self.verify(self.encode(script(*CLEAN)), good, wrong, "--client", "1200",
                           status=1, as_json=False)
        self.assertRegex(text, r"installation +databases +verdict +time\n")
        self.assertRegex(text, re.escape(good) + r" +1 of 1 migrated +PASS +\d+\.\d\d s\n")
        self.assertRegex(text, re.escape(wrong) + r" +0 of 1 migrated +FAIL +\d+\.\d\d s\n")
        report = self.verify(self.encode(script(*CLEAN)), good, wrong, "--client", "1200",
                             status=1)
        self.assertEqual([i["verdict"] for i in report["installations"]], ["pass", "fail"])

    def test_demo_and_the_guides_next_release(self):
        demo = source("examples", "demo")
        installation = self.folder()
        shutil.copy(os.path.join(demo, "vennic.exe"), installation)
        make_demo_databases(demo, installation)
        fresh = self.folder()
        make_demo_databases(demo, fresh, "fresh")
        found = self.one(self.verify(os.path.join(demo, "upgrade.dbr"), installation,
                                     "--expect", fresh, status=0))
        self.assertEqual([(d["path"], d["state"], d["schemaDifferences"])
                          for d in found["databases"]],
                         [("DB.s3db", "migrated", []),
                          ("data\\chat\\chat.s3db", "migrated", []),
                          ("settings.s3db", "upToDate", [])])

        # The deliberate mistake README shows: TMESSAGE written with its new column.
        with open(os.path.join(demo, "upgrade.txt"), encoding="utf-8") as f:
            text = f.read()
        mistaken = text.replace("F_TEXT TEXT, F_TIME TEXT);",
                                "F_TEXT TEXT, F_TIME TEXT, F_READ INTEGER DEFAULT 1);")
        self.assertNotEqual(mistaken, text)
        report = self.verify(self.encode(mistaken), installation, "--expect", fresh,
                             status=1, as_json=False)
        for part in ("verdict: FAIL", "quorvel /S would exit with 1",
                     "DBN2 data\\chat\\chat.s3db  8.0.0.3  left as it was",
                     "DBN2 TABLE TMESSAGE: 表TMESSAGE的新定义有 6 列, 原表有 5 列"):
            self.assertIn(part, report)

        # The guide's worked example is the file next/upgrade.txt, word for word.
        with open(source("docs", "writing-scripts.md"), encoding="utf-8") as f:
            guide = f.read()
        shown = re.search(r"<!-- examples/demo/next/upgrade.txt -->\n```text\n(.*?)```", guide,
                          re.S)
        self.assertIsNotNone(shown)
        with open(os.path.join(demo, "next", "upgrade.txt"), encoding="utf-8") as f:
            self.assertEqual(shown.group(1), f.read())
        following = self.encode(shown.group(1))
        strict = run("check", "--strict", following)
        self.assertEqual(strict.returncode, 0, strict.stdout.decode())

        # It takes an installation of 8.1.0.1 (with a few rows of its own) to the schema a
        # fresh 8.2.0.1 makes, renaming a column and dropping a table on the way.
        current = self.folder()
        make_demo_databases(demo, current, "fresh")
        make_db(os.path.join(current, "DB.s3db"), """
            INSERT INTO TCONTACT VALUES (1, 1, '王伟', 1, '13800000001', NULL, 1),
                                        (2, 1, '李娜', 2, '13800000002', '同学', 0);
            INSERT INTO TCONTACTLOG(F_CONTACTID, F_ACTION, F_TIME)
                VALUES (3, '删除', '2026-10-01 08:00:00');""")
        following_fresh = self.folder()
        make_demo_databases(demo, following_fresh, os.path.join("next", "fresh"))
        found = self.one(self.verify(following, current, "--client", "8.2.0V2201", "--expect",
                                     following_fresh, status=0))
        db = found["databases"][0]
        self.assertEqual((db["state"], db["versionBefore"], db["versionAfter"]),
                         ("migrated", "8.1.0.1", "8.2.0.1"))
        tables = self.tables(db)
        self.assertEqual(tables["TCONTACT"]["renamedByPosition"], ["F_PHONE -> F_MOBILE"])
        self.assertEqual(tables["TCONTACT"]["oldTriggersNotMade"], ["TR_CONTACT_DELETE"])
        self.assertEqual((tables["TCONTACTLOG"]["rowsBefore"], tables["TCONTACTLOG"]["dropped"]),
                         (1, True))

        # One script serves one starting layout: the demo's 8.0.0.3 tables do not fit.
        found = self.one(self.verify(following, installation, "--client", "8.2.0V2201",
                                     status=1))
        self.assertIn("the TABLE item makes 5 columns",
                      self.tables(found["databases"][0])["TUSER"]["columnMismatch"])


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dbrtool", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--emulator", default="")
    OPTIONS, rest = parser.parse_known_args()
    OPTIONS.emulator = [part for part in OPTIONS.emulator.split("|") if part]
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
