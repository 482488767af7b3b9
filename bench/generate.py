#!/usr/bin/env python3
"""Builds a large Vennic installation to migrate: three old databases, their upgrade script
and the client executable.

    generate.py --size-mib N --dbrtool PATH --vennic PATH OUT_DIR

OUT_DIR receives, as an installation folder holds them:

    vennic.exe                      the client (only its version block matters)
    upgrade.dbr                     the scrambled upgrade script (upgrade.txt in plain text)
    DB.s3db                         contacts, organisation, groups      page size 4096
    data/chat/chat.s3db             messages: most of the rows          page size 1024
    data/files/files.s3db           file cache, avatars, emoji: blobs   page size 4096

and beside them, for the benchmark runner:

    reference.sql                   the migration's statements for the sqlite3 shell
    manifest.json                   databases, tables, rows, sizes

Every database is at version 8.0.0.3; the script brings them to 8.1.0.1. Its items, per
database: a TABLE item for every table (most with the old definition unchanged, indexes
in the same body; two whose new definition differs: an index more, a column type
changed), ALTER items adding columns, triggers, SQLONE items (one due, one not) and an
SQLTWO item filling a new table from another database.

The contents are deterministic: the same size gives the same files, byte for byte. Rows
are generated inside SQLite (recursive common table expressions over pools of Chinese
text, ASCII text and bytes), so 1 GiB takes well under two minutes.
"""

import argparse
import json
import os
import random
import shutil
import sqlite3
import subprocess
import sys
import time

OLD_VERSION = "8.0.0.3"
NEW_VERSION = "8.1.0.1"

CN_POOL_LEN = 6000
ASCII_POOL_LEN = 6000
BLOB_POOL_LEN = 1 << 18

# Rows per table are given for 1000 MiB; this factor makes the three files add up to the
# size asked for (measured: the files' sizes at 100, 300 and 1000 MiB).
CALIBRATION = 0.76

# Distinct odd multipliers for the per-column pseudo-random sequences.
_PRIMES = [7919, 104729, 1299709, 15485863, 32452843, 49979687, 67867967, 86028121,
           104395301, 122949823, 141650939, 160481183, 179424673, 198491317, 217645177]


def h(k, modulus):
    """A deterministic pseudo-random integer in [0, modulus) for row i."""
    return f"((i*{_PRIMES[k % len(_PRIMES)]}+{k * 977})%{modulus})"


def cn(min_len, max_len, k=0):
    """Chinese text of min_len..max_len characters."""
    span = max_len - min_len + 1
    return f"substr(?1,1+{h(k, CN_POOL_LEN - max_len)},{min_len}+{h(k + 1, span)})"


def asc(min_len, max_len, k=0):
    span = max_len - min_len + 1
    return f"substr(?3,1+{h(k, ASCII_POOL_LEN - max_len)},{min_len}+{h(k + 1, span)})"


def blob(min_len, max_len, k=0):
    span = max_len - min_len + 1
    return f"substr(?2,1+{h(k, BLOB_POOL_LEN - max_len)},{min_len}+{h(k + 1, span)})"


def when(k=0):
    """A time text from 2022 on, increasing with i, with an hour of scatter."""
    return f"datetime(1640995200+i*13+{h(k, 3600)},'unixepoch')"


def md5(k=0):
    """32 hexadecimal digits, as a file's MD5 looks."""
    return f"printf('%016x%016x',{h(k, 1 << 62)}*{_PRIMES[k + 3]},{h(k + 1, 1 << 62)})"


def uid(k=0):
    return (f"printf('%08x-%04x-%04x-%012x',{h(k, 4294967291)},{h(k + 1, 65521)},"
            f"{h(k + 2, 65519)},(i*2654435761)%281474976710597)")


class Table:
    """One old table: its definition, its indexes, how to fill it, and what the new
    version's script says about it.

    rows: rows at 1000 MiB of total size (scaled linearly, never below min_rows).
    values: one SQL expression per column, in terms of the row number i.
    new_sql: the script's statement when it differs from the old definition.
    """

    def __init__(self, name, sql, values, rows, min_rows=1, indexes=(), new_sql=None,
                 delete_every=0):
        self.name = name
        self.sql = sql
        self.values = values
        self.rows = rows
        self.min_rows = min_rows
        self.indexes = list(indexes)
        self.new_sql = new_sql
        self.delete_every = delete_every

    def row_count(self, size_mib, weight):
        return max(self.min_rows, round(self.rows * weight * CALIBRATION * size_mib / 1000))

    def script_body(self):
        """The TABLE item's body: the statement that creates the table and its indexes."""
        if self.new_sql is not None:
            return self.new_sql
        return " ".join([self.sql + ";"] + [ix + ";" for ix in self.indexes])


class Database:
    def __init__(self, number, file, folder, page_size, tables, old_sql=(), weight=1.0):
        self.number = number
        self.weight = weight  # multiplies every table's rows
        self.file = file
        self.folder = folder  # sub-folder, "\" separated as the script writes it
        self.page_size = page_size
        self.tables = tables
        self.old_sql = list(old_sql)  # triggers the old client had

    @property
    def relpath(self):
        return os.path.join(*self.folder.split("\\"), self.file) if self.folder else self.file


def version_table():
    return Table("TVERSION", "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT)",
                 None, 0)


def extra_tables(count):
    """Small old tables for a script of many items: two rows each."""
    return [Table(f"TX{k:05d}", f"CREATE TABLE TX{k:05d}(F_ID INTEGER PRIMARY KEY, F_NAME TEXT, "
                  "F_TIME TEXT)", ["i", cn(1, 10, k % 7), when(k % 5)], 0, min_rows=2)
            for k in range(1, count + 1)]


def extra_items(tables):
    """Five items per table, as a long-lived client's script accumulates them: the table,
    a column, a trigger, a data statement and one with the chat database attached."""
    out = []
    for t in tables:
        out += [
            (1, "TABLE", t.name, t.script_body()),
            (1, "ALTER", f"{t.name},F_NOTE", "TEXT"),
            (1, "TRIGGER", f"TR_{t.name}",
             f"CREATE TRIGGER TR_{t.name} AFTER INSERT ON {t.name} BEGIN "
             f"UPDATE {t.name} SET F_NOTE = 'new' WHERE F_ID = new.F_ID; END;"),
            (1, "SQLONE", "8.1.0.0", f"INSERT INTO {t.name}(F_ID, F_NAME) VALUES (100, 'x');"),
            (1, "SQLTWO", "8.1.0.0,DBN2",
             f"INSERT INTO {t.name}(F_ID, F_NAME, F_TIME) "
             f"SELECT F_ID + 1000, F_LASTMSG, F_TIME FROM NEW_DB.TSESSION WHERE F_ID <= 2;"),
        ]
    return out


def databases(extra_item_count=0):
    user = Database(1, "DB.s3db", "", 4096, [
        version_table(),
        Table("TUSER", "CREATE TABLE TUSER(F_ID INTEGER PRIMARY KEY, F_ACCOUNT TEXT, "
              "F_NAME TEXT, F_CREATED TEXT)",
              ["i", asc(6, 16, 1), cn(2, 4, 2), when(3)], 0, min_rows=5),
        Table("TGROUP", "CREATE TABLE TGROUP(F_ID INTEGER PRIMARY KEY, F_NAME TEXT, "
              "F_ORDER INTEGER)",
              ["i", cn(2, 8, 1), h(2, 100)], 0, min_rows=50),
        Table("TCONTACT", "CREATE TABLE TCONTACT(F_ID INTEGER PRIMARY KEY, F_USERID INTEGER, "
              "F_NAME TEXT, F_GROUPID INTEGER, F_PHONE TEXT, F_EMAIL TEXT, F_SIGN TEXT, "
              "F_UPDATED TEXT)",
              ["i", f"1+{h(1, 5)}", cn(2, 4, 2), f"1+{h(3, 50)}", f"'13'||{h(4, 999999999)}",
               asc(8, 24, 5) + "||'@vennic.cn'", cn(0, 40, 6), when(7)], 300_000,
              min_rows=200,
              indexes=["CREATE INDEX IDX_CONTACT_USER ON TCONTACT(F_USERID)",
                       "CREATE INDEX IDX_CONTACT_NAME ON TCONTACT(F_NAME)"]),
        Table("TCONTACTLOG", "CREATE TABLE TCONTACTLOG(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, "
              "F_CONTACTID INTEGER, F_ACTION TEXT, F_TIME TEXT)",
              ["i", f"1+{h(1, 200000)}", cn(2, 6, 2), when(3)], 400_000, min_rows=100,
              indexes=["CREATE INDEX IDX_CONTACTLOG_CONTACT ON TCONTACTLOG(F_CONTACTID)"],
              delete_every=41),
        Table("TDEPT", "CREATE TABLE TDEPT(F_ID INTEGER PRIMARY KEY, F_PARENTID INTEGER, "
              "F_NAME TEXT, F_PATH TEXT)",
              ["i", f"{h(1, 1000)}", cn(3, 10, 2), asc(10, 60, 3)], 5_000, min_rows=20),
        Table("TDEPTMEMBER", "CREATE TABLE TDEPTMEMBER(F_DEPTID INTEGER, F_USERID INTEGER, "
              "F_TITLE TEXT, F_ORDER INTEGER, PRIMARY KEY(F_DEPTID, F_USERID)) WITHOUT ROWID",
              [f"1+i%5000", "i", cn(2, 6, 2), h(3, 1000)], 300_000, min_rows=50),
        Table("TORGUSER", "CREATE TABLE TORGUSER(F_ID INTEGER PRIMARY KEY, F_ACCOUNT TEXT UNIQUE, "
              "F_NAME TEXT, F_PINYIN TEXT, F_MOBILE TEXT, F_EMAIL TEXT, F_AVATARID INTEGER, "
              "F_STATUS INTEGER)",
              ["i", "'u'||i||" + asc(4, 10, 1), cn(2, 4, 2), asc(6, 18, 3),
               f"'139'||{h(4, 99999999)}", asc(8, 20, 5) + "||'@corp.cn'", h(6, 20000),
               h(7, 4)], 400_000, min_rows=50,
              indexes=["CREATE INDEX IDX_ORGUSER_PINYIN ON TORGUSER(F_PINYIN)"]),
        Table("TTAG", "CREATE TABLE TTAG(F_ID INTEGER PRIMARY KEY, F_NAME TEXT)",
              ["i", cn(2, 6, 1)], 0, min_rows=200),
        Table("TCONTACTTAG", "CREATE TABLE TCONTACTTAG(F_CONTACTID INTEGER, F_TAGID INTEGER)",
              [f"1+{h(1, 200000)}", f"1+{h(2, 200)}"], 400_000, min_rows=100,
              indexes=["CREATE INDEX IDX_CONTACTTAG_CONTACT ON TCONTACTTAG(F_CONTACTID)",
                       "CREATE INDEX IDX_CONTACTTAG_TAG ON TCONTACTTAG(F_TAGID)"]),
        Table("TFRIENDREQ", "CREATE TABLE TFRIENDREQ(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, "
              "F_FROM INTEGER, F_TO INTEGER, F_MSG TEXT, F_STATUS INTEGER, F_TIME TEXT)",
              ["i", h(1, 300000), h(2, 300000), cn(0, 30, 3), h(4, 3), when(5)], 50_000,
              min_rows=20),
        Table("TBLACKLIST", "CREATE TABLE TBLACKLIST(F_USERID INTEGER PRIMARY KEY, F_TIME TEXT)",
              [f"i*97", when(1)], 1_000, min_rows=10),
        Table("TGROUPCHAT", "CREATE TABLE TGROUPCHAT(F_ID INTEGER PRIMARY KEY, F_NAME TEXT, "
              "F_OWNER INTEGER, F_NOTICE TEXT, F_CREATED TEXT)",
              ["i", cn(3, 12, 1), h(2, 300000), cn(0, 200, 3), when(4)], 20_000, min_rows=20),
        # The new version indexes members by user as well: no longer the old definition.
        Table("TGROUPCHATMEMBER", "CREATE TABLE TGROUPCHATMEMBER(F_GROUPID INTEGER, "
              "F_USERID INTEGER, F_NICK TEXT, F_ROLE INTEGER, F_JOINED TEXT)",
              [f"1+{h(1, 20000)}", "i", cn(0, 8, 2), h(3, 3), when(4)], 600_000, min_rows=100,
              indexes=["CREATE UNIQUE INDEX IDX_GCM_GROUP "
                       "ON TGROUPCHATMEMBER(F_GROUPID, F_USERID)"],
              new_sql="CREATE TABLE TGROUPCHATMEMBER(F_GROUPID INTEGER, F_USERID INTEGER, "
                      "F_NICK TEXT, F_ROLE INTEGER, F_JOINED TEXT); "
                      "CREATE UNIQUE INDEX IDX_GCM_GROUP ON TGROUPCHATMEMBER(F_GROUPID, F_USERID); "
                      "CREATE INDEX IDX_GCM_USER ON TGROUPCHATMEMBER(F_USERID);"),
        Table("TSETTING", "CREATE TABLE TSETTING(F_KEY TEXT PRIMARY KEY, F_VALUE TEXT)",
              ["'key.'||i||'.'||" + asc(4, 16, 1), asc(0, 60, 2)], 0, min_rows=500),
        Table("TNOTICE", "CREATE TABLE TNOTICE(F_ID INTEGER PRIMARY KEY, F_TITLE TEXT, "
              "F_BODY TEXT, F_TIME TEXT, F_READ INTEGER)",
              ["i", cn(6, 30, 1), cn(200, 1500, 2), when(3), h(4, 2)], 16_000, min_rows=10),
        Table("TCALLLOG", "CREATE TABLE TCALLLOG(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, "
              "F_PEER INTEGER, F_TYPE INTEGER, F_START TEXT, F_SECONDS INTEGER)",
              ["i", h(1, 300000), h(2, 3), when(3), h(4, 7200)], 100_000, min_rows=10),
    ] + extra_tables(extra_item_count // 5), weight=1.4, old_sql=[
        "CREATE TRIGGER TR_CONTACT_DELETE AFTER DELETE ON TCONTACT BEGIN "
        "INSERT INTO TCONTACTLOG(F_CONTACTID, F_ACTION, F_TIME) "
        "VALUES (old.F_ID, 'delete', old.F_UPDATED); END",
    ])

    chat = Database(2, "chat.s3db", "data\\chat", 1024, [
        version_table(),
        Table("TMESSAGE", "CREATE TABLE TMESSAGE(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, "
              "F_CONTACTID INTEGER, F_DIRECTION INTEGER, F_TYPE INTEGER, F_TEXT TEXT, "
              "F_TIME TEXT, F_STATUS INTEGER, F_MSGUID TEXT)",
              ["i", f"1+{h(1, 200000)}", h(2, 2), h(3, 4), cn(2, 90, 4), when(5), h(6, 3),
               uid(7)], 1_600_000, min_rows=1000,
              indexes=["CREATE INDEX IDX_MESSAGE_CONTACT ON TMESSAGE(F_CONTACTID, F_TIME)",
                       "CREATE UNIQUE INDEX IDX_MESSAGE_UID ON TMESSAGE(F_MSGUID)"],
              delete_every=97),
        Table("TGROUPMESSAGE", "CREATE TABLE TGROUPMESSAGE(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, "
              "F_GROUPID INTEGER, F_SENDER INTEGER, F_TEXT TEXT, F_TIME TEXT, F_MSGUID TEXT)",
              ["i", f"1+{h(1, 20000)}", h(2, 300000), cn(2, 120, 3), when(4), uid(5)], 900_000,
              min_rows=500,
              indexes=["CREATE INDEX IDX_GROUPMESSAGE_GROUP ON TGROUPMESSAGE(F_GROUPID, F_TIME)"]),
        Table("TSESSION", "CREATE TABLE TSESSION(F_ID INTEGER PRIMARY KEY, F_PEER INTEGER, "
              "F_TYPE INTEGER, F_LASTMSG TEXT, F_UNREAD INTEGER, F_TOP INTEGER, F_TIME TEXT)",
              ["i", "i", h(2, 2), cn(2, 40, 3), h(4, 20), h(5, 2), when(6)], 5_000, min_rows=50),
        # The new version stores sizes as integers: no longer the old definition.
        Table("TFILEMSG", "CREATE TABLE TFILEMSG(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, "
              "F_MSGID INTEGER, F_NAME TEXT, F_SIZE TEXT, F_PATH TEXT, F_MD5 TEXT, "
              "F_STATE INTEGER)",
              ["i", h(1, 1600000), cn(2, 20, 2) + "||'.docx'", f"''||{h(3, 50000000)}",
               "'D:\\Vennic\\RecvFile\\'||" + asc(6, 40, 4), md5(5),
               h(6, 3)], 100_000, min_rows=20,
              indexes=["CREATE INDEX IDX_FILEMSG_MSG ON TFILEMSG(F_MSGID)"],
              new_sql="CREATE TABLE TFILEMSG(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, "
                      "F_MSGID INTEGER, F_NAME TEXT, F_SIZE INTEGER, F_PATH TEXT, F_MD5 TEXT, "
                      "F_STATE INTEGER); CREATE INDEX IDX_FILEMSG_MSG ON TFILEMSG(F_MSGID);"),
        Table("TIMAGEMSG", "CREATE TABLE TIMAGEMSG(F_ID INTEGER PRIMARY KEY, F_MSGID INTEGER, "
              "F_THUMB BLOB, F_WIDTH INTEGER, F_HEIGHT INTEGER)",
              ["i", h(1, 1600000), blob(800, 4000, 2), f"64+{h(3, 1800)}", f"64+{h(4, 1000)}"],
              20_000, min_rows=10),
        Table("TREADMARK", "CREATE TABLE TREADMARK(F_SESSIONID INTEGER PRIMARY KEY, "
              "F_MSGID INTEGER, F_TIME TEXT)",
              ["i", h(1, 1600000), when(2)], 5_000, min_rows=50),
        Table("TDRAFT", "CREATE TABLE TDRAFT(F_SESSIONID INTEGER PRIMARY KEY, F_TEXT TEXT)",
              ["i", cn(1, 200, 1)], 0, min_rows=500),
        Table("TRECALL", "CREATE TABLE TRECALL(F_MSGUID TEXT PRIMARY KEY, F_TIME TEXT) "
              "WITHOUT ROWID",
              [uid(11), when(1)], 20_000, min_rows=10),
        Table("TATME", "CREATE TABLE TATME(F_ID INTEGER PRIMARY KEY, F_GROUPID INTEGER, "
              "F_MSGID INTEGER, F_READ INTEGER)",
              ["i", f"1+{h(1, 20000)}", h(2, 900000), h(3, 2)], 30_000, min_rows=10,
              indexes=["CREATE INDEX IDX_ATME_GROUP ON TATME(F_GROUPID)"]),
        Table("TMSGKEYWORD", "CREATE TABLE TMSGKEYWORD(F_WORD TEXT, F_MSGID INTEGER)",
              [cn(1, 3, 1), h(2, 1600000)], 800_000, min_rows=100,
              indexes=["CREATE INDEX IDX_MSGKEYWORD_WORD ON TMSGKEYWORD(F_WORD)"]),
        Table("TEMOTIONUSE", "CREATE TABLE TEMOTIONUSE(F_CODE TEXT PRIMARY KEY, F_COUNT INTEGER, "
              "F_LAST TEXT)",
              ["'[e'||i||']'", h(1, 1000), when(2)], 0, min_rows=300),
    ], old_sql=[
        "CREATE TRIGGER TR_MESSAGE_SESSION AFTER INSERT ON TMESSAGE BEGIN "
        "UPDATE TSESSION SET F_UNREAD = F_UNREAD + 1, F_TIME = new.F_TIME "
        "WHERE F_PEER = new.F_CONTACTID; END",
    ])

    files = Database(3, "files.s3db", "data\\files", 4096, [
        version_table(),
        Table("TFILECACHE", "CREATE TABLE TFILECACHE(F_ID INTEGER PRIMARY KEY, F_URL TEXT, "
              "F_MD5 TEXT, F_DATA BLOB, F_TIME TEXT)",
              ["i", "'https://cdn.vennic.cn/f/'||" + asc(10, 40, 1),
               md5(2), blob(2000, 16000, 3), when(4)], 8_000,
              min_rows=10,
              indexes=["CREATE INDEX IDX_FILECACHE_MD5 ON TFILECACHE(F_MD5)"]),
        Table("TEMOJIPACK", "CREATE TABLE TEMOJIPACK(F_ID INTEGER PRIMARY KEY, F_NAME TEXT, "
              "F_ORDER INTEGER)",
              ["i", cn(2, 6, 1), "i"], 0, min_rows=50),
        Table("TEMOJI", "CREATE TABLE TEMOJI(F_ID INTEGER PRIMARY KEY, F_PACKID INTEGER, "
              "F_NAME TEXT, F_DATA BLOB)",
              ["i", f"1+{h(1, 50)}", cn(1, 4, 2), blob(1000, 8000, 3)], 5_000, min_rows=10),
        Table("TAVATAR", "CREATE TABLE TAVATAR(F_USERID INTEGER PRIMARY KEY, F_MD5 TEXT, "
              "F_DATA BLOB, F_TIME TEXT)",
              ["i", md5(1), blob(1000, 4000, 2), when(3)], 20_000,
              min_rows=10),
        Table("TDOWNLOAD", "CREATE TABLE TDOWNLOAD(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, "
              "F_URL TEXT, F_PATH TEXT, F_SIZE INTEGER, F_DONE INTEGER, F_TIME TEXT)",
              ["i", "'https://dl.vennic.cn/'||" + asc(10, 60, 1),
               "'D:\\Vennic\\Download\\'||" + cn(2, 12, 2), h(3, 100000000), h(4, 2), when(5)],
              50_000, min_rows=10),
        Table("TSKIN", "CREATE TABLE TSKIN(F_NAME TEXT PRIMARY KEY, F_DATA BLOB)",
              ["'skin'||i", blob(30000, 60000, 1)], 0, min_rows=20),
        Table("TSYNCSTATE", "CREATE TABLE TSYNCSTATE(F_KEY TEXT PRIMARY KEY, F_VALUE INTEGER)",
              ["'sync.'||i", h(1, 1 << 40)], 0, min_rows=100),
        Table("TLOGUPLOAD", "CREATE TABLE TLOGUPLOAD(F_ID INTEGER PRIMARY KEY AUTOINCREMENT, "
              "F_FILE TEXT, F_STATE INTEGER, F_TIME TEXT)",
              ["i", "'log\\'||" + asc(8, 20, 1) + "||'.log'", h(2, 3), when(3)], 2_000,
              min_rows=10),
    ])
    return [user, chat, files]


def pools():
    rng = random.Random(20260520)
    # Chinese text as chat messages have it: mostly CJK ideographs (all of them exist in
    # code page 936), some ASCII, spaces and full-width punctuation.
    punct = "，。！？、：；（）"
    chars = []
    for _ in range(CN_POOL_LEN):
        r = rng.random()
        if r < 0.80:
            chars.append(chr(rng.randint(0x4E00, 0x9FA5)))
        elif r < 0.88:
            chars.append(rng.choice(punct))
        elif r < 0.93:
            chars.append(" ")
        else:
            chars.append(rng.choice("abcdefghijklmnopqrstuvwxyz0123456789"))
    cn_pool = "".join(chars)
    ascii_pool = "".join(rng.choice("abcdefghijklmnopqrstuvwxyz0123456789_")
                         for _ in range(ASCII_POOL_LEN))
    blob_pool = rng.randbytes(BLOB_POOL_LEN)
    return cn_pool, blob_pool, ascii_pool


def build_database(path, db, size_mib, pool):
    if os.path.exists(path):
        os.remove(path)
    con = sqlite3.connect(path, isolation_level=None)
    con.execute(f"PRAGMA page_size={db.page_size}")
    con.execute("PRAGMA journal_mode=OFF")
    con.execute("PRAGMA synchronous=OFF")
    con.execute("PRAGMA cache_size=-262144")
    con.execute("BEGIN")
    counts = {}
    for t in db.tables:
        con.execute(t.sql)
        if t.name == "TVERSION":
            rows = [("TMAIN", OLD_VERSION)] + [(x.name, OLD_VERSION) for x in db.tables]
            con.executemany("INSERT INTO TVERSION VALUES(?,?)", rows)
            counts[t.name] = len(rows)
            continue
        n = t.row_count(size_mib, db.weight)
        con.execute(
            f"WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM c WHERE i<?4) "
            f"INSERT INTO {t.name} SELECT {', '.join(t.values)} FROM c",
            (pool[0], pool[1], pool[2], n))
        for ix in t.indexes:
            con.execute(ix)
        if t.delete_every:
            # Rows the user deleted: gaps in the ids, partly filled pages.
            first_col = t.sql.split("(", 1)[1].split()[0]
            con.execute(f"DELETE FROM {t.name} WHERE {first_col} % {t.delete_every} = 0")
        counts[t.name] = con.execute(f"SELECT count(*) FROM {t.name}").fetchone()[0]
    for sql in db.old_sql:
        con.execute(sql)
    con.execute("COMMIT")
    con.close()
    return counts


def items(dbs):
    """The script's items in file order, as (database number, kind, item text, body)."""
    out = []
    user, chat, files = dbs
    for db in dbs:
        for t in db.tables:
            if not t.name.startswith("TX"):
                out.append((db.number, "TABLE", t.name, t.script_body()))
        if db is user:
            out += [
                (1, "ALTER", "TCONTACT,F_REMARK", "TEXT"),
                (1, "ALTER", "TCONTACT,F_STAR", "INTEGER DEFAULT 0"),
                (1, "ALTER", "TORGUSER,F_SIGNATURE", "TEXT DEFAULT '还没有签名'"),
                (1, "TRIGGER", "TR_CONTACT_DELETE", user.old_sql[0] + ";"),
                (1, "SQLONE", "8.1.0.0", "UPDATE TCONTACT SET F_STAR = 1 WHERE F_GROUPID = 2;"),
                (1, "SQLONE", "8.0.0.2", "INSERT INTO TGROUP VALUES (9999, '旧版分组');"),
            ]
            out += extra_items([t for t in db.tables if t.name.startswith("TX")])
        elif db is chat:
            out += [
                (2, "TABLE", "TCONVSTAT",
                 "CREATE TABLE TCONVSTAT(F_CONTACTID INTEGER PRIMARY KEY, F_NAME TEXT, "
                 "F_COUNT INTEGER, F_LAST TEXT);"),
                (2, "ALTER", "TMESSAGE,F_READ", "INTEGER DEFAULT 1"),
                (2, "ALTER", "TSESSION,F_MUTE", "INTEGER DEFAULT 0"),
                (2, "TRIGGER", "TR_MESSAGE_SESSION", chat.old_sql[0] + ";"),
                (2, "SQLTWO", "8.1.0.0,DBN1",
                 "INSERT INTO TCONVSTAT SELECT c.F_ID, c.F_NAME, count(*), max(m.F_TIME) "
                 "FROM TMESSAGE m JOIN NEW_DB.TCONTACT c ON c.F_ID = m.F_CONTACTID "
                 "GROUP BY c.F_ID;"),
                (2, "SQLONE", "8.1.0.1", "UPDATE TSESSION SET F_MUTE = 1 WHERE F_TOP = 1;"),
            ]
        else:
            out += [
                (3, "ALTER", "TFILECACHE,F_HITS", "INTEGER DEFAULT 0"),
            ]
    return out


def script_text(dbs, script_items):
    lines = ["HEAD", "UPDATETIME=2026-05-20 09:00:00", "MAIN=2100",
             "DATABASEFILE=import.s3db", f"DBNCOUNT={len(dbs)}"]
    for db in dbs:
        lines += [f"DBN{db.number}={db.file}", f"MAINDBVER{db.number}={NEW_VERSION}",
                  f"DBNPATH{db.number}={db.folder}"]
    for number, kind, text, body in script_items:
        lines += [f"<DBNAME:DBN{number}>", f"<NAME:{kind}>", text, "<BEGIN>", body, "<END>"]
    return "\n".join(lines) + "\n"


def sql_quote(text):
    return "'" + text.replace("'", "''") + "'"


def reference_sql(dbs, script_items):
    """What the migration does, as sqlite3 shell input run in the installation folder
    after every database has been moved to "<path>.tmp": one fresh file per database, the
    same statements in the same transactions, the old rows attached as OLD."""
    by_number = {db.number: db for db in dbs}
    out = [".bail on"]
    current = None
    for number, kind, text, body in script_items:
        db = by_number[number]
        if current is not db:
            if current is not None:
                out.append(version_update(current))
            out.append(f".open {sql_quote(db.relpath.replace(os.sep, '/'))}")
            out.append(f"ATTACH {sql_quote(db.relpath.replace(os.sep, '/') + '.tmp')} AS OLD;")
            current = db
        if kind == "TABLE":
            out.append(body)
            if any(t.name == text for t in db.tables):
                out.append(f"BEGIN; INSERT INTO main.{text} SELECT * FROM OLD.{text}; COMMIT;")
        elif kind == "ALTER":
            table, column = text.split(",", 1)
            out.append(f"ALTER TABLE '{table}' ADD '{column}' {body};")
        elif kind == "TRIGGER":
            out.append(body)
        elif kind == "SQLONE":
            if version_key(text) > version_key(OLD_VERSION):
                out.append(body)
        elif kind == "SQLTWO":
            version, ref = text.split(",", 1)
            other = by_number[int(ref[3:])]
            if version_key(version) > version_key(OLD_VERSION):
                path = other.relpath.replace(os.sep, "/") + ".tmp"
                out.append(f"ATTACH {sql_quote(path)} AS NEW_DB; BEGIN; {body} COMMIT; "
                           f"DETACH NEW_DB;")
    out.append(version_update(current))
    return "\n".join(out) + "\n"


def version_key(text):
    return tuple(int(p) for p in text.split("."))


def version_update(db):
    return (f"UPDATE TVERSION SET F_TABLEVERSION='{NEW_VERSION}' WHERE F_TABLENAME='TMAIN';")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size-mib", type=float, required=True,
                        help="total size of the three databases, about")
    parser.add_argument("--dbrtool", required=True, help="dbrtool, to scramble the script")
    parser.add_argument("--vennic", required=True, help="the client executable to put in")
    parser.add_argument("--extra-items", type=int, default=0,
                        help="items to add to the script (5 per small table of DB.s3db)")
    parser.add_argument("out", help="installation folder to make (replaced)")
    args = parser.parse_args()

    start = time.monotonic()
    if os.path.exists(args.out):
        shutil.rmtree(args.out)
    os.makedirs(args.out)
    dbs = databases(args.extra_items)
    pool = pools()
    manifest = {"size_mib": args.size_mib, "extra_items": args.extra_items,
                "old_version": OLD_VERSION,
                "new_version": NEW_VERSION, "databases": []}
    for db in dbs:
        path = os.path.join(args.out, db.relpath)
        os.makedirs(os.path.dirname(path) or args.out, exist_ok=True)
        counts = build_database(path, db, args.size_mib, pool)
        manifest["databases"].append({
            "number": db.number, "path": db.relpath.replace(os.sep, "/"),
            "page_size": db.page_size, "bytes": os.path.getsize(path),
            "tables": counts})

    script_items = items(dbs)
    text = script_text(dbs, script_items)
    with open(os.path.join(args.out, "upgrade.txt"), "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    env = dict(os.environ, QUORVEL_CODEPAGE="936")
    subprocess.run([args.dbrtool, "encode", os.path.join(args.out, "upgrade.txt"),
                    os.path.join(args.out, "upgrade.dbr")], check=True, env=env,
                   stdout=subprocess.DEVNULL)
    with open(os.path.join(args.out, "reference.sql"), "w", encoding="utf-8") as f:
        f.write(reference_sql(dbs, script_items))
    shutil.copyfile(args.vennic, os.path.join(args.out, "vennic.exe"))

    total = sum(d["bytes"] for d in manifest["databases"])
    manifest["total_bytes"] = total
    manifest["rows"] = sum(sum(d["tables"].values()) for d in manifest["databases"])
    manifest["tables"] = sum(len(d["tables"]) for d in manifest["databases"])
    manifest["items"] = len(script_items)
    manifest["generate_seconds"] = round(time.monotonic() - start, 2)
    with open(os.path.join(args.out, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=2)
    print(f"generated {args.out}: {manifest['tables']} tables, {manifest['rows']} rows, "
          f"{total / 2**20:.1f} MiB, {len(script_items)} script items, "
          f"{manifest['generate_seconds']} s", file=sys.stderr)


if __name__ == "__main__":
    main()
