#include "engine/update_record.h"

#include <optional>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"

namespace engine {

void WriteUpdateRecord(const WString& folder, const WString& time) {
    const WString configure = folder + u"\\configure";
    // One level only; when it cannot be made, the open below fails.
    if (!plat::IsDirectory(configure)) plat::MakeDirectory(configure);
    const WString path = configure + u"\\update.xml";
    if (plat::PathExists(path)) return;
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

    plat::File file;
    // kCreateNew: a record that appeared since the check above is still never rewritten.
    if (!file.Open(path, plat::File::Mode::kCreateNew)) return;
    bool written = file.Write(content) && file.Sync();
    file.Close();
    // A cut record would block every later attempt: leave none instead.
    if (!written) plat::RemoveFile(path);
}

}  // namespace engine
