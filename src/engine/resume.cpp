#include "engine/resume.h"

ResumeAction DecideResume(const MigrationMarker& marker, const ResumeFiles& files) {
    // Whatever the marker says: dropping a second name of the file at the path loses nothing.
    if (files.bFileIsTmp) return ResumeAction::kDropSecondNameThenStartOver;
    if (marker.bValid && marker.bBuilt) {
        // The new file is moved to the path last, so while it exists the swap is unfinished.
        if (files.bNew) {
            // With the old file still at the path the swap never began, and that file may
            // have been written since: a new build reads it again.
            if (files.bFile && !files.bTmp) return ResumeAction::kStartOver;
            return ResumeAction::kFinishSwap;
        }
        if (files.bFile) return ResumeAction::kCleanUp;
        // Neither file at the path: whatever happened, the old one is the database.
        return files.bTmp ? ResumeAction::kRestoreThenStartOver : ResumeAction::kStartOver;
    }
    if (marker.bValid && marker.bComplete && files.bFile) return ResumeAction::kCleanUp;
    if (marker.bValid && !marker.strKeptPath.empty() && files.bFile) {
        return ResumeAction::kWriteVersionThenCleanUp;
    }
    // An unfinished build. A ".tmp" can only be an older run's set-aside database, and so
    // can a file at the path be only its half-built one when there was no database; to a
    // run that builds beside the database, such a file is one a client made meanwhile.
    if (files.bTmp) return ResumeAction::kRestoreThenStartOver;
    if (files.bFile && marker.bValid && !marker.bBeside && !marker.bHadFile) {
        return ResumeAction::kPutAsideThenStartOver;
    }
    return ResumeAction::kStartOver;
}
