#!/usr/bin/env python3
"""Checks of the benchmark's own tools: the generator makes what the runner and quorvel
expect, the reference statements give the rows quorvel gives, and the runner's figures
are read and compared correctly.

    test_bench.py QUORVEL DBRTOOL VENNIC        (CTest passes the built programs)
"""

import argparse
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import generate  # noqa: E402
import perf_buckets  # noqa: E402
import run  # noqa: E402
import xfer_check  # noqa: E402

PROGRAMS = {}


def generate_into(folder, size, extra=0):
    subprocess.run([sys.executable, os.path.join(HERE, "generate.py"), "--size-mib", str(size),
                    "--extra-items", str(extra), "--dbrtool", PROGRAMS["dbrtool"],
                    "--vennic", PROGRAMS["vennic"], folder],
                   check=True, stderr=subprocess.DEVNULL)
    with open(os.path.join(folder, "manifest.json")) as f:
        return json.load(f)


class GeneratorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="bench-test-")
        cls.folder = os.path.join(cls.tmp, "install")
        cls.manifest = generate_into(cls.folder, 2)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def test_installation_as_the_client_leaves_it(self):
        m = self.manifest
        self.assertEqual([d["path"] for d in m["databases"]],
                         ["DB.s3db", "data/chat/chat.s3db", "data/files/files.s3db"])
        self.assertEqual([d["page_size"] for d in m["databases"]], [4096, 1024, 4096])
        for name in ("vennic.exe", "upgrade.dbr", "upgrade.txt", "reference.sql"):
            self.assertTrue(os.path.isfile(os.path.join(self.folder, name)), name)
        for d in m["databases"]:
            path = os.path.join(self.folder, d["path"])
            self.assertEqual(os.path.getsize(path), d["bytes"])
            with sqlite3.connect(path) as con:
                self.assertEqual(con.execute("PRAGMA page_size").fetchone()[0], d["page_size"])
                self.assertEqual(con.execute("PRAGMA integrity_check").fetchone()[0], "ok")
                self.assertEqual(
                    con.execute("SELECT F_TABLEVERSION FROM TVERSION "
                                "WHERE F_TABLENAME='TMAIN'").fetchone()[0], m["old_version"])
                for table, rows in d["tables"].items():
                    self.assertEqual(con.execute(f"SELECT count(*) FROM {table}").fetchone()[0],
                                     rows, table)
        self.assertEqual(m["tables"], 38)

    def test_rows_hold_chinese_text_blobs_and_gaps(self):
        chat = os.path.join(self.folder, "data", "chat", "chat.s3db")
        with sqlite3.connect(chat) as con:
            text = "".join(r[0] for r in con.execute("SELECT F_TEXT FROM TMESSAGE LIMIT 50"))
            self.assertGreater(sum(1 for c in text if 0x4E00 <= ord(c) <= 0x9FA5), 100)
            self.assertEqual(con.execute("SELECT typeof(F_THUMB) FROM TIMAGEMSG LIMIT 1")
                             .fetchone()[0], "blob")
            # Deleted messages leave gaps in the ids, and the counter stays past them.
            count, top = con.execute("SELECT count(*), max(F_ID) FROM TMESSAGE").fetchone()
            self.assertLess(count, top)
            seq = con.execute("SELECT seq FROM sqlite_sequence WHERE name='TMESSAGE'").fetchone()
            self.assertGreaterEqual(seq[0], top)
            self.assertEqual(con.execute("SELECT count(*) FROM sqlite_master WHERE type='trigger'")
                             .fetchone()[0], 1)

    def test_same_size_same_bytes(self):
        again = os.path.join(self.tmp, "again")
        generate_into(again, 2)
        for d in self.manifest["databases"] + [{"path": "upgrade.dbr"}]:
            with open(os.path.join(self.folder, d["path"]), "rb") as a, \
                    open(os.path.join(again, d["path"]), "rb") as b:
                self.assertEqual(a.read(), b.read(), d["path"])

    def test_size_follows_the_request(self):
        bigger = generate_into(os.path.join(self.tmp, "bigger"), 20)
        self.assertGreater(bigger["total_bytes"], 15 * 2**20)
        self.assertLess(bigger["total_bytes"], 26 * 2**20)
        self.assertGreater(bigger["rows"], 5 * self.manifest["rows"])

    def test_script_reads_back_with_every_item(self):
        check = subprocess.run([PROGRAMS["dbrtool"], "check",
                                os.path.join(self.folder, "upgrade.dbr")],
                               capture_output=True, text=True,
                               env=dict(os.environ, QUORVEL_CODEPAGE="936"))
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        decoded = subprocess.run([PROGRAMS["dbrtool"], "decode",
                                  os.path.join(self.folder, "upgrade.dbr")],
                                 capture_output=True, text=True, check=True,
                                 env=dict(os.environ, QUORVEL_CODEPAGE="936")).stdout
        with open(os.path.join(self.folder, "upgrade.txt"), encoding="utf-8") as f:
            self.assertEqual(decoded, f.read())
        self.assertEqual(decoded.count("<NAME:"), self.manifest["items"])
        self.assertEqual(decoded.count("<NAME:TABLE>"), 39)

    def test_extra_items_come_five_per_table(self):
        dbs = generate.databases(20)
        script = generate.items(dbs)
        base = generate.items(generate.databases(0))
        self.assertEqual(len(script) - len(base), 20)
        extra = [i for i in script if i[2].startswith(("TX", "TR_TX")) or "TX0" in i[3]]
        self.assertEqual(sorted(set(i[1] for i in extra)),
                         ["ALTER", "SQLONE", "SQLTWO", "TABLE", "TRIGGER"])

    def test_only_the_changed_column_type_loses_the_raw_record_copy(self):
        # TGROUPCHATMEMBER gains an index, made after its rows; TFILEMSG changes a type.
        copies = xfer_check.table_copies(self.folder)
        self.assertEqual(len(copies), 38)
        self.assertEqual([(p, t) for p, t, yes in copies if not yes],
                         [("data/chat/chat.s3db", "TFILEMSG")])

    def test_reference_runs_only_the_due_data_statements(self):
        ref = generate.reference_sql(generate.databases(0), generate.items(generate.databases(0)))
        self.assertIn("UPDATE TCONTACT SET F_STAR = 1", ref)  # 8.1.0.0: due
        self.assertNotIn("旧版分组", ref)  # 8.0.0.2: older than the databases
        self.assertIn("ATTACH 'DB.s3db.tmp' AS NEW_DB", ref)
        self.assertNotIn("SELECT * FROM OLD.TCONVSTAT", ref)  # a new table has no rows
        self.assertEqual(ref.count("UPDATE TVERSION SET F_TABLEVERSION"), 3)


@unittest.skipUnless(os.path.exists(run.TIME), "GNU time (package time) is missing")
class RunnerTest(unittest.TestCase):
    def test_quorvel_and_the_shell_give_the_same_rows(self):
        with tempfile.TemporaryDirectory(prefix="bench-test-") as work:
            args = argparse.Namespace(
                work=work, dbrtool=PROGRAMS["dbrtool"], vennic=PROGRAMS["vennic"],
                sqlite3="sqlite3", reps=1, methods=["a", "b", "c", "d"],
                binaries={"a": PROGRAMS["quorvel"]}, environments={}, check_every_run=False)
            result = run.measure(args, 2, 10)
            self.assertEqual(result["failures"], [])
            self.assertEqual(result["rows_identical_to_b"], {"a": True})
            self.assertEqual(result["script_items"], 61)
            for m in "abcd":
                med = result["median"][m]
                self.assertGreater(med["wall_s"], 0)
                self.assertGreater(med["max_rss_kib"], 500)
            med = result["median"]
            self.assertAlmostEqual(result["ratios"]["a/b"],
                                   med["a"]["wall_s"] / med["b"]["wall_s"], places=2)
            # Every table of every database was compared: 17, 2 more for the extra items,
            # sqlite_sequence.
            sums = result["checksums"]
            self.assertEqual(sums["DB.s3db"]["tables"], 17 + 2 + 1)
            self.assertEqual(len(sums["data/chat/chat.s3db"]["sha256"]), 64)

    def test_a_build_that_loses_a_row_is_reported(self):
        with tempfile.TemporaryDirectory(prefix="bench-test-") as work:
            # A "quorvel" that migrates and then deletes one carried row.
            bad = os.path.join(work, "bad-quorvel")
            with open(bad, "w") as f:
                f.write(f"#!/bin/sh\ncp '{PROGRAMS['quorvel']}' ./quorvel.real || exit 9\n"
                        "./quorvel.real \"$@\" || exit $?\n"
                        "exec sqlite3 data/chat/chat.s3db 'DELETE FROM TSESSION WHERE F_ID = 7'\n")
            os.chmod(bad, 0o755)
            args = argparse.Namespace(
                work=work, dbrtool=PROGRAMS["dbrtool"], vennic=PROGRAMS["vennic"],
                sqlite3="sqlite3", reps=1, methods=["b", "a:bad"],
                binaries={"a:bad": bad}, environments={}, check_every_run=False)
            result = run.measure(args, 1, 0)
            self.assertEqual(result["rows_identical_to_b"], {"a:bad": False})
            self.assertEqual(result["failures"],
                             ["a:bad and b differ: data/chat/chat.s3db:TSESSION"])

    def test_a_damaged_result_is_caught(self):
        with tempfile.TemporaryDirectory(prefix="bench-test-") as work:
            folder = os.path.join(work, "install")
            manifest = generate_into(folder, 1)
            args = argparse.Namespace(sqlite3="sqlite3")
            target = os.path.join(work, "run")
            run.fresh_copy(folder, manifest, target, None)
            # Not migrated: old versions, and (below) a file left beside a database.
            self.assertEqual(len(run.check_migrated(target, manifest, args)), 3)
            open(os.path.join(target, "DB.s3db.tmp"), "w").close()
            problems = run.check_migrated(target, manifest, args)
            self.assertIn("left beside DB.s3db: DB.s3db.tmp", problems)

            before = run.checksums(target, manifest, args)
            with sqlite3.connect(os.path.join(target, "data", "chat", "chat.s3db")) as con:
                con.execute("UPDATE TMESSAGE SET F_STATUS = F_STATUS + 1 WHERE F_ID = 5")
            after = run.checksums(target, manifest, args)
            self.assertEqual(run.differences(after, before), ["data/chat/chat.s3db:TMESSAGE"])
            with sqlite3.connect(os.path.join(target, "DB.s3db")) as con:
                con.execute("CREATE INDEX IDX_X ON TUSER(F_NAME)")
            self.assertIn("DB.s3db:(schema)",
                          run.differences(run.checksums(target, manifest, args), before))

    def test_measures_the_child_not_the_runner(self):
        with tempfile.TemporaryDirectory(prefix="bench-test-") as work:
            script = os.path.join(work, "burn.py")
            with open(script, "w") as f:
                f.write("import sys\nx = bytearray(64 << 20)\nsum(range(3_000_000))\n"
                        "sys.exit(3)\n")
            status, wall, cpu, rss = run.run_measured([sys.executable, script], work)
            self.assertEqual(status, 3)
            self.assertGreater(rss, 64 * 1024)
            self.assertGreater(cpu, 0.01)
            self.assertGreaterEqual(wall, cpu * 0.5)
            status, _, _, rss = run.run_measured(["true"], work)
            self.assertEqual(status, 0)
            self.assertLess(rss, 16 * 1024)  # not this Python process's memory
            self.assertFalse(os.path.exists(os.path.join(work, ".measure")))


class XferTest(unittest.TestCase):
    def test_what_breaks_the_raw_record_copy(self):
        results = dict(xfer_check.condition_results())
        self.assertTrue(results["same definition, same indexes"])
        self.assertTrue(results["the old table has an index more"])
        self.assertTrue(results["AUTOINCREMENT in both"])
        self.assertFalse(results["the new table has an index more"])
        self.assertFalse(results["a trigger on the new table exists before the copy"])
        self.assertFalse(results["REFERENCES clause, PRAGMA foreign_keys=ON"])
        self.assertFalse(results["a column type of another affinity (TEXT -> INTEGER)"])


class BucketTest(unittest.TestCase):
    def test_kinds_of_work(self):
        cases = {
            ("[kernel.kallsyms]", "k", "copy_folio_from_iter_atomic"):
                "kernel: copying file data to and from the page cache",
            ("[kernel.kallsyms]", "k", "jbd2_journal_commit_transaction"):
                "kernel: file system, journal and sync",
            ("libsqlite3.so.0", ".", "sqlite3BtreeTableMoveto"):
                "SQLite B-tree (cells, pages, balance)",
            ("libsqlite3.so.0", ".", "balance_nonroot"): "SQLite B-tree (cells, pages, balance)",
            ("libsqlite3.so.0", ".", "vdbeSorterSort"): "SQLite sorter (CREATE INDEX, GROUP BY)",
            ("libsqlite3.so.0", ".", "pcache1Fetch"): "SQLite pager and page cache",
            ("libsqlite3.so.0", ".", "sqlite3VdbeRecordCompare"): "SQLite records and VDBE",
            ("libsqlite3.so.0", ".", "sqlite3RunParser"): "SQLite parsing and planning",
            ("quorvel", ".", "CScriptFile::ReadItem"):
                "quorvel's own code (script reading, conversions, driver)",
        }
        for (dso, kind, sym), want in cases.items():
            self.assertEqual(perf_buckets.bucket(dso, kind, sym), want, sym)

    def test_sums_a_profile(self):
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
            f.write("# header\n"
                    "    40.00%  libsqlite3.so.0    [.] sqlite3BtreeInsert   -  -\n"
                    "    25.50%  libsqlite3.so.0    [.] balance_nonroot      -  -\n"
                    "    20.00%  [kernel.kallsyms]  [k] _copy_to_iter        -  -\n"
                    "    14.50%  quorvel            [.] CScriptFile::ReadItem(ScriptItem&)\n")
        try:
            out = subprocess.run([sys.executable, os.path.join(HERE, "perf_buckets.py"), f.name],
                                 capture_output=True, text=True, check=True).stdout
        finally:
            os.remove(f.name)
        lines = out.splitlines()[1:]
        self.assertEqual(lines[0], "  65.5%  SQLite B-tree (cells, pages, balance)")
        self.assertEqual(lines[1], "  20.0%  kernel: copying file data to and from the page cache")
        self.assertEqual(lines[2],
                         "  14.5%  quorvel's own code (script reading, conversions, driver)")

    def test_parses_perf_lines(self):
        m = perf_buckets.LINE.match(
            "    13.46%  [kernel.kallsyms]     [k] copy_folio_from_iter_atomic     -      -  ")
        self.assertEqual(m.groups(), ("13.46", "[kernel.kallsyms]", "k",
                                      "copy_folio_from_iter_atomic"))


if __name__ == "__main__":
    PROGRAMS["quorvel"], PROGRAMS["dbrtool"], PROGRAMS["vennic"] = map(os.path.abspath,
                                                                      sys.argv[1:4])
    unittest.main(argv=sys.argv[:1] + sys.argv[4:])
