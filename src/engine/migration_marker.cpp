#include "engine/migration_marker.h"

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"

namespace {

constexpr char kFirstLine[] = "quorvel migration marker";

// Replaces the marker with `text` as a whole: written beside it as "<marker>.new", made
// durable, then moved over it. Replaced in place, a marker cut off half way would lose what
// the old one said (that the file at the path is a half-built one, say).
bool ReplaceDurably(const WString& path, const std::string& text) {
    const WString next = path + u".new";
    {
        plat::File file;
        if (!file.Open(next, plat::File::Mode::kCreateTruncate) || !file.Write(text) ||
            !file.Sync()) {
            return false;
        }
    }
    return plat::MoveReplace(next, path) && plat::SyncDirectory(FolderOf(path));
}

bool AppendLine(const WString& dbPath, const std::string& line) {
    const WString path = MarkerPath(dbPath);
    std::string text;
    // Appending to a marker that is gone would make a new one that holds only this line.
    if (!plat::ReadWholeFile(path, text)) return false;
    return ReplaceDurably(path, text + line + "\n");
}

}  // namespace

WString MarkerPath(const WString& dbPath) { return dbPath + u".migrating"; }

WString FolderOf(const WString& path) {
    size_t cut = path.rfind(u'\\');
    return cut == WString::npos ? path : path.substr(0, cut);
}

bool WriteMarker(const WString& dbPath, const WString& targetVersion, bool hadFile) {
    const std::string text = std::string(kFirstLine) + "\ntarget=" + ToUtf8(targetVersion) +
                             "\nsource=" + (hadFile ? "file" : "none") + "\nend\n";
    return ReplaceDurably(MarkerPath(dbPath), text);
}

bool AppendMarkerKept(const WString& dbPath, const WString& keptPath) {
    return AppendLine(dbPath, "kept=" + ToUtf8(keptPath));
}

bool AppendMarkerComplete(const WString& dbPath, bool checked) {
    return AppendLine(dbPath, checked ? "complete" : "complete unchecked");
}

bool ReadMarker(const WString& dbPath, MigrationMarker& marker) {
    marker = MigrationMarker();
    std::string bytes;
    const WString path = MarkerPath(dbPath);
    if (!plat::PathExists(path)) return false;
    if (!plat::ReadWholeFile(path, bytes)) return true;
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = bytes.find('\n', start)) != std::string::npos;
         start = end + 1) {
        lines.push_back(bytes.substr(start, end - start));
    }
    auto valueOf = [](const std::string& line, const std::string& key, std::string& value) {
        if (line.compare(0, key.size(), key) != 0) return false;
        value = line.substr(key.size());
        return true;
    };
    std::string target;
    std::string source;
    if (lines.size() < 4 || lines[0] != kFirstLine || !valueOf(lines[1], "target=", target) ||
        !valueOf(lines[2], "source=", source) || (source != "file" && source != "none") ||
        lines[3] != "end") {
        return true;
    }
    marker.bValid = true;
    marker.strTargetVersion = FromUtf8(target);
    marker.bHadFile = source == "file";
    for (size_t i = 4; i < lines.size(); ++i) {
        std::string kept;
        if (valueOf(lines[i], "kept=", kept)) marker.strKeptPath = FromUtf8(kept);
        if (lines[i] == "complete" || lines[i] == "complete unchecked") {
            marker.bComplete = true;
            marker.bUnchecked = lines[i] != "complete";
        }
    }
    return true;
}

bool RemoveMarker(const WString& dbPath) {
    const WString path = MarkerPath(dbPath);
    // A replacement cut off before its move.
    if (plat::PathExists(path + u".new")) plat::RemoveFile(path + u".new");
    if (!plat::PathExists(path)) return true;
    if (!plat::RemoveFile(path)) return false;
    plat::SyncDirectory(FolderOf(path));
    return true;
}
