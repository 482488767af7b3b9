#!/usr/bin/env python3
"""Whether the table copy of a migration moves raw records (SQLite's transfer optimisation
of INSERT INTO ... SELECT * FROM ...) or decodes and re-encodes every row, told from the
statement's EXPLAIN listing: only the transfer path reads whole records (opcode RowData);
the other one reads column by column.

    xfer_check.py conditions             which differences between the two tables break it
    xfer_check.py INSTALLATION           every TABLE item of a generated installation

`conditions` asks the copy the way the document's design runs it: on the connection of the
old database, with the new file attached as NEW_DB: INSERT INTO NEW_DB."T" SELECT * FROM
main."T". `INSTALLATION` asks it the way quorvel runs it now: on the new file's connection,
the old file attached (INSERT INTO main."T" SELECT * FROM OLD."T"), with the plain CREATE
INDEX statements ending a TABLE item that the old file lacks made only after the rows.
"""

import os
import re
import sqlite3
import sys
import tempfile

COPY = 'INSERT INTO NEW_DB."{0}" SELECT * FROM main."{0}"'


def transfers(con, sql):
    # Some tables (a UNIQUE index, no INTEGER PRIMARY KEY with indexes) get both loops, the
    # transfer taken while the target is empty, as a freshly created table is.
    return any(row[1] == "RowData" for row in con.execute("EXPLAIN " + sql))


def copy_uses_transfer(folder, old_sql, new_sql, table="T", setup_old=(), setup_new=(),
                       reverse=False):
    """Builds an old and a new database from the statements and explains the copy."""
    old_path = os.path.join(folder, "old.db")
    new_path = os.path.join(folder, "new.db")
    for path in (old_path, new_path):
        if os.path.exists(path):
            os.remove(path)
    with sqlite3.connect(old_path) as con:
        con.executescript(old_sql)
    with sqlite3.connect(new_path) as con:
        con.executescript(new_sql)
    if reverse:
        con = sqlite3.connect(new_path)
        for s in setup_new:
            con.execute(s)
        con.execute(f"ATTACH '{old_path}' AS OLD")
        sql = f'INSERT INTO main."{table}" SELECT * FROM OLD."{table}"'
    else:
        con = sqlite3.connect(old_path)
        for s in setup_old:
            con.execute(s)
        con.execute(f"ATTACH '{new_path}' AS NEW_DB")
        sql = COPY.format(table)
    try:
        return transfers(con, sql)
    finally:
        con.close()


BASE = "CREATE TABLE T(F_ID INTEGER PRIMARY KEY, F_A INTEGER, F_B TEXT DEFAULT 'x');" \
       "CREATE INDEX I_A ON T(F_A);"

CONDITIONS = [
    ("same definition, same indexes", BASE, BASE, {}),
    ("same, copied the other way (on the new file's connection, old attached)", BASE, BASE,
     {"reverse": True}),
    ("the old table has an index more", BASE + "CREATE INDEX I_B ON T(F_B);", BASE, {}),
    ("the new table has an index more", BASE, BASE + "CREATE INDEX I_B ON T(F_B);", {}),
    ("the new table has a UNIQUE index the old one lacks", BASE,
     BASE + "CREATE UNIQUE INDEX I_B ON T(F_B);", {}),
    ("a trigger on the new table exists before the copy", BASE,
     BASE + "CREATE TRIGGER TR AFTER INSERT ON T BEGIN SELECT 1; END;", {}),
    ("a trigger on the old table", BASE + "CREATE TRIGGER TR AFTER INSERT ON T BEGIN SELECT 1; "
     "END;", BASE, {}),
    ("REFERENCES clause, foreign keys off (SQLite's default)",
     "CREATE TABLE P(F_ID INTEGER PRIMARY KEY);" + BASE.replace("F_A INTEGER",
                                                                "F_A INTEGER REFERENCES P"),
     "CREATE TABLE P(F_ID INTEGER PRIMARY KEY);" + BASE.replace("F_A INTEGER",
                                                                "F_A INTEGER REFERENCES P"), {}),
    ("REFERENCES clause, PRAGMA foreign_keys=ON",
     "CREATE TABLE P(F_ID INTEGER PRIMARY KEY);" + BASE.replace("F_A INTEGER",
                                                                "F_A INTEGER REFERENCES P"),
     "CREATE TABLE P(F_ID INTEGER PRIMARY KEY);" + BASE.replace("F_A INTEGER",
                                                                "F_A INTEGER REFERENCES P"),
     {"setup_old": ["PRAGMA foreign_keys=ON"]}),
    ("a column type of another affinity (TEXT -> INTEGER)", BASE,
     BASE.replace("F_B TEXT", "F_B INTEGER"), {}),
    ("a column type of the same affinity (TEXT -> VARCHAR(20))", BASE,
     BASE.replace("F_B TEXT", "F_B VARCHAR(20)"), {}),
    ("another DEFAULT on a column after the first", BASE, BASE.replace("'x'", "'y'"), {}),
    ("NOT NULL only in the new table", BASE, BASE.replace("F_A INTEGER", "F_A INTEGER NOT NULL"),
     {}),
    ("a CHECK constraint only in the new table", BASE,
     BASE.replace("F_B TEXT", "F_B TEXT CHECK(F_B <> '')"), {}),
    ("AUTOINCREMENT in both", BASE.replace("PRIMARY KEY", "PRIMARY KEY AUTOINCREMENT"),
     BASE.replace("PRIMARY KEY", "PRIMARY KEY AUTOINCREMENT"), {}),
    ("WITHOUT ROWID in both", "CREATE TABLE T(F_K TEXT PRIMARY KEY, F_V) WITHOUT ROWID;",
     "CREATE TABLE T(F_K TEXT PRIMARY KEY, F_V) WITHOUT ROWID;", {}),
    ("an added column (ALTER) in the old table only",
     BASE + "ALTER TABLE T ADD F_C TEXT;", BASE.replace("DEFAULT 'x')", "DEFAULT 'x', F_C TEXT)"),
     {}),
]


def condition_results():
    """[(condition, raw records?)] for every entry of CONDITIONS."""
    with tempfile.TemporaryDirectory() as folder:
        return [(name, copy_uses_transfer(folder, old_sql, new_sql, **extra))
                for name, old_sql, new_sql, extra in CONDITIONS]


def conditions():
    print(f"SQLite {sqlite3.sqlite_version}; copy: {COPY.format('T')}")
    for name, yes in condition_results():
        print(f"  {'raw records ' if yes else 'row by row  '}  {name}")


def script_items(path):
    """(database number, kind, text, body) of every item of a plain-text script."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    out = []
    i = 0
    while i < len(lines):
        if lines[i].startswith("<DBNAME:DBN"):
            number = int(lines[i][len("<DBNAME:DBN"):-1])
            kind = lines[i + 1][len("<NAME:"):-1]
            text = lines[i + 2]
            end = lines.index("<END>", i)
            out.append((number, kind, text, "".join(lines[i + 4:end])))
            i = end
        i += 1
    return out


PLAIN_INDEX = re.compile(r"\s*CREATE\s+INDEX\s", re.IGNORECASE)


def held_back(statement, old_indexes):
    """True for a statement quorvel runs only after the rows: a plain (not UNIQUE) CREATE
    INDEX whose text the old file does not have."""
    return bool(PLAIN_INDEX.match(statement)) and statement.strip() not in old_indexes


def statements(body):
    """The statements of an item's body, each with its ";" (a trigger's inner ";" kept)."""
    out, current = [], ""
    for piece in body.split(";"):
        current += piece + ";"
        if sqlite3.complete_statement(current):
            out.append(current)
            current = ""
    return [s for s in out if s.strip(" ;\t\r\n")]


def table_copies(folder):
    """[(database path, table, raw records?)] for every TABLE item of the installation that
    has rows to copy, each new table built from its item's statements alone, as quorvel
    builds it before the copy."""
    import json
    with open(os.path.join(folder, "manifest.json")) as f:
        manifest = json.load(f)
    items = script_items(os.path.join(folder, "upgrade.txt"))
    out = []
    with tempfile.TemporaryDirectory() as work:
        for db in manifest["databases"]:
            old = os.path.join(folder, db["path"])
            new = os.path.join(work, os.path.basename(db["path"]))
            with sqlite3.connect(f"file:{old}?mode=ro", uri=True) as con:
                old_indexes = {row[0].strip() for row in con.execute(
                    "SELECT sql FROM sqlite_master WHERE type='index' AND sql IS NOT NULL")}
            with sqlite3.connect(new) as con:
                for number, kind, text, body in items:
                    if number == db["number"] and kind == "TABLE":
                        for statement in statements(body):
                            if not held_back(statement.rstrip("; \t\r\n"), old_indexes):
                                con.execute(statement)
            con = sqlite3.connect(new)
            con.execute("ATTACH ? AS OLD", (old,))
            for number, kind, text, body in items:
                if number == db["number"] and kind == "TABLE" and text in db["tables"]:
                    sql = f'INSERT INTO main."{text}" SELECT * FROM OLD."{text}"'
                    out.append((db["path"], text, transfers(con, sql)))
            con.close()
    return out


def installation(folder):
    copies = table_copies(folder)
    for path, table, yes in copies:
        print(f"  {path:<24} {table:<18} {'raw records' if yes else 'ROW BY ROW'}")
    print(f"{sum(not yes for _, _, yes in copies)} of {len(copies)} tables copied row by row")


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    if sys.argv[1] == "conditions":
        conditions()
    else:
        installation(sys.argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main())
