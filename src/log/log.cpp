#include "log/log.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/paths.h"

namespace {

// Process-wide state, set up when the program starts.
plat::File g_hLogFile;                      // the current log file; closed while none is current
plat::LocalTime g_dtLogDate = plat::Now();  // the date each line's date is compared with
WString g_strLogFolder;                     // folder of the daily file; see FolderOfDailyFile
WString g_strLogPath;                       // daily file last opened

// The daily file must never land in the root of a drive: it goes beside the last log
// that OpenLogFile opened, or, before any, beside the executable.
const WString& FolderOfDailyFile() {
    if (g_strLogFolder.empty()) g_strLogFolder = plat::FolderOf(plat::ExecutablePath());
    return g_strLogFolder;
}

bool OpenForAppending(const WString& path) {
    g_hLogFile.Close();
    // The log folder may be one that others can write, and the program may run elevated: a
    // folder replaced by a link would lead its lines into any folder the link names.
    if (plat::IsLink(plat::FolderOf(path))) return false;
    return g_hLogFile.Open(path, plat::File::Mode::kAppend);
}

std::string FormatLine(const plat::LocalTime& t, std::string_view message) {
    char header[96];
    std::snprintf(header, sizeof header, "%04d-%02d-%02d %02d:%02d:%02d  ThreadId:0X%08lu  ",
                  t.year, t.month, t.day, t.hour, t.minute, t.second, plat::CurrentThreadId());
    std::string line(header);
    line.append(message);
    line.append("\r\n");
    return line;
}

void WriteMessage(int nLevel, std::string_view message) {
    if (nLevel < 0) return;
    plat::File* file = GetLogFile();
    if (file == nullptr) return;
    if (message.empty()) return;
    file->Write(FormatLine(plat::Now(), message));
}

}  // namespace

void WriteLog(int /*nCategory*/, int nLevel, const WString& text) {
    if (nLevel < 0) return;
    std::optional<std::string> message = ToAnsi(text);
    WriteMessage(nLevel, message ? std::string_view(*message) : std::string_view());
}

void WriteLog(int /*nCategory*/, int nLevel, const char* text) {
    WriteMessage(nLevel, text == nullptr ? std::string_view() : std::string_view(text));
}

plat::File* GetLogFile() {
    plat::LocalTime now = plat::Now();
    if (!now.SameDate(g_dtLogDate)) {
        g_dtLogDate = now;
        g_hLogFile.Close();
        char name[32];
        std::snprintf(name, sizeof name, "\\%04d%02d%02d.log", g_dtLogDate.year, g_dtLogDate.month,
                      g_dtLogDate.day);
        g_strLogPath = FolderOfDailyFile() + wstr::FromAscii(name);
        OpenForAppending(g_strLogPath);
    }
    return g_hLogFile.IsOpen() ? &g_hLogFile : nullptr;
}

bool OpenLogFile(const WString& path) {
    if (!OpenForAppending(path)) return false;
    g_strLogFolder = plat::FolderOf(path);
    return true;
}

void CloseLogFile() { g_hLogFile.Close(); }

WString GetDailyLogPath() { return g_strLogPath; }

void ResetLogForTesting() {
    g_hLogFile.Close();
    g_dtLogDate = plat::Now();
    g_strLogFolder.clear();
    g_strLogPath.clear();
}
