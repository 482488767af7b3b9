// What a run does on finding an earlier run's marker, for every state a cut-off run can
// leave: the marker's lines and which of the files are there.
#include "engine/resume.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    const char* state;
    bool beside, built, complete, kept, hadFile;  // the marker
    bool file, tmp, fresh;                        // the path, ".tmp", ".new"
    ResumeAction action;
};

using A = ResumeAction;
constexpr bool o = false;
constexpr bool X = true;

// clang-format off
const Row kRows[] = {
    // state                                         bes  blt  cmp  kpt  had  file tmp  new
    {"cut off before its build began",                X,   o,   o,   o,   X,   X,   o,   o,  A::kStartOver},
    {"cut off in its build",                          X,   o,   o,   o,   X,   X,   o,   X,  A::kStartOver},
    {"a new database cut off in its build",           X,   o,   o,   o,   o,   o,   o,   X,  A::kStartOver},
    {"... and a client made a file meanwhile",        X,   o,   o,   o,   o,   X,   o,   X,  A::kStartOver},
    {"built; the swap not begun: built again",        X,   X,   o,   o,   X,   X,   o,   X,  A::kStartOver},
    {"built; cut off between the two moves",          X,   X,   o,   o,   X,   o,   X,   X,  A::kFinishSwap},
    {"... and a client made a file in that instant",  X,   X,   o,   o,   X,   X,   X,   X,  A::kFinishSwap},
    {"a built new database not yet in place",         X,   X,   o,   o,   o,   o,   o,   X,  A::kFinishSwap},
    {"swapped; only the clean-up left",               X,   X,   o,   o,   X,   X,   X,   o,  A::kCleanUp},
    {"swapped and old file removed",                  X,   X,   o,   o,   X,   X,   o,   o,  A::kCleanUp},
    {"built, but both files gone",                    X,   X,   o,   o,   X,   o,   X,   o,  A::kRestoreThenStartOver},
    {"built, and nothing at all left",                X,   X,   o,   o,   o,   o,   o,   o,  A::kStartOver},
    // Markers of the older design, which set the database aside first.
    {"older: set aside, nothing built yet",           o,   o,   o,   o,   X,   o,   X,   o,  A::kRestoreThenStartOver},
    {"older: set aside, half built at the path",      o,   o,   o,   o,   X,   X,   X,   o,  A::kRestoreThenStartOver},
    {"older: cut off before its set-aside",           o,   o,   o,   o,   X,   X,   o,   o,  A::kStartOver},
    {"older: a new database half built",              o,   o,   o,   o,   o,   X,   o,   o,  A::kPutAsideThenStartOver},
    {"older: complete",                               o,   o,   X,   o,   X,   X,   X,   o,  A::kCleanUp},
    {"older: complete, the path gone",                o,   o,   X,   o,   X,   o,   X,   o,  A::kRestoreThenStartOver},
    {"older: rows kept, version missing",             o,   o,   o,   X,   X,   X,   o,   o,  A::kWriteVersionThenCleanUp},
};
// clang-format on

TEST(ResumeDecisionTest, EveryStateACutOffRunLeaves) {
    for (const Row& row : kRows) {
        MigrationMarker marker;
        marker.bValid = true;
        marker.bBeside = row.beside;
        marker.bBuilt = row.built;
        marker.bComplete = row.complete;
        if (row.kept) marker.strKeptPath = u"DB.s3db.20261208103000.bak";
        marker.bHadFile = row.hadFile;
        EXPECT_EQ(DecideResume(marker, ResumeFiles{row.file, row.tmp, row.fresh}), row.action)
            << row.state;
    }
    // Cut off after the old file got its second name, before the new one took the path:
    // the file at the path is the database, whatever else is there.
    for (const Row& row : kRows) {
        MigrationMarker marker;
        marker.bValid = true;
        marker.bBeside = row.beside;
        marker.bBuilt = row.built;
        EXPECT_EQ(DecideResume(marker, ResumeFiles{true, true, row.fresh, true}),
                  A::kDropSecondNameThenStartOver)
            << row.state;
    }
    // A marker that could not be read whole says nothing but that a run was here.
    EXPECT_EQ(DecideResume(MigrationMarker(), ResumeFiles{true, false, true}), A::kStartOver);
    EXPECT_EQ(DecideResume(MigrationMarker(), ResumeFiles{true, true, false}),
              A::kRestoreThenStartOver);
}

}  // namespace
