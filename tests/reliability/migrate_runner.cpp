// Runs the reliability installation's steps as separate processes, for tests that kill a
// migration or hold its files from outside:
//
//   migrate_runner setup FOLDER EXPECTED   build the installation in the new FOLDER and
//                                          write what a migration must keep to EXPECTED
//   migrate_runner migrate FOLDER          one silent migration run; exit 0 when it
//                                          reported success, 3 when it reported failure
//   migrate_runner check FOLDER EXPECTED [--nothing-lost]
//                                          exit 0 when the folder is fully migrated (or,
//                                          with --nothing-lost, when no row is lost);
//                                          prints each problem and the kept files' count
//   migrate_runner client-view FOLDER EXPECTED
//                                          exit 0 when every database path holds a whole
//                                          old or new database, as a client would see it
//   migrate_runner hold DATABASE SECONDS   keeps DATABASE open inside a write transaction
//                                          for SECONDS, as a busy client would
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "reliability/installation.h"

namespace {

WString Arg(const char* text) { return plat::FromNativePath(FromUtf8(text)); }

int Usage() {
    std::fprintf(stderr,
                 "usage: migrate_runner setup FOLDER EXPECTED | migrate FOLDER |\n"
                 "       check FOLDER EXPECTED [--nothing-lost] | client-view FOLDER EXPECTED |\n"
                 "       hold DATABASE SECONDS\n");
    return 2;
}

int Hold(const WString& path, int seconds) {
    sqlite3* db = nullptr;
    if (sqlite3_open(plat::PathForSqlite(path).c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db,
                     "BEGIN IMMEDIATE; CREATE TABLE IF NOT EXISTS THOLD(x); "
                     "INSERT INTO THOLD VALUES(1);",
                     nullptr, nullptr, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot hold: %s\n", sqlite3_errmsg(db));
        sqlite3_close(db);
        return 1;
    }
    std::printf("holding\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    const WString folder = Arg(argv[2]);
    if (command == "setup" && argc == 4) {
        std::string expected;
        std::string error;
        if (!plat::MakeDirectory(folder) ||
            !reliability::MakeInstallation(folder, expected, error)) {
            std::fprintf(stderr, "setup failed: %s\n", error.c_str());
            return 1;
        }
        plat::File file;
        if (!file.Open(Arg(argv[3]), plat::File::Mode::kCreateTruncate) || !file.Write(expected)) {
            std::fprintf(stderr, "cannot write %s\n", argv[3]);
            return 1;
        }
        return 0;
    }
    if (command == "migrate" && argc == 3) {
        return reliability::RunMigration(folder) == 1 ? 0 : 3;
    }
    if (command == "check" &&
        (argc == 4 || (argc == 5 && std::strcmp(argv[4], "--nothing-lost") == 0))) {
        std::string expected;
        if (!plat::ReadWholeFile(Arg(argv[3]), expected)) {
            std::fprintf(stderr, "cannot read %s\n", argv[3]);
            return 1;
        }
        std::vector<std::string> problems;
        const bool ok = reliability::CheckInstallation(
            folder, expected,
            argc == 5 ? reliability::Strictness::kNothingLost : reliability::Strictness::kMigrated,
            problems);
        for (const std::string& problem : problems)
            std::printf("%s\n", problem.c_str());
        std::printf("kept files: %d\n", reliability::CountKeptFiles(folder));
        return ok ? 0 : 1;
    }
    if (command == "client-view" && argc == 4) {
        std::string expected;
        if (!plat::ReadWholeFile(Arg(argv[3]), expected)) {
            std::fprintf(stderr, "cannot read %s\n", argv[3]);
            return 1;
        }
        std::vector<std::string> problems;
        const bool ok = reliability::CheckClientView(folder, expected, problems);
        for (const std::string& problem : problems)
            std::printf("%s\n", problem.c_str());
        return ok ? 0 : 1;
    }
    if (command == "hold" && argc == 4) return Hold(folder, std::atoi(argv[3]));
    return Usage();
}
