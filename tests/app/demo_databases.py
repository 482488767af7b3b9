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
