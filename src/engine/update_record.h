// The update record "configure\update.xml" in the data folder: the script's update time,
// written once and never rewritten.
#pragma once

#include "platform/file_system.h"
#include "platform/wstr.h"

namespace engine {

// Writes folder + "\configure\update.xml" holding `time` (in the ANSI code page, unescaped),
// creating the "configure" folder when it is missing. Does nothing when the record (or
// anything of that name) exists already or `time` is empty. A record that cannot be written
// is simply absent (a failed write removes the partial file, so that a later run can write
// it whole), and never written through a "configure" that is a link. Returns why a record
// was not written (the system's reason, or the link); empty when written or not due.
WString WriteUpdateRecord(plat::FileSystem& fs, const WString& folder, const WString& time);

}  // namespace engine
