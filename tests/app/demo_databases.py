"""SQLite helpers shared by the scripts that run the program on real installations."""
import contextlib
import os
import sqlite3


@contextlib.contextmanager
def connect(path):
    """A connection that commits and, unlike sqlite3's own context manager, closes: the
    program refuses to move a database that another process still holds open."""
    db = sqlite3.connect(path)
    try:
        with db:
            yield db
    finally:
        db.close()


def query(path, sql):
    with connect(path) as db:
        return db.execute(sql).fetchall()


def make_demo_databases(demo, folder, part="databases"):
    """The databases of the demo installation `demo` (examples/demo), made fresh below
    `folder` from their SQL texts: "databases/x.s3db.sql" makes "x.s3db". `part` names
    another folder of SQL texts of the demo ("fresh": those of a fresh installation)."""
    databases = os.path.join(demo, part)
    for root, _, files in os.walk(databases):
        for name in files:
            target = os.path.join(folder, os.path.relpath(os.path.join(root, name[:-4]),
                                                          databases))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(os.path.join(root, name), encoding="utf-8") as sql, \
                    connect(target) as db:
                db.executescript(sql.read())


def make_history_databases(folder, tables, rows):
    """A client with years of chat history, kept as one table of messages per contact:
    "data/chat/chat.s3db" below `folder`, at version 8.0.0.3, with `tables` tables TMSG_0001...
    of `rows` messages each. Returns the text of a script that brings it to 8.1.0.1 (for
    dbrtool encode): every table made again and given a column F_READ. A migration of it
    takes long for its size: each added column makes SQLite read the whole schema again."""
    path = os.path.join(folder, "data", "chat", "chat.s3db")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    columns = "F_ID INTEGER PRIMARY KEY, F_DIRECTION INTEGER, F_TEXT TEXT, F_TIME TEXT"
    script = ["HEAD", "UPDATETIME=2026-05-20 09:00:00", "MAIN=2100", "DATABASEFILE=import.s3db",
              "DBNCOUNT=1", "DBN1=chat.s3db", "MAINDBVER1=8.1.0.1", "DBNPATH1=data\\chat",
              "<DBNAME:DBN1>", "<NAME:TABLE>", "TVERSION", "<BEGIN>",
              "CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT);", "<END>"]
    with connect(path) as db:
        db.execute("PRAGMA synchronous=OFF")
        db.execute("CREATE TABLE TVERSION(F_TABLENAME TEXT, F_TABLEVERSION TEXT)")
        db.execute("INSERT INTO TVERSION VALUES ('TMAIN', '8.0.0.3')")
        for number in range(1, tables + 1):
            table = f"TMSG_{number:04d}"
            db.execute(f"CREATE TABLE {table}({columns})")
            db.execute(f"""WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n
                                                    WHERE i < {rows})
                           INSERT INTO {table}
                           SELECT i, i % 2, printf('第 %d 条消息：明天上午十点开会，请准时参加。', i),
                                  datetime(1700000000 + i * 97, 'unixepoch') FROM n""")
            script += ["<DBNAME:DBN1>", "<NAME:TABLE>", table, "<BEGIN>",
                       f"CREATE TABLE {table}({columns});", "<END>",
                       "<DBNAME:DBN1>", "<NAME:ALTER>", f"{table},F_READ", "<BEGIN>",
                       "INTEGER DEFAULT 1", "<END>"]
    return "\n".join(script) + "\n"
