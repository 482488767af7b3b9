#include "engine/update_record.h"

#include <optional>
#include <string>

#include "platform/codepage.h"

namespace engine {

WString WriteUpdateRecord(plat::FileSystem& fs, const WString& folder, const WString& time) {
    const WString configure = folder + u"\\configure";
    // The data folder may be one that others can write, and the program may run elevated:
    // a "configure" replaced by a link would lead the record into any folder it names.
    if (fs.IsLink(configure)) return configure + u" 是链接, 不经由它写入";
    // One level only; when it cannot be made, the write below fails.
    if (!fs.IsDirectory(configure)) fs.MakeDirectory(configure);
    const WString path = configure + u"\\update.xml";
    // Only one run at a time writes here (the run lock): what exists now was not made by
    // a run racing this one.
    if (fs.Exists(path)) return WString();
    if (time.empty()) return WString();
    std::optional<std::string> value = ToAnsi(time);
    if (!value) return WString();

    // The declaration says GB2312 whatever the code page is; readers rely on this text.
    std::string content =
        "<?xml version=\"1.0\" encoding=\"GB2312\" ?> \r\n"
        "<updateload>\r\n"
        "\t<LastUpdateTime>";
    content += *value;
    content +=
        "\r\n</LastUpdateTime>\r\n"
        "</updateload>\r\n";

    plat::ClearLastFailure();
    if (fs.WriteDurably(path, content)) return WString();
    WString why = plat::LastFailure();
    if (why.empty()) why = path;
    // A cut record would block every later attempt: leave none instead.
    fs.Remove(path);
    plat::ClearLastFailure();
    return why;
}

}  // namespace engine
