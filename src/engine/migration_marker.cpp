#include "engine/migration_marker.h"

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/paths.h"

namespace {

constexpr char kFirstLine[] = "quorvel migration marker, built beside";
constexpr char kOlderFirstLine[] = "quorvel migration marker";

// Replaces the marker with `text` as a whole: written beside it as "<marker>.new", made
// durable, then moved over it. Replaced in place, a marker cut off half way would lose what
// the old one said.
bool ReplaceDurably(plat::FileSystem& fs, const WString& path, const std::string& text) {
    const WString next = path + u".new";
    return fs.WriteDurably(next, text) && fs.MoveReplace(next, path) &&
           fs.SyncDirectory(plat::FolderOf(path));
}

}  // namespace

WString MarkerPath(const WString& dbPath) { return dbPath + u".migrating"; }

bool WriteMarker(plat::FileSystem& fs, const WString& dbPath, const WString& targetVersion,
                 bool hadFile) {
    const std::string text = std::string(kFirstLine) + "\ntarget=" + ToUtf8(targetVersion) +
                             "\nsource=" + (hadFile ? "file" : "none") + "\nend\n";
    return ReplaceDurably(fs, MarkerPath(dbPath), text);
}

std::string StampText(const plat::FileStamp& stamp) {
    return std::to_string(stamp.id.volume) + ":" + std::to_string(stamp.id.index) + ":" +
           std::to_string(stamp.size) + ":" + std::to_string(stamp.modified) + ":" +
           std::to_string(stamp.changed);
}

bool AppendMarkerBuilt(plat::FileSystem& fs, const WString& dbPath,
                       const std::vector<std::pair<WString, WString>>& carried,
                       const std::vector<std::pair<WString, std::string>>& stamps) {
    const WString path = MarkerPath(dbPath);
    std::string text;
    // Appending to a marker that is gone would make a new one that holds only this line.
    if (!fs.ReadFile(path, text)) return false;
    text += "built\n";
    for (const auto& [source, table] : carried)
        text += "carried=" + ToUtf8(source) + "\t" + ToUtf8(table) + "\n";
    for (const auto& [source, stamp] : stamps)
        text += "read=" + ToUtf8(source) + "\t" + stamp + "\n";
    return ReplaceDurably(fs, path, text);
}

bool ReadMarker(plat::FileSystem& fs, const WString& dbPath, MigrationMarker& marker) {
    marker = MigrationMarker();
    std::string bytes;
    const WString path = MarkerPath(dbPath);
    if (!fs.Exists(path)) return false;
    if (!fs.ReadFile(path, bytes)) return true;
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
    if (lines.size() < 4 || (lines[0] != kFirstLine && lines[0] != kOlderFirstLine) ||
        !valueOf(lines[1], "target=", target) || !valueOf(lines[2], "source=", source) ||
        (source != "file" && source != "none") || lines[3] != "end") {
        return true;
    }
    marker.bValid = true;
    marker.bBeside = lines[0] == kFirstLine;
    marker.strTargetVersion = FromUtf8(target);
    marker.bHadFile = source == "file";
    for (size_t i = 4; i < lines.size(); ++i) {
        std::string kept;
        if (lines[i] == "built") marker.bBuilt = true;
        std::string carried;
        const size_t tab = lines[i].find('\t');
        if (valueOf(lines[i], "carried=", carried) && tab != std::string::npos) {
            marker.carried.emplace_back(FromUtf8(carried.substr(0, carried.find('\t'))),
                                        FromUtf8(lines[i].substr(tab + 1)));
        }
        std::string read;
        if (valueOf(lines[i], "read=", read) && tab != std::string::npos) {
            marker.stamps.emplace_back(FromUtf8(read.substr(0, read.find('\t'))),
                                       lines[i].substr(tab + 1));
        }
        if (valueOf(lines[i], "kept=", kept)) marker.strKeptPath = FromUtf8(kept);
        if (lines[i] == "complete" || lines[i] == "complete unchecked") {
            marker.bComplete = true;
            marker.bUnchecked = lines[i] != "complete";
        }
    }
    return true;
}

bool RemoveMarker(plat::FileSystem& fs, const WString& dbPath) {
    const WString path = MarkerPath(dbPath);
    // A replacement cut off before its move.
    if (fs.Exists(path + u".new")) fs.Remove(path + u".new");
    if (!fs.Exists(path)) return true;
    if (!fs.Remove(path)) return false;
    fs.SyncDirectory(plat::FolderOf(path));
    return true;
}
