// Operations on files that need nothing beyond the File class.
#include "platform/files.h"

#include "platform/files_backend.h"

namespace plat {

namespace {
// Each thread's own: a failure of the migration's worker is no failure of the dialog.
thread_local WString t_lastFailure;
}  // namespace

void backend::RecordFailure(const char* call, std::initializer_list<WStringView> paths,
                            WStringView reason) {
    WString text = wstr::FromAscii(call) + u"(";
    const char16_t* separator = u"";
    for (const WStringView path : paths) {
        text += separator + DisplayPath(path);
        separator = u", ";
    }
    t_lastFailure = text + u"): " + WString(reason);
}

WString LastFailure() { return t_lastFailure; }

void ClearLastFailure() { t_lastFailure.clear(); }

WString DisplayPath(WStringView path) {
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    const WString native = ToNativePath(path);
    if (!HasForeignBytes(native)) return native;
    WString shown;
    for (size_t i = 0; i < native.size(); ++i) {
        const char16_t c = native[i];
        // What is left of the kept bytes once the backslashes are given back.
        const bool kept = c >= 0xDC80 && c <= 0xDCFF &&
                          (i == 0 || native[i - 1] < 0xD800 || native[i - 1] > 0xDBFF);
        if (!kept) {
            shown.push_back(c);
            continue;
        }
        shown += u"\\x";
        shown.push_back(kDigits[(c >> 4) & 0xF]);
        shown.push_back(kDigits[c & 0xF]);
    }
    return shown;
}

namespace {

bool ReadAll(const WString& path, File::Mode mode, std::string& bytes) {
    bytes.clear();
    File file;
    if (!file.Open(path, mode)) return false;
    char buffer[65536];
    for (;;) {
        long long n = file.Read(buffer, sizeof buffer);
        if (n < 0) return false;
        if (n == 0) return true;
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace

bool ReadWholeFile(const WString& path, std::string& bytes) {
    return ReadAll(path, File::Mode::kRead, bytes);
}

bool ReadRegularFile(const WString& path, std::string& bytes) {
    return ReadAll(path, File::Mode::kReadRegular, bytes);
}

bool ReadOwnFile(const WString& path, std::string& bytes) {
    return ReadAll(path, File::Mode::kReadOwn, bytes);
}

std::string SqliteUri(WStringView path, const char* mode) {
    std::string native = PathForSqlite(path);
    // A URI path is written with forward slashes, and a Windows drive path after one more.
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    if (!native.empty() && native[0] != '/') native.insert(0, 1, '/');
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (unsigned char c : native) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == '-' || c == '_' || c == '.' ||
                           c == '~' || c == ':';
        if (plain) {
            uri.push_back(static_cast<char>(c));
        } else {
            uri.push_back('%');
            uri.push_back(kHex[c >> 4]);
            uri.push_back(kHex[c & 0xF]);
        }
    }
    return uri + "?mode=" + mode;
}

}  // namespace plat
