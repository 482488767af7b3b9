#include "engine/update_record.h"

#include <optional>
#include <string>

#include "platform/codepage.h"

namespace engine {

void WriteUpdateRecord(plat::FileSystem& fs, const WString& folder, const WString& time) {
    const WString configure = folder + u"\\configure";
    // One level only; when it cannot be made, the write below fails.
    if (!fs.IsDirectory(configure)) fs.MakeDirectory(configure);
    const WString path = configure + u"\\update.xml";
    // Only one run at a time writes here (the run lock): what exists now was not made by
    // a run racing this one.
    if (fs.Exists(path)) return;
    if (time.empty()) return;
    std::optional<std::string> value = ToAnsi(time);
    if (!value) return;

    // The declaration says GB2312 whatever the code page is; readers rely on this text.
    std::string content =
        "<?xml version=\"1.0\" encoding=\"GB2312\" ?> \r\n"
        "<updateload>\r\n"
        "\t<LastUpdateTime>";
    content += *value;
    content +=
        "\r\n</LastUpdateTime>\r\n"
        "</updateload>\r\n";

    // A cut record would block every later attempt: leave none instead.
    if (!fs.WriteDurably(path, content)) fs.Remove(path);
}

}  // namespace engine
