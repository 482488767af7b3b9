#include "platform/paths.h"

namespace plat {

WString FolderOf(WStringView path) {
    const size_t cut = path.rfind(u'\\');
    return cut == WStringView::npos ? WString() : WString(path.substr(0, cut));
}

WString NameOf(WStringView path) {
    const size_t cut = path.rfind(u'\\');
    return WString(cut == WStringView::npos ? path : path.substr(cut + 1));
}

}  // namespace plat
